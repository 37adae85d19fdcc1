// Builds BMP files byte by byte for the bitmap and material tests: a 14-byte
// file header, a 40-byte info header, an optional palette, then the pixel rows
// in file order with their padding. Fields can be patched afterwards to make
// hostile files.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lumeno::testing {

struct Bgr {
    std::uint8_t b, g, r;
};

inline void PutU16(std::string& bytes, std::size_t offset, std::uint16_t value) {
    bytes[offset] = static_cast<char>(value & 0xFF);
    bytes[offset + 1] = static_cast<char>(value >> 8);
}

inline void PutU32(std::string& bytes, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[offset + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

// Offsets of the header fields in the file.
inline constexpr std::size_t kBmpPixelOffsetField = 10;
inline constexpr std::size_t kBmpInfoSizeField = 14;
inline constexpr std::size_t kBmpWidthField = 18;
inline constexpr std::size_t kBmpHeightField = 22;
inline constexpr std::size_t kBmpBitCountField = 28;
inline constexpr std::size_t kBmpCompressionField = 30;

// Headers for width × height (height as stored: negative for top-down) and
// bitCount, then paletteBytes of palette, then pixelRows as given.
inline std::string BmpFile(std::int32_t width, std::int32_t height, std::uint16_t bitCount,
                           std::string_view pixelRows, std::uint32_t paletteBytes = 0) {
    std::string bytes(54 + paletteBytes, '\0');
    bytes[0] = 'B';
    bytes[1] = 'M';
    std::uint32_t offset = 54 + paletteBytes;
    PutU32(bytes, 2, offset + static_cast<std::uint32_t>(pixelRows.size()));
    PutU32(bytes, kBmpPixelOffsetField, offset);
    PutU32(bytes, kBmpInfoSizeField, 40);
    PutU32(bytes, kBmpWidthField, static_cast<std::uint32_t>(width));
    PutU32(bytes, kBmpHeightField, static_cast<std::uint32_t>(height));
    PutU16(bytes, 26, 1);
    PutU16(bytes, kBmpBitCountField, bitCount);
    PutU32(bytes, 34, static_cast<std::uint32_t>(pixelRows.size()));
    bytes += pixelRows;
    return bytes;
}

// A 24-bit bottom-up bitmap; rows are given top row first, as seen.
inline std::string Bmp24(const std::vector<std::vector<Bgr>>& rowsTopFirst) {
    auto width = static_cast<std::int32_t>(rowsTopFirst.empty() ? 0 : rowsTopFirst[0].size());
    std::size_t rowSize = (3 * static_cast<std::size_t>(width) + 3) & ~std::size_t{3};
    std::string rows;
    for (auto row = rowsTopFirst.rbegin(); row != rowsTopFirst.rend(); ++row) {
        std::string fileRow(rowSize, '\0');
        for (std::size_t x = 0; x < row->size(); ++x) {
            fileRow[3 * x] = static_cast<char>((*row)[x].b);
            fileRow[3 * x + 1] = static_cast<char>((*row)[x].g);
            fileRow[3 * x + 2] = static_cast<char>((*row)[x].r);
        }
        rows += fileRow;
    }
    return BmpFile(width, static_cast<std::int32_t>(rowsTopFirst.size()), 24, rows);
}

// A width × height 24-bit bitmap of one colour.
inline std::string Bmp24Filled(int width, int height, Bgr colour) {
    return Bmp24(
        std::vector<std::vector<Bgr>>(static_cast<std::size_t>(height),
                                      std::vector<Bgr>(static_cast<std::size_t>(width), colour)));
}

}  // namespace lumeno::testing
