#include "scene/triangle.h"

#include <emmintrin.h>

#include <array>
#include <limits>

namespace lumeno {
namespace {

// Three coordinates of four triangles, one triangle per lane. The operations
// below are Vec3's, lane by lane, in the same order.
struct Vec3x4 {
    __m128 x, y, z;
};

Vec3x4 operator-(const Vec3x4& a, const Vec3x4& b) {
    return {_mm_sub_ps(a.x, b.x), _mm_sub_ps(a.y, b.y), _mm_sub_ps(a.z, b.z)};
}

__m128 Negate(__m128 a) {
    return _mm_xor_ps(a, _mm_set1_ps(-0.0f));
}

// (a.x·b.x + a.y·b.y) + a.z·b.z, as Dot.
__m128 Dot(const Vec3x4& a, const Vec3x4& b) {
    return _mm_add_ps(_mm_add_ps(_mm_mul_ps(a.x, b.x), _mm_mul_ps(a.y, b.y)), _mm_mul_ps(a.z, b.z));
}

Vec3x4 Cross(const Vec3x4& a, const Vec3x4& b) {
    return {_mm_sub_ps(_mm_mul_ps(a.y, b.z), _mm_mul_ps(a.z, b.y)),
            _mm_sub_ps(_mm_mul_ps(a.z, b.x), _mm_mul_ps(a.x, b.z)),
            _mm_sub_ps(_mm_mul_ps(a.x, b.y), _mm_mul_ps(a.y, b.x))};
}

__m128 Select(__m128 mask, __m128 ifSet, __m128 ifClear) {
    return _mm_or_ps(_mm_and_ps(mask, ifSet), _mm_andnot_ps(mask, ifClear));
}

// As Normalize: each coordinate divided by the length; zero stays zero.
Vec3x4 Normalize(const Vec3x4& a) {
    __m128 length = _mm_sqrt_ps(Dot(a, a));
    __m128 zero = _mm_cmpeq_ps(length, _mm_setzero_ps());
    return {_mm_andnot_ps(zero, _mm_div_ps(a.x, length)),
            _mm_andnot_ps(zero, _mm_div_ps(a.y, length)),
            _mm_andnot_ps(zero, _mm_div_ps(a.z, length))};
}

// As AnyPerpendicular for lanes without NaN (the only ones kept): the
// smallest magnitude is then a plain minimum, found by comparison alone.
Vec3x4 AnyPerpendicular(const Vec3x4& n) {
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    __m128 ax = _mm_and_ps(n.x, magnitude);
    __m128 ay = _mm_and_ps(n.y, magnitude);
    __m128 az = _mm_and_ps(n.z, magnitude);
    __m128 smallest = _mm_min_ps(ax, _mm_min_ps(ay, az));
    __m128 useX = _mm_cmpeq_ps(ax, smallest);
    __m128 useY = _mm_andnot_ps(useX, _mm_cmpeq_ps(ay, smallest));
    __m128 zero = _mm_setzero_ps();
    // x smallest: (0, −z, y); else y: (−z, 0, x); else (−y, x, 0).
    Vec3x4 t{Select(useX, zero, Select(useY, Negate(n.z), Negate(n.y))),
             Select(useX, Negate(n.z), Select(useY, zero, n.x)),
             Select(useX, n.y, Select(useY, n.x, zero))};
    return Normalize(t);
}

using Lanes = std::array<float, 4>;

// Member field of each of four triangles, one per lane.
template <typename Get>
__m128 Gather(Triangle* const* t, Get get) {
    return _mm_setr_ps(get(*t[0]), get(*t[1]), get(*t[2]), get(*t[3]));
}

Vec3x4 GatherVec3(Triangle* const* t, Vec3 Triangle::*member) {
    return {Gather(t, [&](const Triangle& x) { return (x.*member).x; }),
            Gather(t, [&](const Triangle& x) { return (x.*member).y; }),
            Gather(t, [&](const Triangle& x) { return (x.*member).z; })};
}

void Scatter(const Vec3x4& v, Triangle* const* t, Vec3 Triangle::*member) {
    Lanes x, y, z;
    _mm_storeu_ps(x.data(), v.x);
    _mm_storeu_ps(y.data(), v.y);
    _mm_storeu_ps(z.data(), v.z);
    for (std::size_t lane = 0; lane < 4; ++lane) {
        t[lane]->*member = {x[lane], y[lane], z[lane]};
    }
}

__m128 HasNan(const Vec3x4& v) {
    return _mm_or_ps(_mm_or_ps(_mm_cmpunord_ps(v.x, v.x), _mm_cmpunord_ps(v.y, v.y)),
                     _mm_cmpunord_ps(v.z, v.z));
}

}  // namespace

void ComputeFaceFrame(Triangle& t) {
    t.faceNormal = Normalize(Cross(t.p2 - t.p0, t.p1 - t.p0));
    t.tangent = AnyPerpendicular(t.faceNormal);
    t.bitangent = Normalize(Cross(t.tangent, t.faceNormal));
}

void ComputeBumpFrame(Triangle& t) {
    float du1 = t.uv1.u - t.uv0.u;
    float dv1 = t.uv1.v - t.uv0.v;
    float du2 = t.uv2.u - t.uv0.u;
    float dv2 = t.uv2.v - t.uv0.v;
    float c = du1 * dv2 - du2 * dv1;
    if (c == 0.0f) {
        t.bumpU = {};
        t.bumpV = {};
        t.hasBumpFrame = false;
        return;
    }
    Vec3 u;
    Vec3 v;
    for (int axis = 0; axis < 3; ++axis) {
        float dp1 = t.p1[axis] - t.p0[axis];
        float dp2 = t.p2[axis] - t.p0[axis];
        float a = dp2 * dv1 - dp1 * dv2;
        float b = dp1 * du2 - dp2 * du1;
        float d = -a * t.uv0.u - b * t.uv0.v - c * t.normal0[axis];
        u[axis] = (-d - a) / c;
        v[axis] = (-d - b) / c;
    }
    t.bumpU = Normalize(u);
    t.bumpV = Normalize(v);
    bool usable =
        IsFinite(t.bumpU) && IsFinite(t.bumpV) && !(t.bumpU == Vec3{}) && !(t.bumpV == Vec3{});
    t.hasBumpFrame = usable;
    if (!usable) {
        t.bumpU = {};
        t.bumpV = {};
    }
}

void ComputeFaceFrames(Triangle* const* triangles, std::size_t count) {
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        Triangle* const* t = triangles + i;
        Vec3x4 p0 = GatherVec3(t, &Triangle::p0);
        Vec3x4 p1 = GatherVec3(t, &Triangle::p1);
        Vec3x4 p2 = GatherVec3(t, &Triangle::p2);
        Vec3x4 faceNormal = Normalize(Cross(p2 - p0, p1 - p0));
        Vec3x4 tangent = AnyPerpendicular(faceNormal);
        Vec3x4 bitangent = Normalize(Cross(tangent, faceNormal));
        Scatter(faceNormal, t, &Triangle::faceNormal);
        Scatter(tangent, t, &Triangle::tangent);
        Scatter(bitangent, t, &Triangle::bitangent);
        int nan = _mm_movemask_ps(
            _mm_or_ps(_mm_or_ps(HasNan(faceNormal), HasNan(tangent)), HasNan(bitangent)));
        for (std::size_t lane = 0; lane < 4; ++lane) {
            if ((nan >> lane & 1) != 0) {
                ComputeFaceFrame(*t[lane]);
            }
        }
    }
    for (; i < count; ++i) {
        ComputeFaceFrame(*triangles[i]);
    }
}

void ComputeBumpFrames(Triangle* const* triangles, std::size_t count) {
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        Triangle* const* t = triangles + i;
        __m128 u0 = Gather(t, [](const Triangle& x) { return x.uv0.u; });
        __m128 v0 = Gather(t, [](const Triangle& x) { return x.uv0.v; });
        __m128 du1 = _mm_sub_ps(Gather(t, [](const Triangle& x) { return x.uv1.u; }), u0);
        __m128 dv1 = _mm_sub_ps(Gather(t, [](const Triangle& x) { return x.uv1.v; }), v0);
        __m128 du2 = _mm_sub_ps(Gather(t, [](const Triangle& x) { return x.uv2.u; }), u0);
        __m128 dv2 = _mm_sub_ps(Gather(t, [](const Triangle& x) { return x.uv2.v; }), v0);
        __m128 c = _mm_sub_ps(_mm_mul_ps(du1, dv2), _mm_mul_ps(du2, dv1));
        Vec3x4 p0 = GatherVec3(t, &Triangle::p0);
        Vec3x4 dp1 = GatherVec3(t, &Triangle::p1) - p0;
        Vec3x4 dp2 = GatherVec3(t, &Triangle::p2) - p0;
        Vec3x4 normal0 = GatherVec3(t, &Triangle::normal0);
        // One axis of ComputeBumpFrame's loop: u and v along it.
        const auto axis = [&](__m128 dp1Axis, __m128 dp2Axis, __m128 normalAxis, __m128& u,
                              __m128& v) {
            __m128 a = _mm_sub_ps(_mm_mul_ps(dp2Axis, dv1), _mm_mul_ps(dp1Axis, dv2));
            __m128 b = _mm_sub_ps(_mm_mul_ps(dp1Axis, du2), _mm_mul_ps(dp2Axis, du1));
            __m128 d = _mm_sub_ps(_mm_sub_ps(_mm_mul_ps(Negate(a), u0), _mm_mul_ps(b, v0)),
                                  _mm_mul_ps(c, normalAxis));
            u = _mm_div_ps(_mm_sub_ps(Negate(d), a), c);
            v = _mm_div_ps(_mm_sub_ps(Negate(d), b), c);
        };
        Vec3x4 u;
        Vec3x4 v;
        axis(dp1.x, dp2.x, normal0.x, u.x, v.x);
        axis(dp1.y, dp2.y, normal0.y, u.y, v.y);
        axis(dp1.z, dp2.z, normal0.z, u.z, v.z);
        Vec3x4 bumpU = Normalize(u);
        Vec3x4 bumpV = Normalize(v);
        // Usable: c is not zero, both are finite and neither is zero.
        const auto finite = [](const Vec3x4& w) {
            const __m128 infinity = _mm_set1_ps(std::numeric_limits<float>::infinity());
            const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
            return _mm_and_ps(_mm_and_ps(_mm_cmplt_ps(_mm_and_ps(w.x, magnitude), infinity),
                                         _mm_cmplt_ps(_mm_and_ps(w.y, magnitude), infinity)),
                              _mm_cmplt_ps(_mm_and_ps(w.z, magnitude), infinity));
        };
        const auto nonZero = [](const Vec3x4& w) {
            __m128 zero = _mm_setzero_ps();
            return _mm_or_ps(_mm_or_ps(_mm_cmpneq_ps(w.x, zero), _mm_cmpneq_ps(w.y, zero)),
                             _mm_cmpneq_ps(w.z, zero));
        };
        __m128 usable = _mm_and_ps(_mm_cmpneq_ps(c, _mm_setzero_ps()),
                                   _mm_and_ps(_mm_and_ps(finite(bumpU), finite(bumpV)),
                                              _mm_and_ps(nonZero(bumpU), nonZero(bumpV))));
        bumpU = {_mm_and_ps(usable, bumpU.x), _mm_and_ps(usable, bumpU.y),
                 _mm_and_ps(usable, bumpU.z)};
        bumpV = {_mm_and_ps(usable, bumpV.x), _mm_and_ps(usable, bumpV.y),
                 _mm_and_ps(usable, bumpV.z)};
        Scatter(bumpU, t, &Triangle::bumpU);
        Scatter(bumpV, t, &Triangle::bumpV);
        int kept = _mm_movemask_ps(usable);
        for (std::size_t lane = 0; lane < 4; ++lane) {
            t[lane]->hasBumpFrame = (kept >> lane & 1) != 0;
        }
    }
    for (; i < count; ++i) {
        ComputeBumpFrame(*triangles[i]);
    }
}

}  // namespace lumeno
