// Reading source images: PFM in both byte orders and both channel counts,
// Radiance .hdr and OpenEXR, recognised by content; malformed files refused
// with a reason and without allocating what their headers claim.
#include "probe/hdr_image.h"

#include <ImfRgbaFile.h>
#include <gtest/gtest.h>
#include <stb_image_write.h>

#include <cmath>
#include <limits>

#include "probe_test_support.h"
#include "test_support.h"

namespace lumeno::probe {
namespace {

using lumeno::testing::PfmBytes;
using lumeno::testing::TempDir;

// A 3 × 2 image whose values tell pixel and channel apart.
HdrImage Sample() {
    HdrImage image;
    image.Resize(3, 2);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            for (int c = 0; c < 3; ++c) {
                image.Pixel(x, y)[c] = static_cast<float>(100 * y + 10 * x + c) + 0.5f;
            }
        }
    }
    return image;
}

void ExpectSameImage(const HdrImage& a, const HdrImage& b, float tolerance) {
    ASSERT_EQ(a.width, b.width);
    ASSERT_EQ(a.height, b.height);
    for (std::size_t i = 0; i < a.rgb.size(); ++i) {
        EXPECT_NEAR(a.rgb[i], b.rgb[i], tolerance * std::fabs(b.rgb[i])) << "value " << i;
    }
}

TEST(ReadPfm, ReadsBothByteOrdersWithTheTopRowFirst) {
    TempDir dir;
    for (bool bigEndian : {false, true}) {
        std::string path = dir.Write("image.pfm", PfmBytes(Sample(), bigEndian));
        HdrImage image;
        std::string error;
        ASSERT_TRUE(ReadHdrImage(path, image, error)) << error;
        ExpectSameImage(image, Sample(), 0.0f);
    }
}

TEST(ReadPfm, GreyFilesFillAllThreeChannels) {
    TempDir dir;
    std::string path = dir.Write("grey.pfm", PfmBytes(Sample(), false, true));
    HdrImage image;
    std::string error;
    ASSERT_TRUE(ReadHdrImage(path, image, error)) << error;
    EXPECT_EQ(image.Pixel(2, 0)[0], Sample().Pixel(2, 0)[0]);
    EXPECT_EQ(image.Pixel(2, 0)[1], Sample().Pixel(2, 0)[0]);
    EXPECT_EQ(image.Pixel(2, 0)[2], Sample().Pixel(2, 0)[0]);
}

TEST(ReadPfm, RefusesMalformedFilesWithAReason) {
    TempDir dir;
    std::string good = PfmBytes(Sample());
    HdrImage nan = Sample();
    nan.Pixel(1, 1)[2] = std::numeric_limits<float>::quiet_NaN();
    HdrImage infinite = Sample();
    infinite.Pixel(0, 0)[0] = std::numeric_limits<float>::infinity();
    struct Case {
        const char* name;
        std::string bytes;
        const char* reason;
    };
    const Case cases[] = {
        {"truncated", good.substr(0, good.size() - 1), "shorter than its header"},
        {"header only", "PF\n3 2\n-1.0\n", "shorter than its header"},
        {"no size", "PF\n", "width and height"},
        {"signed width", "PF\n-3 2\n-1.0\n", "width and height"},
        {"zero width", "PF\n0 2\n-1.0\n", "not supported"},
        {"zero scale", "PF\n3 2\n0\n" + good.substr(12), "scale"},
        {"text scale", "PF\n3 2\nabc\n" + good.substr(12), "scale"},
        // Far beyond any memory: refused from the header alone.
        {"huge", "PF\n999999999 999999999\n-1.0\n", "not supported"},
        {"too many pixels", "PF\n30000 30000\n-1.0\n", "not supported"},
        {"not a number", PfmBytes(nan), "not finite"},
        {"infinite", PfmBytes(infinite), "not finite"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir.Write("bad.pfm", c.bytes);
        HdrImage image;
        std::string error;
        EXPECT_FALSE(ReadHdrImage(path, image, error));
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_NE(error.find(path), std::string::npos) << error;
        EXPECT_TRUE(image.rgb.empty());
    }
}

TEST(ReadHdrImage, RefusesMissingAndUnknownFiles) {
    TempDir dir;
    HdrImage image;
    std::string error;
    EXPECT_FALSE(ReadHdrImage(dir.Path("missing.hdr"), image, error));
    EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
    EXPECT_FALSE(ReadHdrImage(dir.Root(), image, error));
    EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
    std::string png = dir.Write("picture.png", "\x89PNG\r\n\x1a\n0000");
    EXPECT_FALSE(ReadHdrImage(png, image, error));
    EXPECT_NE(error.find("not a Radiance"), std::string::npos) << error;
    std::string empty = dir.Write("empty.hdr", "");
    EXPECT_FALSE(ReadHdrImage(empty, image, error));
    std::string garbage = dir.Write("garbage.exr", "this is not an image at all");
    EXPECT_FALSE(ReadHdrImage(garbage, image, error));
    EXPECT_NE(error.find("OpenEXR"), std::string::npos) << error;
}

TEST(DetectImageFormat, ContentDecidesBeforeTheExtension) {
    TempDir dir;
    EXPECT_EQ(DetectImageFormat(dir.Write("a.hdr", PfmBytes(Sample()))), ImageFormat::Pfm);
    EXPECT_EQ(DetectImageFormat(dir.Write("b.pfm", "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n")),
              ImageFormat::Radiance);
    EXPECT_EQ(DetectImageFormat(dir.Write("c.dat", "\x76\x2f\x31\x01rest")), ImageFormat::OpenExr);
    // Radiance files without their "#?" line are known only by name.
    EXPECT_EQ(DetectImageFormat(dir.Write("d.HDR", "FORMAT=32-bit_rle_rgbe\n")),
              ImageFormat::Radiance);
    EXPECT_EQ(DetectImageFormat(dir.Write("e.txt", "FORMAT=32-bit_rle_rgbe\n")),
              ImageFormat::Unknown);
}

TEST(ReadRadiance, ReadsWhatARadianceWriterWrote) {
    TempDir dir;
    HdrImage sample = Sample();
    std::string path = dir.Path("image.hdr");
    ASSERT_NE(stbi_write_hdr(path.c_str(), sample.width, sample.height, 3, sample.rgb.data()), 0);
    HdrImage image;
    std::string error;
    ASSERT_TRUE(ReadHdrImage(path, image, error)) << error;
    // RGBE keeps about 8 bits of mantissa per channel.
    ExpectSameImage(image, sample, 0.01f);
}

TEST(ReadRadiance, RefusesATruncatedHeader) {
    TempDir dir;
    std::string path = dir.Write("cut.hdr", "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 2");
    HdrImage image;
    std::string error;
    EXPECT_FALSE(ReadHdrImage(path, image, error));
    EXPECT_NE(error.find("Radiance"), std::string::npos) << error;
}

TEST(ReadOpenExr, ReadsTheDataWindowTopRowFirst) {
    TempDir dir;
    HdrImage sample = Sample();
    std::string path = dir.Path("image.exr");
    {
        // A data window that does not start at the origin.
        Imath::Box2i window(Imath::V2i(5, -2), Imath::V2i(5 + sample.width - 1, -1));
        Imf::Header header(window, window);
        Imf::RgbaOutputFile file(path.c_str(), header, Imf::WRITE_RGB);
        std::vector<Imf::Rgba> pixels;
        for (int y = 0; y < sample.height; ++y) {
            for (int x = 0; x < sample.width; ++x) {
                const float* p = sample.Pixel(x, y);
                pixels.emplace_back(p[0], p[1], p[2], 1.0f);
            }
        }
        file.setFrameBuffer(pixels.data() - 5 + 2 * sample.width, 1, sample.width);
        file.writePixels(sample.height);
    }
    HdrImage image;
    std::string error;
    ASSERT_TRUE(ReadHdrImage(path, image, error)) << error;
    // Half floats: 11 bits of mantissa.
    ExpectSameImage(image, sample, 0.001f);
}

TEST(ReadOpenExr, RefusesATruncatedFile) {
    TempDir dir;
    HdrImage sample = Sample();
    std::string path = dir.Path("image.exr");
    {
        Imf::RgbaOutputFile file(path.c_str(), sample.width, sample.height, Imf::WRITE_RGB);
        std::vector<Imf::Rgba> pixels(6, Imf::Rgba(1.0f, 2.0f, 3.0f, 1.0f));
        file.setFrameBuffer(pixels.data(), 1, sample.width);
        file.writePixels(sample.height);
    }
    std::string bytes = lumeno::testing::ReadFile(path);
    std::string cut = dir.Write("cut.exr", bytes.substr(0, bytes.size() - 20));
    HdrImage image;
    std::string error;
    EXPECT_FALSE(ReadHdrImage(cut, image, error));
    EXPECT_NE(error.find("OpenEXR"), std::string::npos) << error;
    EXPECT_TRUE(image.rgb.empty());
}

TEST(ClampNegative, CountsAndZeroesNegativeValues) {
    HdrImage image = Sample();
    image.Pixel(0, 0)[1] = -2.0f;
    image.Pixel(2, 1)[0] = -0.001f;
    EXPECT_EQ(ClampNegative(image), 2);
    EXPECT_EQ(image.Pixel(0, 0)[1], 0.0f);
    EXPECT_EQ(image.Pixel(2, 1)[0], 0.0f);
    EXPECT_EQ(image.Pixel(1, 1)[0], Sample().Pixel(1, 1)[0]);
}

}  // namespace
}  // namespace lumeno::probe
