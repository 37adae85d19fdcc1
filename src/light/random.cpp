#include "light/random.h"

namespace lumeno {
namespace {

std::uint64_t SplitMix64(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

}  // namespace

Random Random::FromSeed(std::uint64_t seed) {
    std::uint64_t state = seed;
    std::uint64_t a = SplitMix64(state);
    std::uint64_t b = SplitMix64(state);
    Random random;
    random.x = static_cast<std::uint32_t>(a);
    random.y = static_cast<std::uint32_t>(a >> 32);
    random.z = static_cast<std::uint32_t>(b);
    random.w = static_cast<std::uint32_t>(b >> 32);
    if ((random.x | random.y | random.z | random.w) == 0) {
        random.w = kInitialW;  // the all-zero state would stay zero forever
    }
    return random;
}

}  // namespace lumeno
