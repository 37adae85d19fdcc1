#include "scene/triangle.h"

namespace lumeno {

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

}  // namespace lumeno
