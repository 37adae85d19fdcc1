// Image output: the PFM file that holds the session's mean image, and the
// tone curve that maps mean radiance to display values.
//
// PFM layout: "PF\n<W>\n<H>\n-1.000000\n", then W × H pixels of three
// little-endian 32-bit floats (red, green, blue), bottom row first.
#pragma once

#include <string>

#include "scene/float_plane.h"

namespace lumeno {

// Writes the planes' sums times 1/n (rounded to a float) as a PFM file of the
// planes' size. The file is written beside the target under a temporary name
// and renamed over it, so an interrupted or failed write never leaves a
// truncated file where a complete one stood. On failure returns false with a
// reason in *error (when given) and leaves the target as it was.
bool WritePfm(const std::string& path, const FloatPlane& red, const FloatPlane& green,
              const FloatPlane& blue, float n, std::string* error = nullptr);

// The extended Reinhard curve with white point 0.9, scaled by 10000:
// a × (a × 1.2345679 + 1) / (a + 1) × 10000, in single precision.
inline float ToneCurve(float a) {
    return a * (a * 1.2345679f + 1.0f) / (a + 1.0f) * 10000.0f;
}

}  // namespace lumeno
