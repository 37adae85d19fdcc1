// Camera: a pinhole camera with an orthonormal, right-handed basis (ex to the
// image's right, ey down the image, ez along the view) and the focal distance
// of the image plane. The shorter image side spans one unit at that distance.
// The scene file sets it, the mouse and the viewpoint file change it, and the
// render pass turns pixels into primary rays with it.
#pragma once

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

// The title text "%d x % d:  %d triangles".
std::string SizeTitle(int width, int height, std::size_t triangleCount);

}  // namespace lumeno
