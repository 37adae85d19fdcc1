// Triangle: a self-contained world-space triangle made by the OBJ reader. It
// carries copies of its corner data, its face frame, its material and, for
// faces with both texture coordinates and normals, the bump-mapping frame.
// The octree refers to triangles without copying them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scene/vec3.h"

namespace lumeno {

struct Material;

struct TexCoord {
    float u = 0.0f;
    float v = 0.0f;
};

// normal0.x holds this when the face had texture coordinates but no normals;
// the ray query then shades with the face normal.
inline constexpr float kNoVertexNormals = -1000.0f;

struct Triangle {
    Vec3 p0, p1, p2;
    Vec3 normal0, normal1, normal2;
    TexCoord uv0, uv1, uv2;
    Vec3 faceNormal;
    Vec3 tangent;
    Vec3 bitangent;
    const Material* material = nullptr;
    Vec3 bumpU, bumpV;
    // False for texture-only and normals-only triangles and for full ones whose
    // texture coordinates give no usable frame: bump mapping is not applied.
    bool hasBumpFrame = false;
};

// faceNormal = normalize(cross(p2 − p0, p1 − p0)); tangent and bitangent
// complete the frame. The face normal points against the right-hand normal of
// p0 → p1 → p2.
void ComputeFaceFrame(Triangle& triangle);

// The bump frame from the corners, the texture coordinates and normal0. Sets
// hasBumpFrame to whether the frame is usable (finite, non-degenerate).
void ComputeBumpFrame(Triangle& triangle);

// ComputeFaceFrame and ComputeBumpFrame for many triangles at once, to the
// same bits: four triangles go through the same operations side by side in
// SSE lanes, so that their square roots and divisions overlap (one by one,
// each frame waits on its own long chain of them). The few frames that come
// out NaN are worked out again one by one, since which NaN an operation
// passes on depends on the order the compiler gave its operands.
void ComputeFaceFrames(Triangle* const* triangles, std::size_t count);
void ComputeBumpFrames(Triangle* const* triangles, std::size_t count);

}  // namespace lumeno
