// Rays the query benchmarks share: 65536 random rays with origins anywhere
// in the octree's root box and directions uniform over the sphere, the same
// ones every run (fixed seed), so that the benchmarks' figures compare.
#pragma once

#include <random>
#include <vector>

#include "spatial/ray.h"

namespace lumeno::bench {

inline std::vector<Ray> IncoherentRays() {
    std::mt19937 rng(12345);
    std::uniform_real_distribution<float> x(-100.0f, 100.0f);
    std::uniform_real_distribution<float> z(-40.0f, 220.0f);
    std::normal_distribution<float> g;
    std::vector<Ray> rays;
    for (int i = 0; i < 65536; ++i) {
        Vec3 o{x(rng), x(rng), z(rng)};
        rays.push_back({o, Normalize(Vec3{g(rng), g(rng), g(rng)})});
    }
    return rays;
}

}  // namespace lumeno::bench
