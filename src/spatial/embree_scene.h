// EmbreeScene: the hittable triangles in an Embree 3 bounding volume
// hierarchy, answering the parallel mode's two ray queries (nearest hit and
// occlusion) with the octree's visible semantics:
// - only hits inside the octree's fixed root box count: each ray's interval
//   is clipped to the box, and a hit point the octree would not find in any
//   leaf box is refused;
// - a hit at distance 0 (a ray starting on a triangle) ends nothing;
// - occlusion is tested up to the target's distance less 0.001, and a target
//   nearer than that is blocked by any hit at all;
// - every hit Embree proposes is tested again with the project's own
//   triangle test, which decides whether it counts (so triangles met almost
//   edge-on stay missed) and gives the distance, point, normal, texture
//   coordinates, bump, side and material, bit for bit as the octree would.
// Rays whose answers can still differ from the octree's are those through a
// triangle's very edge (where the two tests round differently) and those the
// octree itself loses in a split plane.
//
// Built once per scene load by the render session's preparation; the queries
// are const, allocate nothing and may run on any number of threads at once.
#pragma once

#include <cstddef>
#include <vector>

#include "scene/diagnostics.h"
#include "scene/triangle.h"
#include "spatial/ray.h"

// Embree's handles, kept out of this header so that its users need not see
// Embree's.
struct RTCDeviceTy;
struct RTCSceneTy;

namespace lumeno {

class EmbreeScene {
  public:
    EmbreeScene() = default;
    ~EmbreeScene();
    EmbreeScene(const EmbreeScene&) = delete;
    EmbreeScene& operator=(const EmbreeScene&) = delete;

    // Discards the previous scene and builds one over triangles, which must
    // outlive it (or the next Build or Clear). Returns false when Embree
    // cannot build it (no device, memory): the scene is then empty, every
    // query misses, and a diagnostic says why.
    bool Build(const std::vector<Triangle*>& triangles, Diagnostics* diagnostics = nullptr);

    // Empties the scene; the device is kept for the next build.
    void Clear();

    // Whether the last Build succeeded (and no Clear came since).
    bool Built() const { return scene_ != nullptr; }
    std::size_t TriangleCount() const { return triangles_.size(); }

    // The first triangle the ray meets inside the root box (distance, point,
    // normal, frame, texture coordinates, material, side) goes into hit.
    bool FindNearestHit(const Ray& ray, HitRecord& hit) const;
    // Whether a triangle lies on the segment from ray.origin towards target
    // (shortened by 0.001) inside the root box; ray.direction must point at
    // target. On true, hit describes a blocking hit; on false hit.distance is
    // the tested length.
    bool IsOccluded(Vec3 target, const Ray& ray, HitRecord& hit) const;

  private:
    RTCDeviceTy* device_ = nullptr;
    RTCSceneTy* scene_ = nullptr;
    // Embree's primitive i is triangles_[i], with corners vertices_[3i …
    // 3i + 2] (shared with Embree, so one padding float follows the last).
    std::vector<const Triangle*> triangles_;
    std::vector<float> vertices_;
};

}  // namespace lumeno
