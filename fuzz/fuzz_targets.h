// Fuzz targets: one entry point per reader of outside input, each taking the
// bytes of one file. The libFuzzer programs (built with clang, see
// fuzz/CMakeLists.txt) call them with generated inputs; the regression test
// of the normal test run replays every file kept under fuzz/<target>/ through
// the same functions, so what fuzzing once found stays found.
//
// A target returns normally for any input, refused or not. It aborts only
// when a property every input must keep is broken (a written viewpoint that
// does not read back, a light pick outside the list), so the fuzzer reports
// it like a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lumeno::fuzz {

using FuzzFunction = void (*)(const std::uint8_t* data, std::size_t size);

struct FuzzTarget {
    const char* name;  // also the folder of its corpus: fuzz/<name>/
    FuzzFunction run;
};

// Every target, in a fixed order.
const std::vector<FuzzTarget>& FuzzTargets();

// The target of that name, or null.
FuzzFunction FindFuzzTarget(const std::string& name);

}  // namespace lumeno::fuzz
