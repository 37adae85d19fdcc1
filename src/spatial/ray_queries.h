// RayQueries: the two questions a path asks of the geometry, nearest hit and
// occlusion, behind one seam so that the light transport does not care which
// index answers. Three adapters:
// - OctreeExactQueries numbers every query and stamps the triangles it meets
//   (single-threaded, the exact mode's arithmetic);
// - EmbreeQueries asks an Embree scene: the parallel mode's queries, with the
//   octree's semantics and hit records (see embree_scene.h);
// - OctreeParallelQueries leaves the tree untouched: the parallel mode's
//   queries when no Embree scene could be built.
// The last two are read-only, so each thread of the parallel mode holds its
// own adapter over one shared index.
#pragma once

#include "spatial/embree_scene.h"
#include "spatial/octree.h"
#include "spatial/ray.h"

namespace lumeno {

class RayQueries {
  public:
    virtual ~RayQueries() = default;
    // The nearest hit along ray; false (and hit.distance 10,000,000) for none.
    virtual bool FindNearestHit(const Ray& ray, HitRecord& hit) = 0;
    // Whether a triangle blocks the segment from ray.origin toward target.
    virtual bool IsOccluded(Vec3 target, const Ray& ray, HitRecord& hit) = 0;
};

class OctreeExactQueries final : public RayQueries {
  public:
    explicit OctreeExactQueries(Octree& octree) : octree_(octree) {}
    bool FindNearestHit(const Ray& ray, HitRecord& hit) override {
        return octree_.FindNearestHit(ray, hit);
    }
    bool IsOccluded(Vec3 target, const Ray& ray, HitRecord& hit) override {
        return octree_.IsOccluded(target, ray, hit);
    }

  private:
    Octree& octree_;
};

class EmbreeQueries final : public RayQueries {
  public:
    explicit EmbreeQueries(const EmbreeScene& scene) : scene_(scene) {}
    bool FindNearestHit(const Ray& ray, HitRecord& hit) override {
        return scene_.FindNearestHit(ray, hit);
    }
    bool IsOccluded(Vec3 target, const Ray& ray, HitRecord& hit) override {
        return scene_.IsOccluded(target, ray, hit);
    }

  private:
    const EmbreeScene& scene_;
};

class OctreeParallelQueries final : public RayQueries {
  public:
    explicit OctreeParallelQueries(const Octree& octree) : octree_(octree) {}
    bool FindNearestHit(const Ray& ray, HitRecord& hit) override {
        return octree_.FindNearestHitParallel(ray, hit);
    }
    bool IsOccluded(Vec3 target, const Ray& ray, HitRecord& hit) override {
        return octree_.IsOccludedParallel(target, ray, hit);
    }

  private:
    const Octree& octree_;
};

}  // namespace lumeno
