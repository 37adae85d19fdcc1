// A stand-in for the octree in light transport tests: infinite horizontal
// planes y = height, each with a material, hit from either side. It counts
// the queries it answers.
#pragma once

#include <cmath>
#include <vector>

#include "light/integrator.h"
#include "scene/material.h"

namespace lumeno::testing {

struct Plane {
    float height = 0.0f;
    const Material* material = nullptr;
};

class PlaneWorld : public RayQueries {
  public:
    std::vector<Plane> planes;
    int nearestQueries = 0;
    int occlusionQueries = 0;

    bool FindNearestHit(const Ray& ray, HitRecord& hit) override {
        ++nearestQueries;
        hit = HitRecord{};
        hit.ray = ray;
        bool found = false;
        for (const Plane& plane : planes) {
            if (ray.direction.y == 0.0f) {
                continue;
            }
            float t = (plane.height - ray.origin.y) / ray.direction.y;
            if (t >= 0.0f && t < hit.distance) {
                found = true;
                hit.distance = t;
                hit.point = ray.origin + t * ray.direction;
                hit.point.y = plane.height;
                // Face normal +y; the shading normal faces the ray.
                hit.side = ray.direction.y < 0.0f ? 1.0f : -1.0f;
                hit.normal = {0.0f, hit.side, 0.0f};
                hit.tangent = {0.0f, 0.0f, 1.0f};
                hit.bitangent = {-1.0f, 0.0f, 0.0f};
                hit.texU = 0.5f;
                hit.texV = 0.5f;
                hit.material = plane.material;
            }
        }
        return found;
    }

    bool IsOccluded(Vec3 target, const Ray& ray, HitRecord& hit) override {
        ++occlusionQueries;
        float length = Length(target - ray.origin) - 0.001f;
        int before = nearestQueries;
        bool blocked = FindNearestHit(ray, hit) && hit.distance < length;
        nearestQueries = before;
        return blocked;
    }
};

// A material of the given kind with a layer of diffuse colour kd.
inline Material MakeMaterial(MaterialKind kind, Vec3 kd, Vec3 ks = {}) {
    Material material;
    material.kind = kind;
    material.diffuse = std::make_unique<DiffuseLayer>();
    material.diffuse->kd = kd;
    material.ks = ks;
    return material;
}

}  // namespace lumeno::testing
