// Ray and HitRecord: what the light transport asks the geometry, and the
// surface description a ray query answers with.
#pragma once

#include "scene/triangle.h"
#include "scene/vec3.h"

namespace lumeno {

struct Material;

// An origin and a unit direction; hit distances are ray parameters.
struct Ray {
    Vec3 origin;
    Vec3 direction;
};

inline constexpr float kNoHitDistance = 10000000.0f;

struct HitRecord {
    float distance = kNoHitDistance;
    Vec3 point;
    // Shading normal turned towards the incoming ray; not renormalised, so
    // shorter than 1 between corners with differing vertex normals.
    Vec3 normal;
    Vec3 tangent;
    Vec3 bitangent;
    float texU = 0.0f;
    float texV = 0.0f;
    const Material* material = nullptr;
    // Working state of the leaf test, carried from leaf to leaf.
    const Triangle* candidate = nullptr;
    // −1 when the ray travels along the triangle's faceNormal, +1 against it.
    float side = 1.0f;
    Ray ray;
    int queryNumber = 0;
    // −1 selects the nearest-hit test; the segment length the blocking test.
    float maxDistance = -1.0f;
};

}  // namespace lumeno
