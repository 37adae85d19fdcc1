// Image output: the PFM file that holds the session's mean image, and the
// tone curve that maps mean radiance to display values.
//
// PFM layout: "PF\n<W>\n<H>\n-1.000000\n", then W × H pixels of three
// little-endian 32-bit floats (red, green, blue), bottom row first.
#pragma once

#include <cstdint>
#include <cstdio>
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

// Reading PFM headers. The next token after optional white space, of at most
// maxLength characters; empty at the end of the file or when the token is
// longer (no valid header token is). The white space after it stays unread.
std::string ReadHeaderToken(std::FILE* file, std::size_t maxLength);

// A header's width or height: decimal digits without sign (at most nine), or
// −1 for anything else.
std::int64_t ParseImageSide(const std::string& token);

// The extended Reinhard curve with white point 0.9, scaled by 10000:
// a × (a × 1.2345679 + 1) / (a + 1) × 10000, in single precision.
inline float ToneCurve(float a) {
    return a * (a * 1.2345679f + 1.0f) / (a + 1.0f) * 10000.0f;
}

}  // namespace lumeno
