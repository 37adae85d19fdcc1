// Mouse camera control: dragging in the render window steers the camera.
// A left drag turns it about its own right axis (ex) or down axis (ey), a
// left drag with Control pans it across the view, and a right drag moves it
// along the view direction. Small motions add up until they pass a threshold
// (3 pixels for the left button, 10 for the right) measured from the last
// position handled, so the wireframe preview is not redrawn on every pixel.
//
// This is the window-independent part: the render window feeds it button and
// move events in client coordinates with the Control state, and redraws the
// preview whenever a move was handled.
#pragma once

#include "scene/camera.h"
#include "scene/vec3.h"

namespace lumeno {

// Which button drags: none, the left (turn or pan) or the right (dolly).
inline constexpr int kDragNone = 0;
inline constexpr int kDragLeft = 1;
inline constexpr int kDragRight = 2;

// Drag thresholds in pixels: a move is handled only when it lies strictly
// farther than this from the last handled position.
inline constexpr double kLeftDragThreshold = 3.0;
inline constexpr double kRightDragThreshold = 10.0;

// The drag state of the render window.
struct DragState {
    int lastX = 0;
    int lastY = 0;
    int dragMode = kDragNone;
};

// A button press starts (or switches to) its drag at (x, y); a release of
// either button ends any drag.
void OnLeftButtonDown(DragState& drag, int x, int y);
void OnRightButtonDown(DragState& drag, int x, int y);
void OnButtonUp(DragState& drag);

// Handles a move to (x, y). Returns true when the move was handled: the
// camera's position or basis may have changed, the preview is due and
// (lastX, lastY) is now (x, y). Returns false, changing nothing, when no
// button drags or the move stays within the threshold.
//
// - Right drag: position += g · ez with g = 0.05 · (y − lastY) clamped to
//   [−10, 10]; moving the mouse down moves the camera forward. Horizontal
//   motion counts toward the threshold only.
// - Left drag with control: position −= 3 · ax · ex, then −= 3 · ay · ey, with
//   ax = 0.02 · (x − lastX) and ay = 0.02 · (y − lastY); the scene follows the
//   mouse.
// - Left drag without control: when |ay| < |ax|, all three basis vectors turn
//   by −ax (clamped to [−1, 1]) about ey; otherwise by −ay (clamped) about ex.
//   Dragging right turns the view to the left, dragging down turns it down.
//
// lookAt and up are never touched.
bool OnMouseMove(DragState& drag, Camera& camera, int x, int y, bool control);

// v turned by angle radians about the unit axis (Rodrigues' formula):
// v cos φ + (axis × v) sin φ + axis (axis · v)(1 − cos φ). With a right-handed
// basis a positive angle about ey turns ez toward ex, and about ex turns ez
// toward −ey.
Vec3 RotateAboutAxis(Vec3 v, Vec3 axis, float angle);

}  // namespace lumeno
