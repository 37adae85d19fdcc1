// DibImage: a 24-bit, top-down, blue-green-red bitmap with its info and file
// headers. It is the pixel memory of the render window, the landing place of
// BMP texture files and the source that sizes the light probe's planes. Rows
// are stride bytes apart, stride being 3 × width rounded up to a multiple of 4.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/float_plane.h"

namespace lumeno {

struct BitmapInfoHeader {
    std::uint32_t size = 40;
    std::int32_t width = 0;
    std::int32_t height = 0;  // negative: rows stored top-down
    std::uint16_t planes = 1;
    std::uint16_t bitCount = 24;
    std::uint32_t compression = 0;
    std::uint32_t sizeImage = 0;
    std::int32_t xPelsPerMeter = 0;
    std::int32_t yPelsPerMeter = 0;
    std::uint32_t clrUsed = 0;
    std::uint32_t clrImportant = 0;
};

struct BitmapFileHeader {
    std::uint16_t type = 0x4D42;  // "BM"
    std::uint32_t size = 0;
    std::uint16_t reserved1 = 0;
    std::uint16_t reserved2 = 0;
    std::uint32_t offBits = 54;
};

class DibImage {
  public:
    // Sides are limited so that a bitmap never needs more than about 800 MB.
    static constexpr int kMaxSide = 16384;

    DibImage() = default;
    DibImage(const DibImage&) = delete;
    DibImage& operator=(const DibImage&) = delete;
    virtual ~DibImage() = default;

    // Sets the size, stride and both headers for a W × H top-down 24-bit
    // image and obtains fresh (unspecified) pixel memory, releasing the old.
    // Returns false, leaving the image empty, for sides outside 1 … kMaxSide
    // or when memory runs out.
    bool Allocate(int width, int height);

    // Address of the pixel at column x, row y (row 0 at the top).
    std::uint8_t* PixelAt(int x, int y) {
        return bits.get() + static_cast<std::int64_t>(y) * stride + 3 * x;
    }
    const std::uint8_t* PixelAt(int x, int y) const {
        return bits.get() + static_cast<std::int64_t>(y) * stride + 3 * x;
    }

    // Fills every pixel from three planes of at least width × height: each
    // value clamped to 0 … 255 (NaN gives 0) and truncated.
    void FromPlanes(const FloatPlane& red, const FloatPlane& green, const FloatPlane& blue);
    // The same for rows [first, end) only.
    void FromPlaneRows(const FloatPlane& red, const FloatPlane& green, const FloatPlane& blue,
                       int first, int end);

    // Creates each plane at width × height and copies the red, green and blue
    // bytes into them as floats (0 … 255). The same plane may be given more
    // than once; it then ends up holding the last channel written (blue).
    bool ToPlanes(FloatPlane& red, FloatPlane& green, FloatPlane& blue) const;

    // Reads an uncompressed BMP file of 24 or 8 bits per pixel into this
    // image: 24-bit, top-down, blue-green-red, with headers as Allocate sets
    // them. Rows stored bottom-up (positive height) and top-down (negative
    // height) both land with the picture's top row first. An 8-bit file is
    // read as grey levels equal to its colour indices; its palette is ignored.
    // Returns false, leaving the image as it was, when the file cannot be
    // opened or is refused: not a regular file, no "BM" signature, an info
    // header shorter than 40 bytes, compression, another depth, a side of 0
    // or above kMaxSide, or a file shorter than its headers promise. Sizes are
    // checked before any memory is obtained; checkSize, when given, may then
    // refuse the size too by returning a reason (empty text accepts it).
    // *reason, when given, says why a file was refused.
    bool LoadFromFile(const std::string& fileName, std::string* reason = nullptr,
                      const std::function<std::string(int width, int height)>& checkSize = {});

    bool Empty() const { return bits == nullptr; }

    std::unique_ptr<std::uint8_t[]> bits;
    BitmapInfoHeader infoHeader;
    BitmapInfoHeader infoHeaderCopy;
    BitmapFileHeader fileHeader;
    int height = 0;
    int width = 0;
    int stride = 0;
};

// The display value of one channel: v ≤ 0 (and NaN) gives 0, v ≥ 255 gives
// 255, anything between is truncated.
inline std::uint8_t DisplayByte(float v) {
    if (!(v > 0.0f)) {
        return 0;
    }
    if (!(v < 255.0f)) {
        return 255;
    }
    return static_cast<std::uint8_t>(v);
}

}  // namespace lumeno
