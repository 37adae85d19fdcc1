// IntersectTriangle: the Möller–Trumbore test of one ray against one triangle,
// and the surface description of a hit (point, shading normal turned towards
// the ray, texture coordinates, tangent frame, material, side, bump).
//
// The test is split in two so the octree's leaf loop stays cheap: the
// geometric part reads only a corner and the two edges from it, which the
// octree keeps packed side by side; the shading part runs only for the hit a
// leaf finally reports. Both parts together give exactly the bits of the one
// combined test, since the edges are the same float differences either way.
// The geometric part also comes four triangles at a time on SSE lanes, each
// lane computing exactly what the one-triangle test computes.
#pragma once

#include <emmintrin.h>

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

// Four triangles, one per SSE lane: corner p0 and edges e1, e2, axis by
// axis.
struct TriangleEdges4 {
    __m128 p0[3];
    __m128 e1[3];
    __m128 e2[3];
};

// A ray's origin and direction, the same in every lane.
struct Ray4 {
    __m128 o[3];
    __m128 d[3];
};

inline Ray4 Broadcast(const Ray& ray) {
    return {
        {_mm_set1_ps(ray.origin.x), _mm_set1_ps(ray.origin.y), _mm_set1_ps(ray.origin.z)},
        {_mm_set1_ps(ray.direction.x), _mm_set1_ps(ray.direction.y), _mm_set1_ps(ray.direction.z)}};
}

// t, u, v and side of IntersectEdges, lane by lane.
struct EdgeHits4 {
    __m128 t;
    __m128 u;
    __m128 v;
    __m128 side;
};

// IntersectEdges on four triangles at once: every lane does the same float
// operations in the same order (SSE2 only, no fused multiply-add), so each
// lane's t, u, v and side have the bits the one-triangle test would give.
// Returns the lanes (bit k for lane k) that meet the ray at t >= 0, edges and
// corners included; the upper bound is left to the caller, who skips a lane
// whose t > tMax just as IntersectEdges would.
inline unsigned IntersectEdges4(const TriangleEdges4& tri, const Ray4& ray, EdgeHits4& out) {
    const __m128* d = ray.d;
    const __m128* e1 = tri.e1;
    const __m128* e2 = tri.e2;
    auto mul = [](__m128 a, __m128 b) { return _mm_mul_ps(a, b); };
    auto add = [](__m128 a, __m128 b) { return _mm_add_ps(a, b); };
    auto sub = [](__m128 a, __m128 b) { return _mm_sub_ps(a, b); };
    // pv = Cross(d, e2), det = Dot(e1, pv), tv = o − p0, qv = Cross(tv, e1).
    __m128 pvx = sub(mul(d[1], e2[2]), mul(d[2], e2[1]));
    __m128 pvy = sub(mul(d[2], e2[0]), mul(d[0], e2[2]));
    __m128 pvz = sub(mul(d[0], e2[1]), mul(d[1], e2[0]));
    __m128 det = add(add(mul(e1[0], pvx), mul(e1[1], pvy)), mul(e1[2], pvz));
    __m128 tvx = sub(ray.o[0], tri.p0[0]);
    __m128 tvy = sub(ray.o[1], tri.p0[1]);
    __m128 tvz = sub(ray.o[2], tri.p0[2]);
    __m128 inv = _mm_div_ps(_mm_set1_ps(1.0f), det);
    __m128 qvx = sub(mul(tvy, e1[2]), mul(tvz, e1[1]));
    __m128 qvy = sub(mul(tvz, e1[0]), mul(tvx, e1[2]));
    __m128 qvz = sub(mul(tvx, e1[1]), mul(tvy, e1[0]));
    __m128 u = add(add(mul(tvx, pvx), mul(tvy, pvy)), mul(tvz, pvz));
    __m128 v = add(add(mul(d[0], qvx), mul(d[1], qvy)), mul(d[2], qvz));
    __m128 t = mul(add(add(mul(e2[0], qvx), mul(e2[1], qvy)), mul(e2[2], qvz)), inv);
    const __m128 zero = _mm_setzero_ps();
    __m128 uv = add(u, v);
    __m128 front = _mm_cmpgt_ps(det, _mm_set1_ps(kDeterminantThreshold));
    __m128 back = _mm_cmplt_ps(det, _mm_set1_ps(-kDeterminantThreshold));
    __m128 missFront = _mm_or_ps(_mm_or_ps(_mm_cmplt_ps(u, zero), _mm_cmpgt_ps(u, det)),
                                 _mm_or_ps(_mm_cmplt_ps(v, zero), _mm_cmpgt_ps(uv, det)));
    __m128 missBack = _mm_or_ps(_mm_or_ps(_mm_cmpgt_ps(u, zero), _mm_cmplt_ps(u, det)),
                                _mm_or_ps(_mm_cmpgt_ps(v, zero), _mm_cmplt_ps(uv, det)));
    __m128 hits = _mm_or_ps(_mm_andnot_ps(missFront, front), _mm_andnot_ps(missBack, back));
    hits = _mm_andnot_ps(_mm_cmplt_ps(t, zero), hits);
    out.t = t;
    out.u = mul(u, inv);
    out.v = mul(v, inv);
    out.side =
        _mm_or_ps(_mm_and_ps(front, _mm_set1_ps(-1.0f)), _mm_andnot_ps(front, _mm_set1_ps(1.0f)));
    return static_cast<unsigned>(_mm_movemask_ps(hits));
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
