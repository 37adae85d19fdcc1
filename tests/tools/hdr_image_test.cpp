// Reading source images: PFM in both byte orders and both channel counts,
// Radiance .hdr and OpenEXR, recognised by content; malformed files refused
// with a reason and without allocating what their headers claim.
#include "probe/hdr_image.h"

#include <sys/stat.h>

#include <ImfHeader.h>
#include <ImfRgbaFile.h>
#include <gtest/gtest.h>
#include <stb_image_write.h>

#include <algorithm>
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

TEST(DetectImageFormat, TheSignatureAloneDecides) {
    TempDir dir;
    EXPECT_EQ(DetectImageFormat(dir.Write("a.hdr", PfmBytes(Sample()))), ImageFormat::Pfm);
    EXPECT_EQ(DetectImageFormat(dir.Write("b.pfm", "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n")),
              ImageFormat::Radiance);
    EXPECT_EQ(DetectImageFormat(dir.Write("c.dat", "\x76\x2f\x31\x01rest")), ImageFormat::OpenExr);
    // A name proves nothing: without its "#?" line a file is no Radiance file.
    EXPECT_EQ(DetectImageFormat(dir.Write("d.HDR", "FORMAT=32-bit_rle_rgbe\n")),
              ImageFormat::Unknown);
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

// A 40 × 5 image stb writes run-length encoded (widths of 8 or more are),
// with runs (flat rows) and literal spans (a ramp).
HdrImage WideSample() {
    HdrImage image;
    image.Resize(40, 5);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            for (int c = 0; c < 3; ++c) {
                image.Pixel(x, y)[c] = y % 2 == 0 ? 0.25f * (c + 1) : 0.01f * (x + 1) * (y + c);
            }
        }
    }
    return image;
}

TEST(ReadRadiance, ReadsRunLengthEncodedScanLines) {
    TempDir dir;
    HdrImage sample = WideSample();
    std::string path = dir.Path("wide.hdr");
    ASSERT_NE(stbi_write_hdr(path.c_str(), sample.width, sample.height, 3, sample.rgb.data()), 0);
    // A scan line header: 2, 2, then the width, 40.
    ASSERT_NE(lumeno::testing::ReadFile(path).find(std::string("\x02\x02\x00\x28", 4)),
              std::string::npos);
    HdrImage image;
    std::string error;
    ASSERT_TRUE(ReadHdrImage(path, image, error)) << error;
    ASSERT_EQ(image.width, sample.width);
    ASSERT_EQ(image.height, sample.height);
    // The shared exponent leaves each channel one step of 1/128 of the
    // pixel's largest channel (or less) from its value.
    for (int y = 0; y < sample.height; ++y) {
        for (int x = 0; x < sample.width; ++x) {
            const float* want = sample.Pixel(x, y);
            float step = std::max({want[0], want[1], want[2]}) / 128.0f;
            for (int c = 0; c < 3; ++c) {
                EXPECT_NEAR(image.Pixel(x, y)[c], want[c], step) << x << ", " << y;
            }
        }
    }
}

TEST(ReadRadiance, EveryTruncationIsRefusedWithAReason) {
    TempDir dir;
    HdrImage sample = WideSample();
    std::string path = dir.Path("wide.hdr");
    ASSERT_NE(stbi_write_hdr(path.c_str(), sample.width, sample.height, 3, sample.rgb.data()), 0);
    std::string bytes = lumeno::testing::ReadFile(path);
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        std::string cut = dir.Write("cut.hdr", bytes.substr(0, length));
        HdrImage image;
        std::string error;
        EXPECT_FALSE(ReadHdrImage(cut, image, error)) << length;
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(image.rgb.empty());
    }
}

TEST(ReadOpenExr, RefusesAnAttributeLargerThanTheFile) {
    TempDir dir;
    std::string path = dir.Path("image.exr");
    {
        Imf::RgbaOutputFile file(path.c_str(), 2, 2, Imf::WRITE_RGB);
        std::vector<Imf::Rgba> pixels(4, Imf::Rgba(1.0f, 2.0f, 3.0f, 1.0f));
        file.setFrameBuffer(pixels.data(), 1, 2);
        file.writePixels(2);
    }
    // The channel list's size field, made to announce 2 GiB: the library
    // would reserve that much before reading a byte of it.
    std::string bytes = lumeno::testing::ReadFile(path);
    std::size_t type = bytes.find(std::string("chlist\0", 7));
    ASSERT_NE(type, std::string::npos);
    bytes.replace(type + 7, 4, "\xff\xff\xff\x7f");
    HdrImage image;
    std::string error;
    EXPECT_FALSE(ReadHdrImage(dir.Write("huge.exr", bytes), image, error));
    EXPECT_NE(error.find("more than the file holds"), std::string::npos) << error;
}

TEST(ReadHdrImage, ForeignFormatsNeverReachADecoder) {
    TempDir dir;
    const std::pair<const char*, std::string> files[] = {
        // A 16-bit PNM, a JPEG and a PNG under Radiance's name.
        {"pnm.hdr", "P6\n2 2\n65535\n" + std::string(24, '\xff')},
        {"jpeg.hdr", "\xff\xd8\xff\xe0\x00\x10JFIF\x00" + std::string(64, '\x01')},
        {"png.hdr", "\x89PNG\r\n\x1a\n" + std::string(64, '\0')},
        // Radiance without its "#?" line, and PFM and Radiance under EXR's name.
        {"headerless.hdr", "FORMAT=32-bit_rle_rgbe\n\n-Y 1 +X 1\n\x80\x80\x80\x81"},
        {"text.exr", "#?RADIANCE but then nothing"},
    };
    for (const auto& [name, bytes] : files) {
        HdrImage image;
        std::string error;
        EXPECT_FALSE(ReadHdrImage(dir.Write(name, bytes), image, error)) << name;
        EXPECT_NE(error.find(name), std::string::npos) << error;
        EXPECT_TRUE(image.rgb.empty());
    }
    std::string error;
    HdrImage image;
    EXPECT_FALSE(ReadHdrImage(dir.Write("pnm.hdr", files[0].second), image, error));
    EXPECT_NE(error.find("not a Radiance .hdr, OpenEXR .exr or PFM image"), std::string::npos)
        << error;
}

TEST(ReadHdrImage, FifosAndDevicesAreRefusedAtOnce) {
    TempDir dir;
    std::string fifo = dir.Path("sky.hdr");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, std::string("/dev/zero")}) {
        HdrImage image;
        std::string error;
        EXPECT_FALSE(ReadHdrImage(path, image, error));
        EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
        EXPECT_EQ(DetectImageFormat(path), ImageFormat::Unknown);
        EXPECT_FALSE(ReadRadiance(path, image, error));
        EXPECT_FALSE(ReadOpenExr(path, image, error));
    }
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

// A flat picture in a lossy DWA file takes far less than a byte per 1032
// pixels, the most any lossless scheme packs; it is still a valid file.
TEST(ReadOpenExr, ReadsAFlatImageInALossyFile) {
    TempDir dir;
    const std::string path = dir.Path("flat.exr");
    const int width = 2048;
    const int height = 1024;
    {
        Imf::Header header(width, height);
        header.compression() = Imf::DWAB_COMPRESSION;
        Imf::RgbaOutputFile file(path.c_str(), header, Imf::WRITE_RGB);
        std::vector<Imf::Rgba> pixels(static_cast<std::size_t>(width) * height,
                                      Imf::Rgba(0.5f, 0.5f, 0.5f, 1.0f));
        file.setFrameBuffer(pixels.data(), 1, width);
        file.writePixels(height);
    }
    ASSERT_LT(static_cast<std::int64_t>(lumeno::testing::ReadFile(path).size()) * 1032,
              std::int64_t{width} * height);
    HdrImage image;
    std::string error;
    ASSERT_TRUE(ReadHdrImage(path, image, error)) << error;
    EXPECT_EQ(image.width, width);
    EXPECT_NEAR(image.Pixel(width - 1, height - 1)[2], 0.5f, 0.01f);
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
