#include "render/camera.h"

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

std::string SizeTitle(int width, int height, std::size_t triangleCount) {
    char text[96];
    std::snprintf(text, sizeof text, "%d x % d:  %zu triangles", width, height, triangleCount);
    return text;
}

}  // namespace lumeno
