// Reading BMP files into a DibImage: 24- and 8-bit rows bottom-up or
// top-down, padding skipped, and every malformed file refused with a reason
// before any pixel memory is obtained.
#include <gtest/gtest.h>

#include <climits>
#include <random>

#include "base/dib_image.h"
#include "bmp_bytes.h"
#include "test_support.h"

namespace lumeno {
namespace {

using testing::Bgr;
using testing::Bmp24;
using testing::Bmp24Filled;
using testing::BmpFile;
using testing::PutU16;
using testing::PutU32;
using testing::TempDir;

constexpr Bgr kRed{0, 0, 255};
constexpr Bgr kGreen{0, 255, 0};
constexpr Bgr kBlue{255, 0, 0};
constexpr Bgr kWhite{255, 255, 255};
constexpr Bgr kBlack{0, 0, 0};

struct Planes {
    FloatPlane r, g, b;
};

Planes Split(const DibImage& image) {
    Planes planes;
    EXPECT_TRUE(image.ToPlanes(planes.r, planes.g, planes.b));
    return planes;
}

std::vector<float> Row(const FloatPlane& plane, int y) {
    return {plane.Row(y), plane.Row(y) + plane.width};
}

// Loads bytes written to a scratch file; reason receives the refusal.
bool Load(DibImage& image, std::string_view bytes, std::string* reason = nullptr) {
    TempDir dir;
    return image.LoadFromFile(dir.Write("image.bmp", bytes), reason);
}

// The 3 × 2 picture: top row white, black, white; bottom row red, green, blue.
std::string ThreeByTwo() {
    return Bmp24({{kWhite, kBlack, kWhite}, {kRed, kGreen, kBlue}});
}

TEST(BmpFile, TwentyFourBitRowsLandTopRowFirst) {
    DibImage image;
    ASSERT_TRUE(Load(image, ThreeByTwo()));
    EXPECT_EQ(image.width, 3);
    EXPECT_EQ(image.height, 2);
    EXPECT_EQ(image.stride, 12);
    Planes p = Split(image);
    EXPECT_EQ(Row(p.r, 0), (std::vector<float>{255, 0, 255}));
    EXPECT_EQ(Row(p.r, 1), (std::vector<float>{255, 0, 0}));
    EXPECT_EQ(Row(p.g, 1), (std::vector<float>{0, 255, 0}));
    EXPECT_EQ(Row(p.b, 1), (std::vector<float>{0, 0, 255}));
}

TEST(BmpFile, LoadedHeadersDescribeATopDown24BitImage) {
    DibImage image;
    ASSERT_TRUE(Load(image, ThreeByTwo()));
    EXPECT_EQ(image.infoHeader.width, 3);
    EXPECT_EQ(image.infoHeader.height, -2);
    EXPECT_EQ(image.infoHeader.bitCount, 24);
    EXPECT_EQ(image.infoHeader.sizeImage, 24u);
    EXPECT_EQ(image.infoHeaderCopy.height, -2);
    EXPECT_EQ(image.fileHeader.offBits, 54u);
}

TEST(BmpFile, TopDownFilesAreReadTheRightWayUp) {
    // The same picture with its rows stored top row first and a negative height.
    std::string bottomUp = ThreeByTwo();
    std::string topDown =
        bottomUp.substr(0, 54) + bottomUp.substr(54 + 12, 12) + bottomUp.substr(54, 12);
    PutU32(topDown, testing::kBmpHeightField, static_cast<std::uint32_t>(-2));
    DibImage image;
    ASSERT_TRUE(Load(image, topDown));
    EXPECT_EQ(image.height, 2);
    Planes p = Split(image);
    EXPECT_EQ(Row(p.r, 0), (std::vector<float>{255, 0, 255}));
    EXPECT_EQ(Row(p.r, 1), (std::vector<float>{255, 0, 0}));
}

TEST(BmpFile, EightBitIndicesAreGreyLevelsWhateverThePaletteSays) {
    // Row size 8: five indices and three padding bytes. Every palette entry is red.
    std::string palette;
    for (int i = 0; i < 256; ++i) {
        palette += std::string("\x00\x00\xFF\x00", 4);
    }
    std::string bytes = BmpFile(5, 1, 8, std::string("\x00\x40\x80\xC0\xFF\x07\x07\x07", 8), 1024);
    bytes.replace(54, 1024, palette);
    DibImage image;
    ASSERT_TRUE(Load(image, bytes));
    Planes p = Split(image);
    std::vector<float> expected{0, 64, 128, 192, 255};
    EXPECT_EQ(Row(p.r, 0), expected);
    EXPECT_EQ(Row(p.g, 0), expected);
    EXPECT_EQ(Row(p.b, 0), expected);
}

TEST(BmpFile, EightBitRowsSkipTheirPadding) {
    // 6 × 2: each file row is 8 bytes, the second starting 8 bytes after the first.
    std::string rows("\x01\x02\x03\x04\x05\x06\xEE\xEE\x0B\x0C\x0D\x0E\x0F\x10\xEE\xEE", 16);
    DibImage image;
    ASSERT_TRUE(Load(image, BmpFile(6, 2, 8, rows)));
    Planes p = Split(image);
    EXPECT_EQ(Row(p.g, 1), (std::vector<float>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(Row(p.g, 0), (std::vector<float>{11, 12, 13, 14, 15, 16}));
}

TEST(BmpFile, EightBitRowsOfAnyWidthAreRead) {
    constexpr int kWidth = 3001;  // row size 3004, far beyond 1024 bytes
    std::string rows;
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3004; ++x) {
            rows += static_cast<char>((x + 7 * y) & 0xFF);
        }
    }
    DibImage image;
    ASSERT_TRUE(Load(image, BmpFile(kWidth, 2, 8, rows)));
    Planes p = Split(image);
    EXPECT_EQ(p.b.At(kWidth - 1, 1), static_cast<float>((kWidth - 1) & 0xFF));
    EXPECT_EQ(p.b.At(kWidth - 1, 0), static_cast<float>((kWidth - 1 + 7) & 0xFF));
}

// The last row's padding holds no pixels: a file without it is whole.
TEST(BmpFile, AFileWithEveryPixelIsReadEvenWithoutTheLastPadding) {
    std::string bytes = Bmp24({{kRed}, {kGreen}});  // 1 x 2: rows of 3 pixel bytes and 1 pad
    ASSERT_EQ(bytes.size(), 62u);
    for (std::size_t size : {62u, 61u}) {
        DibImage image;
        ASSERT_TRUE(Load(image, bytes.substr(0, size))) << size;
        Planes planes = Split(image);
        EXPECT_EQ(Row(planes.r, 0), std::vector<float>{255.0f}) << size;
        EXPECT_EQ(Row(planes.g, 1), std::vector<float>{255.0f}) << size;
    }
    DibImage image;
    std::string reason;
    EXPECT_FALSE(Load(image, bytes.substr(0, 60), &reason));
    EXPECT_NE(reason.find("shorter"), std::string::npos) << reason;
}

// A refused file names why and leaves the image as it was.
void ExpectRefused(std::string_view bytes, std::string_view because) {
    DibImage image;
    ASSERT_TRUE(image.Allocate(2, 2));
    std::string reason;
    EXPECT_FALSE(Load(image, bytes, &reason)) << because;
    EXPECT_NE(reason.find(because), std::string::npos) << "reason: " << reason;
    EXPECT_EQ(image.width, 2);
    EXPECT_EQ(image.height, 2);
    EXPECT_FALSE(image.Empty());
}

TEST(BmpFile, DepthsOtherThan24And8AreRefused) {
    for (std::uint16_t depth : {1, 4, 16, 32, 0, 65535}) {
        std::string bytes = ThreeByTwo();
        PutU16(bytes, testing::kBmpBitCountField, depth);
        ExpectRefused(bytes, std::to_string(depth) + " bits per pixel");
    }
}

TEST(BmpFile, CompressedFilesAreRefused) {
    for (std::uint32_t compression : {1u, 2u, 3u, 4u}) {
        std::string bytes = ThreeByTwo();
        PutU32(bytes, testing::kBmpCompressionField, compression);
        ExpectRefused(bytes, "compressed");
    }
}

TEST(BmpFile, SidesOfZeroOrAboveTheLimitAreRefused) {
    const std::int32_t sizes[][2] = {{0, 2},         {3, 0},         {-3, 2},
                                     {16385, 2},     {3, 16385},     {3, -16385},
                                     {3, INT32_MIN}, {INT32_MIN, 2}, {INT32_MAX, INT32_MAX}};
    for (const auto& size : sizes) {
        std::string bytes = ThreeByTwo();
        PutU32(bytes, testing::kBmpWidthField, static_cast<std::uint32_t>(size[0]));
        PutU32(bytes, testing::kBmpHeightField, static_cast<std::uint32_t>(size[1]));
        ExpectRefused(bytes, "outside 1");
    }
}

TEST(BmpFile, HugeSidesInASmallFileAreRefusedBeforeAllocating) {
    // 16384 × 16384 at 24 bits would need 768 MiB; the file holds 12 bytes of pixels.
    std::string bytes = ThreeByTwo();
    PutU32(bytes, testing::kBmpWidthField, 16384);
    PutU32(bytes, testing::kBmpHeightField, static_cast<std::uint32_t>(-16384));
    ExpectRefused(bytes, "shorter than its headers promise");
}

TEST(BmpFile, TruncatedHeadersAreRefused) {
    std::string bytes = ThreeByTwo();
    for (std::size_t length : {0u, 2u, 14u, 30u, 53u}) {
        ExpectRefused(bytes.substr(0, length), "shorter than its headers promise");
    }
}

TEST(BmpFile, APixelOffsetPastTheEndIsRefused) {
    std::string bytes = ThreeByTwo();
    PutU32(bytes, testing::kBmpPixelOffsetField, static_cast<std::uint32_t>(bytes.size()));
    ExpectRefused(bytes, "shorter than its headers promise");
    PutU32(bytes, testing::kBmpPixelOffsetField, 0xFFFFFFFFu);
    ExpectRefused(bytes, "shorter than its headers promise");
    PutU32(bytes, testing::kBmpPixelOffsetField, 20);
    ExpectRefused(bytes, "inside the headers");
}

TEST(BmpFile, MissingRowsAreRefused) {
    std::string bytes = ThreeByTwo();
    ExpectRefused(bytes.substr(0, bytes.size() - 4), "shorter than its headers promise");
    ExpectRefused(bytes.substr(0, 54), "shorter than its headers promise");
}

TEST(BmpFile, OtherFilesAreRefused) {
    std::string bytes = ThreeByTwo();
    bytes[0] = 'P';
    ExpectRefused(bytes, "no \"BM\" signature");
    bytes = ThreeByTwo();
    PutU32(bytes, testing::kBmpInfoSizeField, 12);  // the old 12-byte core header
    ExpectRefused(bytes, "info header");

    DibImage image;
    std::string reason;
    TempDir dir;
    EXPECT_FALSE(image.LoadFromFile(dir.Path("absent.bmp"), &reason));
    EXPECT_EQ(reason.rfind("cannot be opened", 0), 0u) << reason;
    EXPECT_FALSE(image.LoadFromFile(dir.Root(), &reason));
    EXPECT_FALSE(reason.empty());
    EXPECT_TRUE(image.Empty());
}

TEST(BmpFile, GarbageNeverLoadsWithoutReasonOrHarm) {
    TempDir dir;
    auto load = [&dir](DibImage& image, const std::string& bytes, std::string* reason) {
        return image.LoadFromFile(dir.Write("garbage.bmp", bytes), reason);
    };
    std::mt19937 engine(99);
    for (int round = 0; round < 300; ++round) {
        std::string bytes(static_cast<std::size_t>(engine() % 200), '\0');
        for (char& c : bytes) {
            c = static_cast<char>(engine() & 0xFF);
        }
        if (round % 2 == 1 && bytes.size() >= 2) {
            bytes[0] = 'B';
            bytes[1] = 'M';
        }
        DibImage image;
        std::string reason;
        if (!load(image, bytes, &reason)) {
            EXPECT_FALSE(reason.empty());
            EXPECT_TRUE(image.Empty());
        }
    }
    // Well-formed headers with one random field each: loaded or refused, never harmful.
    for (int round = 0; round < 300; ++round) {
        std::string bytes = ThreeByTwo();
        PutU32(bytes, 10 + 4 * (engine() % 10), engine());
        DibImage image;
        std::string reason;
        if (load(image, bytes, &reason)) {
            Planes p = Split(image);
            EXPECT_EQ(p.r.width, image.width);
        } else {
            EXPECT_FALSE(reason.empty());
        }
    }
}

TEST(BmpFile, ALoadReplacesThePreviousImage) {
    DibImage image;
    ASSERT_TRUE(image.Allocate(40, 30));
    ASSERT_TRUE(Load(image, ThreeByTwo()));
    EXPECT_EQ(image.width, 3);
    EXPECT_EQ(image.height, 2);
    EXPECT_EQ(image.stride, 12);
    Planes p = Split(image);
    EXPECT_EQ(Row(p.r, 0), (std::vector<float>{255, 0, 255}));
}

}  // namespace
}  // namespace lumeno
