#include "scene/camera.h"

#include <cmath>
#include <cstdio>

namespace lumeno {

void DeriveCameraBasis(Camera& camera) {
    Vec3 ez = Normalize(camera.lookAt - camera.position);
    if (!IsFinite(ez) || ez == Vec3{}) {
        return;  // no view direction: keep the basis the camera has
    }
    Vec3 t = AnyPerpendicular(ez);
    Vec3 u = Normalize(Cross(t, ez));
    Vec3 ey = Normalize(DotZyx(t, camera.up) * t + DotZyx(u, camera.up) * u);
    if (ey == Vec3{} || !IsFinite(ey)) {
        // Looking along up: up has no part across the view, so any direction
        // across it serves as "down the image".
        ey = t;
    }
    camera.ez = ez;
    camera.ey = ey;
    camera.ex = Normalize(Cross(ey, ez));
}

ProjectedPoint ProjectPoint(const Camera& camera, Vec3 point, int width, int height) {
    Vec3 d = point - camera.position;
    float cz = DotZyx(d, camera.ez);
    float sx = DotZyx(d, camera.ex) * camera.focus / cz;
    float sy = DotZyx(d, camera.ey) * camera.focus / cz;
    float minSide = static_cast<float>(width < height ? width : height);
    ProjectedPoint projected;
    projected.depth = cz;
    projected.column = sx * minSide + static_cast<float>(width / 2);
    projected.row = sy * minSide + static_cast<float>(height / 2);
    return projected;
}

bool ProjectToPixel(const Camera& camera, Vec3 point, int width, int height, int& x, int& y) {
    constexpr float kLimit = 1073741824.0f;  // 2^30
    ProjectedPoint p = ProjectPoint(camera, point, width, height);
    if (!(std::fabs(p.column) <= kLimit && std::fabs(p.row) <= kLimit)) {
        return false;
    }
    x = static_cast<int>(p.column);
    y = static_cast<int>(p.row);
    return true;
}

std::string SizeTitle(int width, int height, std::size_t triangleCount) {
    char text[96];
    std::snprintf(text, sizeof text, "%d x % d:  %zu triangles", width, height, triangleCount);
    return text;
}

}  // namespace lumeno
