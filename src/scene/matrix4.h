// Matrix4: a 4 × 4 float matrix for row vectors (v' = v · M), used to turn the
// axes of a scene block and, by the mouse control, the camera basis.
#pragma once

#include "scene/vec3.h"

namespace lumeno {

struct Matrix4 {
    float m[4][4] = {};

    static Matrix4 Identity();
    static Matrix4 RotationX(float angle);
    static Matrix4 RotationY(float angle);
    static Matrix4 RotationZ(float angle);
};

// a · b, each element summed over k = 0 … 3 in order.
Matrix4 Multiply(const Matrix4& a, const Matrix4& b);

// The point v (w = 1) times m, divided by the resulting w.
Vec3 TransformCoord(Vec3 v, const Matrix4& m);

}  // namespace lumeno
