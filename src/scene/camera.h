// Camera: a pinhole camera with an orthonormal, right-handed basis (ex to the
// image's right, ey down the image, ez along the view) and the focal distance
// of the image plane. The shorter image side spans one unit at that distance.
// The scene file sets it, the mouse and the viewpoint file change it, and the
// render pass turns pixels into primary rays with it (render/pass_schedule.h).
#pragma once

#include <cstddef>
#include <string>

#include "scene/vec3.h"

namespace lumeno {

struct Camera {
    Vec3 up{0.0f, 1.0f, 0.0f};
    Vec3 position{0.0f, 0.0f, 0.0f};
    Vec3 lookAt{0.0f, 0.0f, 1.0f};
    float focus = 1.0f;
    // The basis of the default camera, so that a camera never holds unset
    // vectors before the first derivation.
    Vec3 ex{1.0f, 0.0f, 0.0f};
    Vec3 ey{0.0f, 1.0f, 0.0f};
    Vec3 ez{0.0f, 0.0f, 1.0f};
    int width = 320;
    int height = 240;
};

// Derives ez, ey and ex from position, lookAt and up. A zero-length view
// direction keeps the previous basis; a view direction parallel to up gets an
// orthonormal right-handed basis around ez. Never produces a NaN.
void DeriveCameraBasis(Camera& camera);

// Where a point lands in a width × height image, before truncation to a
// pixel: column = sx · minSide + ⌊width/2⌋ and row = sy · minSide +
// ⌊height/2⌋, with (sx, sy) its image-plane position at distance focus.
// depth is its distance along ez; only points with a positive depth project
// sensibly.
struct ProjectedPoint {
    float depth = 0.0f;
    float column = 0.0f;
    float row = 0.0f;
};
ProjectedPoint ProjectPoint(const Camera& camera, Vec3 point, int width, int height);

// The pixel of ProjectPoint: both coordinates truncated toward zero.
// Returns false, leaving x and y alone, when either is not a number or lies
// beyond ±2^30, where no pixel of any image can be.
bool ProjectToPixel(const Camera& camera, Vec3 point, int width, int height, int& x, int& y);

// The title text "%d x % d:  %d triangles".
std::string SizeTitle(int width, int height, std::size_t triangleCount);

}  // namespace lumeno
