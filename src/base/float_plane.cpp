#include "base/float_plane.h"

#include <algorithm>
#include <new>

namespace lumeno {

void FloatPlane::Release() {
    pixels.reset();
    rows.clear();
    rows.shrink_to_fit();
    width = 0;
    height = 0;
    stride = 0;
}

bool FloatPlane::Create(int newWidth, int newHeight) {
    Release();
    if (newWidth <= 0 || newHeight <= 0) {
        return false;
    }
    std::int64_t samples = std::int64_t{newWidth} * newHeight;
    if (samples > kMaxSamples) {
        return false;
    }
    pixels.reset(new (std::nothrow) float[static_cast<std::size_t>(samples)]);
    if (!pixels) {
        return false;
    }
    try {
        rows.resize(static_cast<std::size_t>(newHeight));
    } catch (const std::bad_alloc&) {
        pixels.reset();
        return false;
    }
    for (int y = 0; y < newHeight; ++y) {
        rows[static_cast<std::size_t>(y)] = pixels.get() + std::int64_t{y} * newWidth;
    }
    width = newWidth;
    height = newHeight;
    stride = newWidth * 4;
    return true;
}

void FloatPlane::Fill(float value) {
    if (pixels) {
        std::fill_n(pixels.get(), std::int64_t{width} * height, value);
    }
}

}  // namespace lumeno
