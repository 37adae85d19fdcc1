// PFM files: the one float image format of the program. The render session
// saves its mean image as PFM, and the light probe is read from one.
//
// Layout: "PF\n<W>\n<H>\n<scale>\n", then W × H pixels of three 32-bit floats
// (red, green, blue), bottom row first. A negative scale marks little-endian
// data, a positive one big-endian; its magnitude carries no meaning. "Pf"
// files hold one grey channel per pixel.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "base/float_plane.h"
#include "base/status.h"

namespace lumeno {

// Writes the planes' sums times 1/n (rounded to a float) as a little-endian
// PFM file of the planes' size, replacing path atomically: on failure the
// file that stood there is left as it was.
Status WritePfm(const std::string& path, const FloatPlane& red, const FloatPlane& green,
                const FloatPlane& blue, float n);

// What a reader accepts. Sizes come from files, so they are checked against
// these before anything is allocated.
struct PfmLimits {
    int maxSide = 16384;
    std::int64_t maxPixels = std::int64_t{16384} * 16384;
    // Whether a scale that is no non-zero number refuses the file. The
    // renderer's probe reader takes such a file as little-endian instead:
    // its scale means nothing to it beyond a positive one's byte order.
    bool requireScale = true;
};

// Reads a "PF" or "Pf" file of either byte order. Once the header is read and
// the file is known to hold all the pixels it announces, start(width, height)
// is called (returning false refuses the file, for example when memory runs
// out); then row(y, rgb) once per image row, top row (y = 0) last as stored,
// with width × 3 floats red, green, blue (grey repeated for "Pf").
Status ReadPfm(const std::string& path, const PfmLimits& limits,
               const std::function<bool(int width, int height)>& start,
               const std::function<void(int y, const float* rgb)>& row);

// Reading text headers (the PFM header, the light list). The next token after
// optional white space, of at most maxLength characters; empty at the end of
// the file or when the token is longer (no valid header token is). The white
// space after it stays unread.
std::string ReadHeaderToken(std::FILE* file, std::size_t maxLength);

// A header's width or height: decimal digits without sign (at most nine), or
// −1 for anything else.
std::int64_t ParseImageSide(const std::string& token);

}  // namespace lumeno
