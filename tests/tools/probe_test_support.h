// Helpers for the probe tool's tests: environments made from functions of
// direction, and PFM files written byte by byte.
#pragma once

#include <bit>
#include <cstdint>
#include <functional>
#include <string>

#include "probe/angular_map.h"
#include "probe/hdr_image.h"

namespace lumeno::testing {

using probe::Direction;
using probe::HdrImage;

// An equirectangular image whose every pixel holds f of its centre's direction.
inline HdrImage EquirectOf(int width, const std::function<void(Direction, float*)>& f) {
    HdrImage image;
    image.Resize(width, width / 2);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            f(probe::EquirectToDirection(x + 0.5, y + 0.5, image.width, image.height),
              image.Pixel(x, y));
        }
    }
    return image;
}

// A size × size angular map holding value in every pixel.
inline HdrImage UniformMap(int size, float value) {
    HdrImage image;
    image.Resize(size, size);
    std::fill(image.rgb.begin(), image.rgb.end(), value);
    return image;
}

inline void AppendFloat(std::string& bytes, float value, bool bigEndian) {
    std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) {
        int shift = bigEndian ? 24 - 8 * i : 8 * i;
        bytes += static_cast<char>((bits >> shift) & 0xff);
    }
}

// A PFM file of image (rows top first in memory, bottom first in the file).
inline std::string PfmBytes(const HdrImage& image, bool bigEndian = false, bool grey = false) {
    std::string bytes = std::string(grey ? "Pf" : "PF") + "\n" + std::to_string(image.width) + " " +
                        std::to_string(image.height) + "\n" + (bigEndian ? "1.0" : "-1.0") + "\n";
    for (int y = image.height - 1; y >= 0; --y) {
        for (int x = 0; x < image.width; ++x) {
            const float* p = image.Pixel(x, y);
            for (int c = 0; c < (grey ? 1 : 3); ++c) {
                AppendFloat(bytes, p[c], bigEndian);
            }
        }
    }
    return bytes;
}

}  // namespace lumeno::testing
