// RayQueries: the two questions a path asks of the geometry, nearest hit and
// occlusion, behind one seam so that the light transport does not care which
// index answers. Two adapters sit over the octree:
// - OctreeExactQueries numbers every query and stamps the triangles it meets
//   (single-threaded, the exact mode's arithmetic);
// - OctreeParallelQueries leaves the tree untouched, so each thread of the
//   parallel mode holds its own adapter over one shared tree.
#pragma once

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
