#include "base/pfm_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "base/dib_image.h"
#include "base/file_io.h"
#include "test_support.h"

namespace lumeno {
namespace {

using testing::ReadFile;
using testing::TempDir;

void SetPlane(FloatPlane& plane, int width, int height, std::initializer_list<float> values) {
    ASSERT_TRUE(plane.Create(width, height));
    int i = 0;
    for (float v : values) {
        plane.At(i % width, i / width) = v;
        ++i;
    }
}

std::vector<float> PfmFloats(const std::string& bytes, std::size_t header) {
    std::vector<float> floats((bytes.size() - header) / 4);
    std::memcpy(floats.data(), bytes.data() + header, floats.size() * 4);
    return floats;
}

TEST(WritePfm, TwoByOneImageIsFortyOneBytes) {
    TempDir dir;
    FloatPlane r, g, b;
    SetPlane(r, 2, 1, {2, 4});
    SetPlane(g, 2, 1, {0, 0});
    SetPlane(b, 2, 1, {6, 8});
    std::string path = dir.Path("image.pfm");
    ASSERT_TRUE(WritePfm(path, r, g, b, 2.0f));
    std::string bytes = ReadFile(path);
    ASSERT_EQ(bytes.size(), 41u);
    EXPECT_EQ(bytes.substr(0, 17), "PF\n2\n1\n-1.000000\n");
    EXPECT_EQ(PfmFloats(bytes, 17), (std::vector<float>{1, 0, 3, 2, 0, 4}));
}

TEST(WritePfm, RowsRunBottomToTop) {
    TempDir dir;
    FloatPlane r, g, b;
    SetPlane(r, 1, 2, {10, 20});
    SetPlane(g, 1, 2, {0, 0});
    SetPlane(b, 1, 2, {0, 0});
    std::string path = dir.Path("image.pfm");
    ASSERT_TRUE(WritePfm(path, r, g, b, 1.0f));
    EXPECT_EQ(PfmFloats(ReadFile(path), 17), (std::vector<float>{20, 0, 0, 10, 0, 0}));
}

TEST(WritePfm, ScalesByTheFloatReciprocal) {
    TempDir dir;
    FloatPlane r, g, b;
    SetPlane(r, 1, 1, {1});
    SetPlane(g, 1, 1, {3});
    SetPlane(b, 1, 1, {7});
    std::string path = dir.Path("image.pfm");
    ASSERT_TRUE(WritePfm(path, r, g, b, 3.0f));
    float third = 1.0f / 3.0f;
    EXPECT_EQ(PfmFloats(ReadFile(path), 17), (std::vector<float>{third, third * 3, third * 7}));
}

TEST(WritePfm, AFailedWriteLeavesThePreviousFileAndSaysWhy) {
    TempDir dir;
    FloatPlane r, g, b;
    SetPlane(r, 1, 1, {1});
    SetPlane(g, 1, 1, {1});
    SetPlane(b, 1, 1, {1});
    Status failed = WritePfm(dir.Path("missing/x.pfm"), r, g, b, 1.0f);
    EXPECT_FALSE(failed);
    EXPECT_NE(failed.Message().find("missing"), std::string::npos);

    std::string path = dir.Write("keep.pfm", "previous");
    FloatPlane empty;
    EXPECT_FALSE(WritePfm(path, empty, g, b, 1.0f));
    EXPECT_EQ(ReadFile(path), "previous");
    ASSERT_TRUE(WritePfm(path, r, g, b, 1.0f));
    EXPECT_EQ(ReadFile(path).size(), 17u + 12u);
}

// A link standing at the temporary's name is replaced, not written through.
TEST(WritePfm, NeverWritesThroughALinkAtItsTemporaryName) {
    TempDir dir;
    FloatPlane r, g, b;
    SetPlane(r, 1, 1, {1});
    SetPlane(g, 1, 1, {1});
    SetPlane(b, 1, 1, {1});
    const std::string victim = dir.Write("victim.txt", "untouched");
    const std::string path = dir.Path("x.pfm");
    ASSERT_EQ(symlink(victim.c_str(), TemporaryPathFor(path).c_str()), 0);
    ASSERT_TRUE(WritePfm(path, r, g, b, 1.0f));
    EXPECT_EQ(ReadFile(victim), "untouched");
    EXPECT_EQ(ReadFile(path).size(), 17u + 12u);
}

TEST(DisplayByte, ClampsAndTruncates) {
    EXPECT_EQ(DisplayByte(254.9f), 254);
    EXPECT_EQ(DisplayByte(255.0f), 255);
    EXPECT_EQ(DisplayByte(1e30f), 255);
    EXPECT_EQ(DisplayByte(-3.0f), 0);
    EXPECT_EQ(DisplayByte(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(DisplayByte(std::numeric_limits<float>::infinity()), 255);
    EXPECT_EQ(DisplayByte(0.99f), 0);
}

TEST(DibImage, AllocateSetsStrideAndHeaders) {
    DibImage image;
    ASSERT_TRUE(image.Allocate(320, 240));
    EXPECT_EQ(image.stride, 960);
    EXPECT_EQ(image.infoHeader.sizeImage, 230400u);
    EXPECT_EQ(image.fileHeader.size, 230454u);
    EXPECT_EQ(image.infoHeader.height, -240);
    EXPECT_EQ(image.infoHeader.width, 320);
    EXPECT_EQ(image.infoHeader.bitCount, 24);
    EXPECT_EQ(image.infoHeader.xPelsPerMeter, 11811);
    EXPECT_EQ(image.infoHeaderCopy.sizeImage, 230400u);
    EXPECT_EQ(image.fileHeader.type, 0x4D42);
    EXPECT_EQ(image.fileHeader.offBits, 54u);
    ASSERT_TRUE(image.Allocate(5, 1));
    EXPECT_EQ(image.stride, 16);
    EXPECT_EQ(image.PixelAt(2, 0), image.bits.get() + 6);
}

TEST(DibImage, AllocateRefusesImpossibleSizes) {
    DibImage image;
    EXPECT_FALSE(image.Allocate(0, 10));
    EXPECT_FALSE(image.Allocate(10, -1));
    EXPECT_FALSE(image.Allocate(DibImage::kMaxSide + 1, 1));
    EXPECT_TRUE(image.Empty());
    EXPECT_EQ(image.width, 0);
}

TEST(DibImage, FromPlanesStoresBlueGreenRedAndToPlanesReadsThemBack) {
    FloatPlane r, g, b;
    SetPlane(r, 2, 2, {10.7f, 300, -1, std::nanf("")});
    SetPlane(g, 2, 2, {20, 21, 22, 23});
    SetPlane(b, 2, 2, {30, 31, 32, 254.9f});
    DibImage image;
    ASSERT_TRUE(image.Allocate(2, 2));
    image.FromPlanes(r, g, b);
    const std::uint8_t* p = image.PixelAt(0, 0);
    EXPECT_EQ(p[0], 30);
    EXPECT_EQ(p[1], 20);
    EXPECT_EQ(p[2], 10);
    EXPECT_EQ(image.PixelAt(1, 0)[2], 255);
    EXPECT_EQ(image.PixelAt(0, 1)[2], 0);
    EXPECT_EQ(image.PixelAt(1, 1)[2], 0);
    EXPECT_EQ(image.PixelAt(1, 1)[0], 254);

    FloatPlane r2, g2, b2;
    ASSERT_TRUE(image.ToPlanes(r2, g2, b2));
    EXPECT_EQ(r2.At(0, 0), 10.0f);
    EXPECT_EQ(g2.At(1, 1), 23.0f);
    EXPECT_EQ(b2.At(1, 0), 31.0f);

    // One plane given three times ends up holding the blue channel.
    FloatPlane only;
    ASSERT_TRUE(image.ToPlanes(only, only, only));
    EXPECT_EQ(only.At(0, 0), 30.0f);
    EXPECT_EQ(only.At(1, 1), 254.0f);
}

}  // namespace
}  // namespace lumeno
