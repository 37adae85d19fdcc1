// The wireframe preview: every triangle edge of the scene drawn black on
// white, shown in the render window whenever the camera changes (scene load,
// mouse drag, viewpoint load) so that the user sees the view before a render
// starts. It draws into the red accumulation plane, which the next render
// clears anyway, and converts it into the window's bitmap.
#pragma once

#include <vector>

#include "base/dib_image.h"
#include "base/float_plane.h"
#include "render/display_sink.h"
#include "scene/camera.h"
#include "scene/triangle.h"

namespace lumeno {

// Triangles with a corner at or closer than this along the view are left
// out (there is no clipping at the near plane).
inline constexpr float kPreviewNearDepth = 0.2f;

// Draws an integer line with value 0, Bresenham-style along the major axis.
// The end point is not written, nor column 0 or row 0; points outside the
// plane are skipped while the error term runs on, so the part inside is
// exactly the part of the whole segment. Costs at most the plane's size in
// steps, however far the ends lie outside.
void DrawLine(FloatPlane& plane, int x0, int y0, int x1, int y1);

// Fills red with 255, draws the edges p0–p1, p1–p2, p0–p2 of every triangle
// wholly in front of kPreviewNearDepth (projected into an image the size of
// red), converts red into image as grey, then sets the title to the size
// and triangle count and shows the image. The caller marks its accumulation
// stale. Allocates nothing.
void DrawWireframePreview(const Camera& camera, const std::vector<Triangle*>& triangles,
                          FloatPlane& red, DibImage& image, DisplaySink& display);

}  // namespace lumeno
