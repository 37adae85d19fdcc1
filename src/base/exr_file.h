// OpenEXR output: the session's mean image as 32-bit float red, green and
// blue channels with lossless (ZIP) compression, for tools that read EXR
// rather than PFM. The same values a PFM file of the same state holds.
#pragma once

#include <string>

#include "base/float_plane.h"
#include "base/status.h"

namespace lumeno {

// Writes the planes' sums times 1/n (rounded to a float) as an EXR file,
// replacing path atomically.
Status WriteExr(const std::string& path, const FloatPlane& red, const FloatPlane& green,
                const FloatPlane& blue, float n);

}  // namespace lumeno
