#include "spatial/triangle_intersection.h"

#include <cmath>

#include "scene/material.h"

namespace lumeno {

namespace {

constexpr float kBumpScale = 0.1f;
constexpr float kBumpAcceptance = 0.3f;

// floor(value) limited to at most limit and then to at least 0, then kept
// below sampleCount so that a stated map size larger than the plane, NaN or a
// huge coordinate can never index outside the samples.
int ClampedFloor(float value, float limit, int sampleCount) {
    float f = std::floor(value);
    if (f > limit) {
        f = limit;
    }
    if (!(f >= 0.0f)) {
        f = 0.0f;
    }
    if (f > static_cast<float>(sampleCount - 1)) {
        return sampleCount - 1;
    }
    return static_cast<int>(f);
}

// Tilts normal by the height differences of the bump map at the hit's
// texture coordinates. Returns normal unchanged when the material has no
// bump map, the triangle has no bump frame, or the tilted normal would graze
// or face away from the viewer.
Vec3 BumpNormal(const Triangle& triangle, const Ray& ray, float side, float texU, float texV,
                Vec3 normal) {
    const Material* material = triangle.material;
    if (material == nullptr || material->diffuse == nullptr || !triangle.hasBumpFrame) {
        return normal;
    }
    const DiffuseLayer& layer = *material->diffuse;
    if (!layer.hasBump || layer.bump == nullptr || layer.bump->Empty()) {
        return normal;
    }
    const FloatPlane& bump = *layer.bump;
    float w = layer.bumpWidth;
    float h = layer.bumpHeight;
    // A map one sample wide or high reads its edge sample as the neighbour
    // (a flat slope) instead of reading past it.
    int x = ClampedFloor(w * texU, w - 2.0f, bump.width);
    int y = ClampedFloor((1.0f - texV) * h, h - 2.0f, bump.height);
    int x1 = x + 1 < bump.width ? x + 1 : x;
    int y1 = y + 1 < bump.height ? y + 1 : y;
    float h00 = bump.At(x, y);
    float dx = (bump.At(x1, y) - h00) * kBumpScale;
    float dy = (bump.At(x, y1) - h00) * kBumpScale;
    Vec3 p = Normalize(Vec3{-dx, -dy, 1.0f});
    Vec3 tilt = p.x * triangle.bumpU + p.y * triangle.bumpV;
    Vec3 bumped = Normalize(side * tilt + p.z * normal);
    if (-Dot(bumped, ray.direction) >= kBumpAcceptance) {
        return bumped;
    }
    return normal;
}

}  // namespace

void FillHitRecord(const Triangle& triangle, const Ray& ray, const EdgeHit& hit, Vec3 point,
                   HitRecord& out) {
    float u = hit.u;
    float v = hit.v;
    float w = 1.0f - u - v;
    out.distance = hit.t;
    out.point = point;
    out.side = hit.side;
    out.texU = w * triangle.uv0.u + u * triangle.uv1.u + v * triangle.uv2.u;
    out.texV = w * triangle.uv0.v + u * triangle.uv1.v + v * triangle.uv2.v;
    Vec3 normal;
    if (triangle.normal0.x > kNoVertexNormals) {
        // Not renormalised: shorter than 1 between corners whose normals differ.
        normal = -hit.side * (w * triangle.normal0 + u * triangle.normal1 + v * triangle.normal2);
    } else {
        normal = hit.side * triangle.faceNormal;
    }
    out.normal = BumpNormal(triangle, ray, hit.side, out.texU, out.texV, normal);
    out.tangent = triangle.tangent;
    out.bitangent = triangle.bitangent;
    out.material = triangle.material;
}

bool IntersectTriangle(const Triangle& triangle, const Ray& ray, float tMin, float tMax,
                       HitRecord& out) {
    TriangleEdges edges = EdgesOf(triangle);
    EdgeHit hit;
    if (!IntersectEdges(edges, ray.origin, ray.direction, tMin, tMax, hit)) {
        return false;
    }
    FillHitRecord(triangle, ray, hit, HitPoint(edges, hit), out);
    return true;
}

}  // namespace lumeno
