// HdrImage: a floating-point RGB image in memory, row 0 at the top, and the
// readers of the source formats the probe tool accepts: Radiance .hdr,
// OpenEXR .exr and PFM (three channels or one, either byte order).
//
// The format is recognised by the file's first bytes alone ("#?RADIANCE" or
// "#?RGBE", the OpenEXR signature, "PF" or "Pf"), and only that format's
// decoder sees the file; anything else is refused, whatever its name. Only
// regular files are read, never past their size. Every reader checks the
// image's size before allocating anything (a Radiance file also against the
// bytes its scan lines need at least, so a truncated one is refused at once)
// and refuses values that are not finite.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lumeno::probe {

struct HdrImage {
    // Largest source accepted: a 16384 × 8192 equirectangular image, 1.5 GiB
    // of floats. Sizes come from files, so they are checked before allocating.
    static constexpr std::int64_t kMaxPixels = std::int64_t{16384} * 8192;
    static constexpr int kMaxSide = 32768;

    int width = 0;
    int height = 0;
    std::vector<float> rgb;  // width × height × 3, red-green-blue, rows top first

    // Allocates width × height black pixels; false (allocating nothing) for a
    // size outside 1 … kMaxSide per side or above kMaxPixels in all.
    bool Resize(int newWidth, int newHeight);

    float* Pixel(int x, int y) {
        return rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
    }
    const float* Pixel(int x, int y) const {
        return rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
    }
};

enum class ImageFormat { Unknown, Pfm, Radiance, OpenExr };

// The format of the file at path by its first bytes. Unknown when they name
// none (or the file cannot be read).
ImageFormat DetectImageFormat(const std::string& path);

// Reads an image of any accepted format. On failure returns false with a
// message naming the file and the reason in error.
bool ReadHdrImage(const std::string& path, HdrImage& image, std::string& error);

bool ReadPfm(const std::string& path, HdrImage& image, std::string& error);
bool ReadRadiance(const std::string& path, HdrImage& image, std::string& error);
bool ReadOpenExr(const std::string& path, HdrImage& image, std::string& error);

// Negative values (which some tools leave after filtering) become 0; returns
// how many there were. Not-a-number and infinite values are refused earlier.
std::int64_t ClampNegative(HdrImage& image);

}  // namespace lumeno::probe
