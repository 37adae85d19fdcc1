// The viewpoint file "./out/view.txt": the camera stored as text so that a
// view found with the mouse can be restored later. Five lines, each a key, a
// blank and three numbers:
//
//   camera_pos <position>
//   camera_ex <ex>
//   camera_ey <ey>
//   camera_ez <ez>
//   look_at <position + ez>
//
// Numbers are written like printf's "%g" (6 significant digits) in the "C"
// locale; values that text cannot carry back (infinities, NaN) are written
// as the nearest readable value, so every file written reads back. Reading goes by position: the
// key words are skipped whatever they say, and the five vectors land in position, ex, ey, ez and
// lookAt in that order. Numbers are read as a stream extracts them: "1.5," gives 1.5 and the next
// read starts at ",". The basis is taken as read (neither normalised nor re-derived). The image
// size and focus are not part of the file.
#pragma once

#include <string>

#include "base/status.h"
#include "base/working_folder.h"
#include "scene/camera.h"

namespace lumeno {

// The file's text for camera.
std::string FormatViewpoint(const Camera& camera);

// Writes the file for camera at path, creating its folder when missing. The
// file is replaced atomically, so a failed save leaves the previous one whole.
Status SaveViewpoint(const Camera& camera, const std::string& path = kViewpointPath);

struct ViewpointLoadResult {
    bool opened = false;
    // How many of the five vectors were stored: position, ex, ey, ez, lookAt.
    int vectorsRead = 0;
    // Why reading stopped before the fifth vector (empty when all were read).
    std::string error;
};

// Reads the file at path into camera (a regular file only). Reading stops at
// the end of the file or at the first number that cannot be read (no number
// there, or one out of the float range); the vectors read until then keep their new
// values and the rest keep their old ones. A vector is stored only whole,
// never with some of its three numbers. Keys of any length are skipped
// without being stored.
ViewpointLoadResult LoadViewpoint(Camera& camera, const std::string& path = kViewpointPath);

}  // namespace lumeno
