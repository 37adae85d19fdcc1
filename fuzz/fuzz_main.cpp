// One libFuzzer program per target: LUMENO_FUZZ_TARGET names which.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const lumeno::fuzz::FuzzFunction run = [] {
        lumeno::fuzz::FuzzFunction found = lumeno::fuzz::FindFuzzTarget(LUMENO_FUZZ_TARGET);
        if (found == nullptr) {
            std::fprintf(stderr, "no fuzz target named %s\n", LUMENO_FUZZ_TARGET);
            std::abort();
        }
        return found;
    }();
    run(data, size);
    return 0;
}
