// EmbreeScene: the hittable triangles in an Embree 3 bounding volume
// hierarchy, answering the parallel mode's two ray queries (nearest hit and
// occlusion) with the octree's visible semantics:
// - only hits inside the octree's fixed root box count, for occlusion too:
//   each ray's interval is clipped to the box, and a hit point the octree
//   would not find in any leaf box is refused;
// - a hit at distance 0 (a ray starting on a triangle) ends nothing: the
//   search goes on to the next triangle along the ray;
// - occlusion is tested up to the target's distance less 0.001, and a target
//   nearer than that is blocked by any hit at all;
// - the hit Embree reports is judged again by the project's own triangle
//   test, which decides whether it counts (so triangles met almost edge-on
//   stay missed) and gives the distance, point, normal, texture coordinates,
//   bump, side and material, bit for bit as the octree would; of triangles
//   with the same corners the nearer by that test wins, the later on a tie.
// Rays whose answers can still differ from the octree's are those through a
// triangle's very edge (where the two tests round differently), those the
// octree itself loses in a split plane, those meeting two different
// triangles that overlap in one plane (an object's base on a floor: each
// index picks one by its own rounding), and two the octree answers by its
// leaves: it lets a hit just outside the box block a segment, and drops the
// other triangles of the leaf where a ray starts on a triangle.
//
// Built once per scene load by the render session's preparation; the queries
// are const, allocate nothing and may run on any number of threads at once.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "scene/diagnostics.h"
#include "scene/triangle.h"
#include "spatial/ray.h"
#include "spatial/triangle_intersection.h"

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
    // When *cancel becomes true the build is called off soon after: false,
    // nothing built, no diagnostic.
    bool Build(const std::vector<Triangle*>& triangles, Diagnostics* diagnostics = nullptr,
               const std::atomic<bool>* cancel = nullptr);

    // Empties the scene; the device is kept for the next build.
    void Clear();

    // Whether the last Build succeeded (and no Clear came since).
    bool Built() const { return scene_ != nullptr; }
    std::size_t TriangleCount() const { return primitives_.size(); }

    // The first triangle the ray meets inside the root box (distance, point,
    // normal, frame, texture coordinates, material, side) goes into hit.
    bool FindNearestHit(const Ray& ray, HitRecord& hit) const;
    // Whether a triangle lies on the segment from ray.origin towards target
    // (shortened by 0.001) inside the root box; ray.direction must point at
    // target. On true, hit describes a blocking hit; on false hit.distance is
    // the tested length.
    bool IsOccluded(Vec3 target, const Ray& ray, HitRecord& hit) const;

    // What the project's triangle test and the hit record need of Embree's
    // primitive i: the corner and edges (as EdgesOf makes them) and the
    // triangle, side by side so that a hit costs one read here. Triangles
    // with the same three corners (a surface given twice, say with a
    // material for each side) are linked in a ring through mate, since
    // Embree reports only one of them and the octree's rule picks among
    // them (the nearer by the project's distance, the later on a tie).
    struct Primitive {
        TriangleEdges edges;
        std::uint32_t mate;  // the next triangle of the ring, or itself
        const Triangle* triangle;
    };

  private:
    RTCDeviceTy* device_ = nullptr;
    RTCSceneTy* scene_ = nullptr;
    std::vector<Primitive> primitives_;
};

}  // namespace lumeno
