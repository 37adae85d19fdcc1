#include "render/mouse_control.h"

#include <algorithm>
#include <cmath>

namespace lumeno {

namespace {

constexpr double kDollyPerPixel = 0.05;
constexpr float kDollyLimit = 10.0f;
constexpr double kTurnPerPixel = 0.02;
constexpr float kPanFactor = 3.0f;
// The largest turn of one handled move, in radians.
constexpr float kTurnLimit = 1.0f;

// Turns the whole basis by one rotation whose axis is taken before the turn,
// so all three vectors move together (the axis maps to itself up to rounding).
void TurnBasis(Camera& camera, Vec3 axis, float angle) {
    camera.ex = RotateAboutAxis(camera.ex, axis, angle);
    camera.ey = RotateAboutAxis(camera.ey, axis, angle);
    camera.ez = RotateAboutAxis(camera.ez, axis, angle);
}

}  // namespace

void OnLeftButtonDown(DragState& drag, int x, int y) {
    drag.dragMode = kDragLeft;
    drag.lastX = x;
    drag.lastY = y;
}

void OnRightButtonDown(DragState& drag, int x, int y) {
    drag.dragMode = kDragRight;
    drag.lastX = x;
    drag.lastY = y;
}

void OnButtonUp(DragState& drag) {
    drag.dragMode = kDragNone;
}

Vec3 RotateAboutAxis(Vec3 v, Vec3 axis, float angle) {
    float c = std::cos(angle);
    float s = std::sin(angle);
    return (v * c + Cross(axis, v) * s) + axis * (Dot(axis, v) * (1.0f - c));
}

bool OnMouseMove(DragState& drag, Camera& camera, int x, int y, bool control) {
    // In double, so that no pair of window coordinates can overflow.
    double dx = static_cast<double>(x) - static_cast<double>(drag.lastX);
    double dy = static_cast<double>(y) - static_cast<double>(drag.lastY);
    double distance = std::sqrt(dx * dx + dy * dy);

    if (drag.dragMode == kDragRight && distance > kRightDragThreshold) {
        float g = std::clamp(static_cast<float>(kDollyPerPixel * dy), -kDollyLimit, kDollyLimit);
        camera.position = camera.position + camera.ez * g;
    } else if (drag.dragMode == kDragLeft && distance > kLeftDragThreshold) {
        float ax = static_cast<float>(kTurnPerPixel * dx);
        float ay = static_cast<float>(kTurnPerPixel * dy);
        if (control) {
            camera.position = camera.position - camera.ex * (kPanFactor * ax);
            camera.position = camera.position - camera.ey * (kPanFactor * ay);
        } else if (std::fabs(ay) < std::fabs(ax)) {
            TurnBasis(camera, camera.ey, -std::clamp(ax, -kTurnLimit, kTurnLimit));
        } else {
            TurnBasis(camera, camera.ex, -std::clamp(ay, -kTurnLimit, kTurnLimit));
        }
    } else {
        return false;
    }
    drag.lastX = x;
    drag.lastY = y;
    return true;
}

}  // namespace lumeno
