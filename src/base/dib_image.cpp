#include "base/dib_image.h"

#include <sys/types.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

#include "base/file_io.h"

namespace lumeno {
namespace {

constexpr int kFileHeaderSize = 14;
constexpr int kInfoHeaderSize = 40;
constexpr int kHeadersSize = kFileHeaderSize + kInfoHeaderSize;

std::uint16_t ReadU16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t ReadU32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::int32_t ReadI32(const unsigned char* p) {
    return static_cast<std::int32_t>(ReadU32(p));
}

bool Refuse(std::string* reason, std::string text) {
    if (reason != nullptr) {
        *reason = std::move(text);
    }
    return false;
}

}  // namespace

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
    FromPlaneRows(red, green, blue, 0, height);
}

void DibImage::FromPlaneRows(const FloatPlane& red, const FloatPlane& green, const FloatPlane& blue,
                             int first, int end) {
    for (int y = first; y < end; ++y) {
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

bool DibImage::LoadFromFile(const std::string& fileName, std::string* reason,
                            const std::function<std::string(int width, int height)>& checkSize) {
    RegularFile opened;
    if (!opened.Open(fileName)) {
        return Refuse(reason, opened.WasNotRegular() ? "is " + opened.Why()
                                                     : "cannot be opened: " + opened.Why());
    }
    std::FILE* const file = opened.Stream();
    const std::int64_t fileSize = opened.Size();

    unsigned char headers[kHeadersSize];
    if (fileSize < kHeadersSize ||
        std::fread(headers, 1, kHeadersSize, file) != static_cast<std::size_t>(kHeadersSize)) {
        return Refuse(reason, "shorter than its headers promise: " + std::to_string(fileSize) +
                                  " bytes, " + std::to_string(kHeadersSize) +
                                  " needed for the file and info headers");
    }
    if (headers[0] != 'B' || headers[1] != 'M') {
        return Refuse(reason, "not a BMP file (no \"BM\" signature)");
    }
    const unsigned char* infoBytes = headers + kFileHeaderSize;
    const std::uint32_t pixelOffset = ReadU32(headers + 10);
    const std::uint32_t infoSize = ReadU32(infoBytes);
    const std::int32_t fileWidth = ReadI32(infoBytes + 4);
    const std::int32_t fileHeight = ReadI32(infoBytes + 8);
    const std::uint16_t bitCount = ReadU16(infoBytes + 14);
    const std::uint32_t compression = ReadU32(infoBytes + 16);

    if (infoSize < static_cast<std::uint32_t>(kInfoHeaderSize)) {
        return Refuse(reason, "unsupported info header of " + std::to_string(infoSize) +
                                  " bytes (at least 40 needed)");
    }
    if (compression != 0) {
        return Refuse(reason, "compressed (compression code " + std::to_string(compression) + ")");
    }
    if (bitCount != 24 && bitCount != 8) {
        return Refuse(reason, std::to_string(bitCount) +
                                  " bits per pixel; only 24- and 8-bit bitmaps are read");
    }
    // A negative height marks rows stored top-down; its magnitude is taken in
    // 64 bits so that -2^31 cannot overflow.
    const bool topDown = fileHeight < 0;
    const std::int64_t rowCount = topDown ? -std::int64_t{fileHeight} : std::int64_t{fileHeight};
    if (fileWidth <= 0 || fileWidth > kMaxSide || rowCount == 0 || rowCount > kMaxSide) {
        return Refuse(reason, "size " + std::to_string(fileWidth) + " x " +
                                  std::to_string(fileHeight) + " outside 1 ... " +
                                  std::to_string(kMaxSide) + " per side");
    }
    if (pixelOffset < static_cast<std::uint32_t>(kHeadersSize)) {
        return Refuse(reason, "pixel data offset " + std::to_string(pixelOffset) +
                                  " lies inside the headers");
    }
    const std::int64_t fileRowSize = bitCount == 24
                                         ? (3 * std::int64_t{fileWidth} + 3) & ~std::int64_t{3}
                                         : (std::int64_t{fileWidth} + 3) & ~std::int64_t{3};
    // The last row's padding holds no pixels, and some writers leave it out.
    const std::int64_t pixelBytes =
        bitCount == 24 ? 3 * std::int64_t{fileWidth} : std::int64_t{fileWidth};
    const std::int64_t pixelEnd =
        std::int64_t{pixelOffset} + fileRowSize * (rowCount - 1) + pixelBytes;
    if (fileSize < pixelEnd) {
        return Refuse(reason, "shorter than its headers promise: " + std::to_string(fileSize) +
                                  " bytes, pixel rows need " + std::to_string(pixelEnd));
    }
    if (fseeko(file, static_cast<off_t>(pixelOffset), SEEK_SET) != 0) {
        return Refuse(reason, "cannot seek to the pixel data");
    }

    DibImage loaded;
    const int w = fileWidth;
    const int h = static_cast<int>(rowCount);
    if (checkSize) {
        if (std::string refusal = checkSize(w, h); !refusal.empty()) {
            return Refuse(reason, std::move(refusal));
        }
    }
    if (!loaded.Allocate(w, h)) {
        return Refuse(reason, "out of memory for " + std::to_string(w) + " x " + std::to_string(h) +
                                  " pixels");
    }
    std::vector<unsigned char> indices;
    if (bitCount == 8) {
        indices.resize(static_cast<std::size_t>(fileRowSize));
    }
    for (int i = 0; i < h; ++i) {
        std::uint8_t* row = loaded.PixelAt(0, topDown ? i : h - 1 - i);
        // Every row but the file's last must be whole; that one needs only
        // its pixels, and padding it lacks reads as zeros.
        const auto need = static_cast<std::size_t>(i == h - 1 ? pixelBytes : fileRowSize);
        bool complete;
        if (bitCount == 24) {
            // The file row and the image row have the same size, padding included.
            const auto size = static_cast<std::size_t>(loaded.stride);
            const std::size_t got = std::fread(row, 1, size, file);
            std::fill(row + got, row + size, std::uint8_t{0});
            complete = got >= need;
        } else {
            const std::size_t got = std::fread(indices.data(), 1, indices.size(), file);
            complete = got >= need;
            for (int x = 0; complete && x < w; ++x) {
                row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = indices[static_cast<std::size_t>(x)];
            }
        }
        if (!complete) {
            return Refuse(reason, "read error in pixel row " + std::to_string(i));
        }
    }

    bits = std::move(loaded.bits);
    infoHeader = loaded.infoHeader;
    infoHeaderCopy = loaded.infoHeaderCopy;
    fileHeader = loaded.fileHeader;
    width = loaded.width;
    height = loaded.height;
    stride = loaded.stride;
    return true;
}

}  // namespace lumeno
