#include "render/dib_image.h"

#include <new>

namespace lumeno {

bool DibImage::Allocate(int newWidth, int newHeight) {
    bits.reset();
    width = height = stride = 0;
    if (newWidth < 1 || newHeight < 1 || newWidth > kMaxSide || newHeight > kMaxSide) {
        return false;
    }
    int newStride = (3 * newWidth + 3) & ~3;
    std::int64_t bytes = std::int64_t{newStride} * newHeight;
    bits.reset(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(bytes)]);
    if (!bits) {
        return false;
    }
    width = newWidth;
    height = newHeight;
    stride = newStride;

    infoHeader = BitmapInfoHeader{};
    infoHeader.width = newWidth;
    infoHeader.height = -newHeight;
    infoHeader.sizeImage = static_cast<std::uint32_t>(bytes);
    infoHeader.xPelsPerMeter = 11811;  // 300 dots per inch
    infoHeader.yPelsPerMeter = 11811;
    infoHeaderCopy = infoHeader;

    fileHeader = BitmapFileHeader{};
    fileHeader.size = static_cast<std::uint32_t>(bytes + 54);
    return true;
}

void DibImage::FromPlanes(const FloatPlane& red, const FloatPlane& green, const FloatPlane& blue) {
    for (int y = 0; y < height; ++y) {
        const float* r = red.Row(y);
        const float* g = green.Row(y);
        const float* b = blue.Row(y);
        std::uint8_t* pixel = PixelAt(0, y);
        for (int x = 0; x < width; ++x, pixel += 3) {
            pixel[0] = DisplayByte(b[x]);
            pixel[1] = DisplayByte(g[x]);
            pixel[2] = DisplayByte(r[x]);
        }
    }
}

bool DibImage::ToPlanes(FloatPlane& red, FloatPlane& green, FloatPlane& blue) const {
    if (!red.Create(width, height) || !green.Create(width, height) || !blue.Create(width, height)) {
        return false;
    }
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* pixel = PixelAt(0, y);
        for (int x = 0; x < width; ++x, pixel += 3) {
            red.At(x, y) = pixel[2];
            green.At(x, y) = pixel[1];
            blue.At(x, y) = pixel[0];
        }
    }
    return true;
}

}  // namespace lumeno
