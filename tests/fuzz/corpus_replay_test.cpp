// Replays every file kept under fuzz/<target>/ (the seed corpus and the
// inputs that once crashed a reader) through its target. In the sanitizer
// build this catches a reader fault coming back; each target must also keep
// a corpus, or fuzzing it would start from nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_targets.h"

namespace lumeno::fuzz {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> KeptInputs(const std::string& target, const char* kind) {
    std::vector<fs::path> files;
    fs::path folder = fs::path(LUMENO_FUZZ_DIR) / target / kind;
    if (fs::is_directory(folder)) {
        for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
            if (entry.is_regular_file() && entry.path().filename() != "README") {
                files.push_back(entry.path());
            }
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

class CorpusReplay : public ::testing::TestWithParam<FuzzTarget> {};

TEST_P(CorpusReplay, EveryKeptInputRunsThroughItsTarget) {
    const FuzzTarget& target = GetParam();
    std::vector<fs::path> corpus = KeptInputs(target.name, "corpus");
    EXPECT_FALSE(corpus.empty()) << "fuzz/" << target.name << "/corpus holds no seeds";
    std::vector<fs::path> crashes = KeptInputs(target.name, "crashes");
    corpus.insert(corpus.end(), crashes.begin(), crashes.end());
    for (const fs::path& file : corpus) {
        SCOPED_TRACE(file.string());
        std::ifstream in(file, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        target.run(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
}

INSTANTIATE_TEST_SUITE_P(Fuzz, CorpusReplay, ::testing::ValuesIn(FuzzTargets()),
                         [](const ::testing::TestParamInfo<FuzzTarget>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace lumeno::fuzz
