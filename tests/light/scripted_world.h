// A stand-in for the octree in shading tests that answers every ray query
// with the next answer of a script, whatever the ray: a hit record, or a miss.
// It reaches what a few planes cannot, such as a continuation ray that hits
// while the shadow ray is clear, or a surface that ends under a probe point,
// so that a test can follow one shading point's arithmetic step by step. An
// occlusion query also takes the next answer; a hit means blocked.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <optional>

#include "light/integrator.h"
#include "scene/material.h"

namespace lumeno::testing {

class ScriptedWorld : public RayQueries {
  public:
    std::deque<std::optional<HitRecord>> answers;

    bool FindNearestHit(const Ray& ray, HitRecord& hit) override {
        hit = HitRecord{};
        if (answers.empty()) {
            ADD_FAILURE() << "a ray query the script does not answer";
            return false;
        }
        std::optional<HitRecord> answer = answers.front();
        answers.pop_front();
        if (answer) {
            hit = *answer;
        }
        hit.ray = ray;
        return answer.has_value();
    }

    bool IsOccluded(Vec3 /*target*/, const Ray& ray, HitRecord& hit) override {
        return FindNearestHit(ray, hit);
    }
};

inline constexpr std::nullopt_t kMiss = std::nullopt;

// A hit on material at the given distance with the given shading normal, at
// the origin, in a fixed face frame, at texture coordinates (0, 0).
inline std::optional<HitRecord> HitOn(const Material& material, Vec3 normal,
                                      float distance = 1.0f) {
    HitRecord hit;
    hit.distance = distance;
    hit.normal = normal;
    hit.tangent = {0.0f, 0.0f, 1.0f};
    hit.bitangent = {-1.0f, 0.0f, 0.0f};
    hit.material = &material;
    return hit;
}

// A probe holding one light (so every pick takes it, with weight 1) and an
// environment of the given radiance in every direction.
inline LightProbe OneLightProbe(Vec3 direction, Vec3 colour, Vec3 environment = {}) {
    LightProbe probe;
    probe.lights = {{direction, colour, 1.0f}};
    probe.selectionTable.assign(LightProbe::kTableSize, 0);
    probe.tableSize = LightProbe::kTableSize;
    probe.width = 8;
    probe.height = 8;
    FloatPlane* planes[] = {&probe.red, &probe.green, &probe.blue};
    for (int c = 0; c < 3; ++c) {
        planes[c]->Create(8, 8);
        planes[c]->Fill(environment[c] * 255.0f);
    }
    return probe;
}

}  // namespace lumeno::testing
