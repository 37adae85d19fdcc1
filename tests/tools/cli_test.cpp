// The lumeno-probe program as a user runs it: help, exit status, the files it
// writes, and what it leaves behind when it fails (nothing).
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "probe_test_support.h"
#include "test_support.h"

namespace lumeno::probe {
namespace {

using lumeno::testing::EquirectOf;
using lumeno::testing::PfmBytes;
using lumeno::testing::ReadFile;
using lumeno::testing::TempDir;

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

// path in single quotes, for the shell.
std::string Quote(const std::string& path) {
    std::string quoted(1, '\'');
    quoted.append(path);
    quoted.push_back('\'');
    return quoted;
}

ProgramRun RunProbe(const TempDir& dir, const std::string& arguments) {
    std::string command = Quote(LUMENO_PROBE_PROGRAM);
    command.append(" ").append(arguments);
    command.append(" >").append(Quote(dir.Path("stdout")));
    command.append(" 2>").append(Quote(dir.Path("stderr")));
    int raw = std::system(command.c_str());
    ProgramRun run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = ReadFile(dir.Path("stdout"));
    run.err = ReadFile(dir.Path("stderr"));
    return run;
}

std::vector<std::string> Listing(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ProbeProgram, HelpDescribesTheCommandLine) {
    TempDir dir;
    ProgramRun run = RunProbe(dir, "--help");
    EXPECT_EQ(run.status, 0);
    for (const char* word : {"INPUT", "--sky", "--output", "--size", "--lights", "--exposure"}) {
        EXPECT_NE(run.out.find(word), std::string::npos) << word;
    }
}

TEST(ProbeProgram, WritesTheMapAndTheLightListFromTheSky) {
    TempDir dir;
    ProgramRun run =
        RunProbe(dir, "--sky -o " + Quote(dir.Path("out/ibl")) + " --size 64 --lights 8");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("8 lights"), std::string::npos) << run.out;
    std::string image = ReadFile(dir.Path("out/ibl/grace_probe.pfm"));
    EXPECT_EQ(image.substr(0, 17), "PF\n64\n64\n-1.00000");
    EXPECT_EQ(image.size(), std::string("PF\n64\n64\n-1.000000\n").size() + 64 * 64 * 12);
    std::istringstream lights(ReadFile(dir.Path("out/ibl/grace.txt")));
    int count = 0;
    lights >> count;
    EXPECT_EQ(count, 8);
    EXPECT_EQ(Listing(dir.Path("out/ibl")),
              (std::vector<std::string>{"grace.txt", "grace_probe.pfm"}));
}

TEST(ProbeProgram, ReadsAnEquirectangularImage) {
    TempDir dir;
    std::string input = dir.Write("env.pfm", PfmBytes(EquirectOf(64, [](Direction d, float* o) {
                                      o[0] = o[1] = o[2] = d.y < 0.0 ? 2.0f : 0.5f;
                                  })));
    ProgramRun run = RunProbe(dir, Quote(input) + " -o " + Quote(dir.Path("ibl")) + " --size 32");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("mean luminance 3"), std::string::npos) << run.out;
}

TEST(ProbeProgram, FailsCleanlyAndLeavesTheOutputAsItWas) {
    TempDir dir;
    // A probe from an earlier run, which a failed run must not disturb.
    std::string out = dir.Path("ibl");
    ASSERT_EQ(RunProbe(dir, "--sky -o " + Quote(out) + " --size 32 --lights 4").status, 0);
    std::string image = ReadFile(out + "/grace_probe.pfm");
    std::string lights = ReadFile(out + "/grace.txt");

    std::string goodBytes =
        PfmBytes(EquirectOf(64, [](Direction, float* o) { o[0] = o[1] = o[2] = 1; }));
    std::string good = dir.Write("good.pfm", goodBytes);
    std::string truncated = dir.Write("truncated.pfm", goodBytes.substr(0, goodBytes.size() / 2));
    std::string black =
        dir.Write("black.pfm", PfmBytes(EquirectOf(64, [](Direction, float* o) { o[0] = 0; })));
    lumeno::probe::HdrImage odd;
    odd.Resize(30, 20);
    std::string oddShape = dir.Write("odd.pfm", PfmBytes(odd));
    std::string garbage = dir.Write("garbage.exr", "not an OpenEXR file");
    struct Case {
        std::string arguments;
        const char* message;
    };
    const Case cases[] = {
        {Quote(truncated) + " -o " + Quote(out), "shorter than its header"},
        {Quote(black) + " -o " + Quote(out), "black"},
        {Quote(oddShape) + " -o " + Quote(out), "cannot tell the layout"},
        {Quote(garbage) + " -o " + Quote(out), "OpenEXR"},
        {Quote(dir.Path("missing.hdr")) + " -o " + Quote(out), "cannot open"},
        {Quote(truncated) + " --sky -o " + Quote(out), "excludes"},
        {"-o " + Quote(out), "--sky"},
        {"--sky", "--output"},
        {"--sky -o " + Quote(out) + " --size 8", "--size"},
        {"--sky -o " + Quote(out) + " --lights 0", "--lights"},
        {"--sky -o " + Quote(out) + " --exposure -1", "--exposure"},
        // Every pixel in range, but the lights' colours add up past the
        // float range: the renderer would have no lights.
        {Quote(good) + " -o " + Quote(out) + " --exposure 1e38", "overflow"},
        // The output directory cannot be made where a file stands.
        {"--sky -o " + Quote(truncated + "/ibl"), "cannot create"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        ProgramRun run = RunProbe(dir, c.arguments);
        EXPECT_NE(run.status, 0);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(Listing(out), (std::vector<std::string>{"grace.txt", "grace_probe.pfm"}));
        EXPECT_EQ(ReadFile(out + "/grace_probe.pfm"), image);
        EXPECT_EQ(ReadFile(out + "/grace.txt"), lights);
    }
}

}  // namespace
}  // namespace lumeno::probe
