// FloatPlane: one image channel held as 32-bit floats, row 0 at the top.
// Textures, the light probe and the render window's accumulation and display
// buffers are all made of planes. Texture samples stay on the 0 … 255 scale of
// their source bitmap.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace lumeno {

class FloatPlane {
  public:
    // Largest number of samples one plane may hold (16384 × 16384): sizes come
    // from files, so they are checked before anything is allocated.
    static constexpr std::int64_t kMaxSamples = std::int64_t{16384} * 16384;

    FloatPlane() = default;
    FloatPlane(const FloatPlane&) = delete;
    FloatPlane& operator=(const FloatPlane&) = delete;
    FloatPlane(FloatPlane&&) = default;
    FloatPlane& operator=(FloatPlane&&) = default;
    virtual ~FloatPlane() = default;

    // Frees the samples and sets every size to 0.
    virtual void Release();

    // Releases, then allocates width × height samples (contents undefined).
    // Returns false, allocating nothing, for a size ≤ 0, above kMaxSamples, or
    // when memory runs out.
    virtual bool Create(int width, int height);

    float* Row(int y) { return rows[static_cast<std::size_t>(y)]; }
    const float* Row(int y) const { return rows[static_cast<std::size_t>(y)]; }
    float& At(int x, int y) { return Row(y)[x]; }
    float At(int x, int y) const { return Row(y)[x]; }
    bool Empty() const { return width <= 0 || height <= 0; }

    // Sets every sample to value.
    void Fill(float value);

    std::unique_ptr<float[]> pixels;
    std::vector<float*> rows;
    int width = 0;
    int height = 0;
    int stride = 0;
};

}  // namespace lumeno
