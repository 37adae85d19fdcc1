// Random: Marsaglia's xorshift128 generator, four 32-bit state words. All
// randomness of the renderer comes from generators of this kind: the exact
// rendering mode advances one instance, started from the published state, in
// a fixed order for the program's whole life; the parallel mode gives every
// camera sample an instance of its own.
#pragma once

#include <cstdint>

namespace lumeno {

class Random {
  public:
    // The published initial state.
    static constexpr std::uint32_t kInitialX = 123456789u;
    static constexpr std::uint32_t kInitialY = 362436069u;
    static constexpr std::uint32_t kInitialZ = 521288629u;
    static constexpr std::uint32_t kInitialW = 88675123u;

    Random() = default;

    // A generator whose state is derived from a 64-bit seed (splitmix64), for
    // the parallel mode's per-sample generators. Never the all-zero state.
    static Random FromSeed(std::uint64_t seed);

    // Advances the state by one step and returns the new w.
    std::uint32_t RandomNext() {
        std::uint32_t t = x ^ (x << 11);
        x = y;
        y = z;
        z = w;
        w = w ^ (w >> 19) ^ t ^ (t >> 8);
        return w;
    }

    // One step mapped to [0, 1 − 2^−32]: w × 2^−32, exact in double precision.
    double RandomUniform() { return static_cast<double>(RandomNext()) * 2.3283064365386963e-10; }

    // RandomUniform stored as a float, as the sampling code keeps its draws.
    // Rounding makes draws of 1 − 2^−25 or more exactly 1.0f, which every
    // user handles (a zero radius or distance, a direction along the normal).
    float RandomUniformFloat() { return static_cast<float>(RandomUniform()); }

    std::uint32_t x = kInitialX;
    std::uint32_t y = kInitialY;
    std::uint32_t z = kInitialZ;
    std::uint32_t w = kInitialW;
};

}  // namespace lumeno
