// IntersectTriangle: the Möller–Trumbore test of one ray against one triangle,
// and the surface description of a hit (point, shading normal turned towards
// the ray, texture coordinates, tangent frame, material, side, bump).
//
// The test is split in two so the octree's leaf loop stays cheap: the
// geometric part reads only a corner and the two edges from it, which the
// octree keeps packed side by side; the shading part runs only for the hit a
// leaf finally reports. Both parts together give exactly the bits of the one
// combined test, since the edges are the same float differences either way.
#pragma once

#include "scene/triangle.h"
#include "spatial/ray.h"

namespace lumeno {

// Corner p0 and the edges e1 = p1 − p0, e2 = p2 − p0.
struct TriangleEdges {
    Vec3 p0;
    Vec3 e1;
    Vec3 e2;
};

inline TriangleEdges EdgesOf(const Triangle& triangle) {
    return {triangle.p0, triangle.p1 - triangle.p0, triangle.p2 - triangle.p0};
}

// Where a ray meets a triangle: the ray parameter, the barycentric weights of
// p1 and p2, and the side (−1 along faceNormal, +1 against it).
struct EdgeHit {
    float t = 0.0f;
    float u = 0.0f;
    float v = 0.0f;
    float side = 0.0f;
};

// |det| at or below this means the ray runs along the triangle's plane.
inline constexpr float kDeterminantThreshold = 1e-6f;

// The geometric test: true when the ray (origin o, direction d) meets the
// triangle at a parameter in [tMin, tMax], edges and corners included.
inline bool IntersectEdges(const TriangleEdges& tri, Vec3 o, Vec3 d, float tMin, float tMax,
                           EdgeHit& out) {
    Vec3 pv = Cross(d, tri.e2);
    float det = Dot(tri.e1, pv);
    Vec3 tv = o - tri.p0;
    float inv = 1.0f / det;
    Vec3 qv = Cross(tv, tri.e1);
    float u;
    float v;
    float side;
    if (det > kDeterminantThreshold) {
        u = Dot(tv, pv);
        if (u < 0.0f || u > det) {
            return false;
        }
        side = -1.0f;
        v = Dot(d, qv);
        if (v < 0.0f || u + v > det) {
            return false;
        }
    } else if (det < -kDeterminantThreshold) {
        u = Dot(tv, pv);
        if (u > 0.0f || u < det) {
            return false;
        }
        side = 1.0f;
        v = Dot(d, qv);
        if (v > 0.0f || u + v < det) {
            return false;
        }
    } else {
        return false;
    }
    float t = Dot(tri.e2, qv) * inv;
    if (t < tMin || t > tMax) {
        return false;
    }
    out.t = t;
    out.u = u * inv;
    out.v = v * inv;
    out.side = side;
    return true;
}

// p0 + u · e1 + v · e2.
inline Vec3 HitPoint(const TriangleEdges& tri, const EdgeHit& hit) {
    return tri.p0 + hit.u * tri.e1 + hit.v * tri.e2;
}

// Fills distance, point, normal (interpolated or face normal, turned towards
// the ray, bump-perturbed for bump-mapped materials), tangent, bitangent,
// texture coordinates, material and side from a geometric hit on triangle.
void FillHitRecord(const Triangle& triangle, const Ray& ray, const EdgeHit& hit, Vec3 point,
                   HitRecord& out);

// The whole test: on a hit within [tMin, tMax] fills the fields above and
// returns true; on a miss writes nothing.
bool IntersectTriangle(const Triangle& triangle, const Ray& ray, float tMin, float tMax,
                       HitRecord& out);

}  // namespace lumeno
