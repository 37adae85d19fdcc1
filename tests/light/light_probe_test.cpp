#include "light/light_probe.h"

#include <gtest/gtest.h>

#include <bit>
#include <clocale>
#include <cmath>
#include <cstring>
#include <random>

#include "base/pfm_file.h"
#include "test_support.h"

namespace lumeno {
namespace {

using testing::TempDir;

struct LoadedLights {
    LightProbe probe;
    Diagnostics diagnostics;
    bool Load(const TempDir& dir, const std::string& content) {
        return probe.LoadProbeLights(dir.Write("lights.txt", content), diagnostics);
    }
};

int CountEntries(const LightProbe& probe, int light) {
    int count = 0;
    for (std::uint16_t entry : probe.selectionTable) {
        count += entry == light ? 1 : 0;
    }
    return count;
}

TEST(ProbeLights, SelectionTableGivesEachLightItsShare) {
    TempDir dir;
    LoadedLights lights;
    ASSERT_TRUE(lights.Load(dir, "2 0\n0 1 0 0 0 0 0.2 0.3 0.5\n1 0 0 0 0 0 1 1 1\n"));
    ASSERT_EQ(lights.probe.LightCount(), 2);
    EXPECT_FLOAT_EQ(lights.probe.lights[0].probability, 0.25f);
    EXPECT_FLOAT_EQ(lights.probe.lights[1].probability, 0.75f);
    ASSERT_EQ(lights.probe.selectionTable.size(), 10000u);
    // The entry where the running sum first passes 0.25 still belongs to light 0.
    EXPECT_EQ(lights.probe.selectionTable[2500], 0);
    EXPECT_EQ(lights.probe.selectionTable[2501], 1);
    EXPECT_EQ(CountEntries(lights.probe, 0), 2501);
    EXPECT_EQ(CountEntries(lights.probe, 1), 7499);

    Random random;
    for (int i = 0; i < 100; ++i) {
        ProbeLightSample pick = lights.probe.PickProbeLight(random);
        float expected = pick.direction.x == 1.0f ? 1.0f / (2 * 0.75f) : 2.0f;
        EXPECT_FLOAT_EQ(pick.weight, expected);
    }
}

TEST(ProbeLights, ASingleLightOwnsEveryEntryWithWeightOne) {
    TempDir dir;
    LoadedLights lights;
    ASSERT_TRUE(lights.Load(dir, "1 0 0 1 0 7 8 9 0.5 0.5 0.5"));
    EXPECT_EQ(CountEntries(lights.probe, 0), 10000);
    const ProbeLight& light = lights.probe.lights[0];
    EXPECT_EQ(light.direction, (Vec3{0, -1, 0}));
    EXPECT_EQ(light.colour, (Vec3{0.5f, 0.5f, 0.5f}));
    Random random;
    EXPECT_EQ(lights.probe.PickProbeLight(random).weight, 1.0f);
}

TEST(ProbeLights, ShortListsKeepTheirCompleteRecords) {
    TempDir dir;
    LoadedLights lights;
    lights.Load(dir, "3 0\n0 1 0 0 0 0 1 1 1\n0 0 1 0 0 0 2 2 2\n1 0 0 0 0");
    EXPECT_EQ(lights.probe.LightCount(), 2);
    EXPECT_EQ(lights.diagnostics.Entries().size(), 1u);
    // A count beyond the table's 10000 entries is no reason to refuse: the
    // records there are read, and the shares come from them.
    for (const char* count : {"10001", "20000", "99999999999"}) {
        LoadedLights many;
        many.Load(dir, std::string(count) + " 0\n0 1 0 0 0 0 1 1 1\n0 0 1 0 0 0 2 2 2\n");
        ASSERT_EQ(many.probe.LightCount(), 2) << count;
        EXPECT_FLOAT_EQ(many.probe.lights[0].probability, 1.0f / 3.0f);
        EXPECT_GT(CountEntries(many.probe, 0), 3000);
        EXPECT_GT(CountEntries(many.probe, 1), 6000);
    }
}

// The weight is 1 / (n · p) for any share but 0, a negative one (from a
// colour summing below 0) included.
TEST(ProbeLights, ANegativeShareGivesANegativeWeight) {
    TempDir dir;
    LoadedLights lights;
    ASSERT_TRUE(lights.Load(dir, "2 0\n0 1 0 0 0 0 -1 0 0\n0 0 1 0 0 0 2 0 0\n"));
    ASSERT_EQ(lights.probe.selectionTable[0], 0);
    Random random;
    random.x = random.y = random.z = random.w = 0;  // draws 0: the table's first entry
    EXPECT_EQ(lights.probe.PickProbeLight(random).weight, -0.5f);
}

TEST(ProbeLights, ANumberThatCannotBeReadEndsTheList) {
    TempDir dir;
    // Read as a stream reads: "2,5" gives 2 and the next number starts at
    // ","; "1.5e" is no number. The complete records before either count.
    for (const char* list : {"4 0\n0 1 0 0 0 0 1 1 1\n0 0 1 0 0 0 2,5 2 2\n0 0 1 0 0 0 3 3 3\n",
                             "4 0\n0 1 0 0 0 0 1 1 1 0 0 1 0 0 0 1.5e 2 2\n"}) {
        LoadedLights lights;
        lights.Load(dir, list);
        EXPECT_EQ(lights.probe.LightCount(), 1) << list;
        ASSERT_EQ(lights.diagnostics.Entries().size(), 1u);
        EXPECT_NE(lights.diagnostics.Entries()[0].message.find("cannot be read after 1 complete"),
                  std::string::npos)
            << lights.diagnostics.Entries()[0].message;
    }
    // A number glued to the next one's sign is two numbers; "2 0.5" as the
    // count reads the count 2 and the ignored integer 0, and ".5" starts the
    // first record.
    LoadedLights lights;
    lights.Load(dir, "2 0.5 1 0 0 0 0 1 1 1-2 -1 0 0 0 0 2 2 2\n");
    ASSERT_EQ(lights.probe.LightCount(), 2);
    EXPECT_EQ(lights.probe.lights[0].direction, (Vec3{0.5f, -1, 0}));
    EXPECT_EQ(lights.probe.lights[0].colour, (Vec3{1, 1, 1}));
    EXPECT_EQ(lights.probe.lights[1].direction, (Vec3{-2, 1, 0}));
}

TEST(ProbeLights, UnusableListsLeaveNoLightsButStillConsumeADraw) {
    TempDir dir;
    for (const char* content : {"", "0 0", "2 0 0 1 0 0 0 0 0 0 0 0 0 1 0 0 0 0 0 0",
                                "1 0 0 1 0 0 0 0 nan 1 1", "1 0 0 1 0 0 0 0 1e39 1 1"}) {
        LoadedLights lights;
        lights.Load(dir, content);
        EXPECT_EQ(lights.probe.LightCount(), 0) << content;
        Random random;
        Random reference;
        ProbeLightSample pick = lights.probe.PickProbeLight(random);
        EXPECT_EQ(pick.weight, 0.0f);
        EXPECT_EQ(pick.colour, Vec3{});
        reference.RandomNext();
        EXPECT_EQ(random.w, reference.w) << "exactly one draw";
    }
    LightProbe probe;
    Diagnostics diagnostics;
    EXPECT_FALSE(probe.LoadProbeLights(dir.Path("missing.txt"), diagnostics));
    EXPECT_FALSE(diagnostics.Empty());
}

// Writes a W × H probe image whose pixel (x, y) (row 0 at the top) holds
// value(x, y) on all three channels.
template <typename Value>
std::string WriteProbe(const TempDir& dir, int w, int h, Value value) {
    FloatPlane r, g, b;
    r.Create(w, h);
    g.Create(w, h);
    b.Create(w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            r.At(x, y) = g.At(x, y) = b.At(x, y) = value(x, y);
        }
    }
    std::string path = dir.Path("probe.pfm");
    EXPECT_TRUE(WritePfm(path, r, g, b, 1.0f));
    return path;
}

TEST(ProbeImage, ReadsWhatThePfmWriterWrites) {
    TempDir dir;
    LightProbe probe;
    Diagnostics diagnostics;
    ASSERT_TRUE(probe.LoadProbeImage(
        WriteProbe(dir, 3, 2, [](int x, int y) { return float(10 * y + x); }), diagnostics));
    EXPECT_EQ(probe.width, 3);
    EXPECT_EQ(probe.height, 2);
    EXPECT_EQ(probe.red.At(2, 1), 12.0f);
    EXPECT_EQ(probe.blue.At(0, 0), 0.0f);
    EXPECT_TRUE(diagnostics.Empty());
}

TEST(ProbeImage, AllValues255GiveRadianceOneEverywhere) {
    TempDir dir;
    LightProbe probe;
    Diagnostics diagnostics;
    ASSERT_TRUE(probe.LoadProbeImage(WriteProbe(dir, 16, 16, [](int, int) { return 255.0f; }),
                                     diagnostics));
    for (Vec3 d : {Vec3{0, 0, 1}, Vec3{0, 0, -1}, Vec3{1, 0, 0}, Vec3{0, -1, 0},
                   Normalize(Vec3{1, 2, -3}), Normalize(Vec3{-0.2f, 0.1f, 0.97f})}) {
        Vec3 radiance = probe.LookupEnvironment(d);
        EXPECT_NEAR(radiance.x, 1.0f, 1e-5f);
        EXPECT_NEAR(radiance.z, 1.0f, 1e-5f);
    }
}

TEST(ProbeImage, AngularMapPlacesDirections) {
    TempDir dir;
    LightProbe probe;
    Diagnostics diagnostics;
    // Value 255 · (column + 100 · row): the lookup tells where it sampled.
    ASSERT_TRUE(probe.LoadProbeImage(
        WriteProbe(dir, 40, 40, [](int x, int y) { return 255.0f * float(x + 100 * y); }),
        diagnostics));
    auto where = [&](Vec3 d) { return probe.LookupEnvironment(d).x; };
    EXPECT_NEAR(where({0, 0, 1}), 20 + 100 * 20, 0.5f);   // centre
    EXPECT_NEAR(where({1, 0, 0}), 30 + 100 * 20, 0.5f);   // x ≈ 0.75 W
    EXPECT_NEAR(where({0, 1, 0}), 20 + 100 * 30, 0.5f);   // +y toward the bottom
    EXPECT_NEAR(where({0, 0, -1}), 39 + 100 * 20, 0.5f);  // a fixed rim point
    EXPECT_TRUE(std::isfinite(where({0, 0, 0})));
    EXPECT_TRUE(std::isfinite(where({NAN, 0, 1})));
}

TEST(ProbeImage, BadFilesLeaveABlackEnvironment) {
    TempDir dir;
    std::string header = "PF\n2\n2\n-1.000000\n";
    for (const std::string& content :
         {std::string(""), std::string("P6\n2 2\n255\n"), header + std::string(47, '\0'),
          std::string("PF\n0\n2\n-1\n"), std::string("PF\n-3\n2\n-1\n"),
          std::string("PF\n99999999\n99999999\n-1\n"), std::string("PF 2 2"),
          std::string("PF\n2x\n2\n-1\n") + std::string(48, '\0')}) {
        LightProbe probe;
        Diagnostics diagnostics;
        EXPECT_FALSE(probe.LoadProbeImage(dir.Write("bad.pfm", content), diagnostics));
        EXPECT_EQ(probe.LookupEnvironment({0, 0, 1}), Vec3{});
        EXPECT_EQ(diagnostics.Entries().size(), 1u);
    }
    LightProbe probe;
    Diagnostics diagnostics;
    EXPECT_FALSE(probe.LoadProbeImage(dir.Path("missing.pfm"), diagnostics));
    EXPECT_FALSE(probe.LoadProbeImage(dir.Root(), diagnostics));
}

// The scale means nothing to the probe beyond a positive one's byte order:
// one that is no number reads as little-endian, and the usual "-1.000000"
// reads the same under a locale with a decimal comma.
TEST(ProbeImage, TheScaleNeedsNoNumberAndNoLocale) {
    TempDir dir;
    float values[3] = {255.0f, 510.0f, 765.0f};
    char bytes[12];
    std::memcpy(bytes, values, sizeof bytes);
    for (const char* scale : {"-1.000000", "0", "abc", "-1,5"}) {
        LightProbe probe;
        Diagnostics diagnostics;
        std::string content = std::string("PF\n1\n1\n") + scale + "\n" + std::string(bytes, 12);
        ASSERT_TRUE(probe.LoadProbeImage(dir.Write("probe.pfm", content), diagnostics)) << scale;
        EXPECT_EQ(probe.green.At(0, 0), 510.0f) << scale;
    }
    const char* previous = std::setlocale(LC_ALL, nullptr);
    const std::string saved = previous != nullptr ? previous : "C";
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
        GTEST_SKIP() << "no de_DE.UTF-8 locale on this machine";
    }
    LightProbe probe;
    Diagnostics diagnostics;
    const bool loaded = probe.LoadProbeImage(
        dir.Write("probe.pfm", "PF\n1\n1\n-1.000000\n" + std::string(bytes, 12)), diagnostics);
    std::setlocale(LC_ALL, saved.c_str());
    ASSERT_TRUE(loaded);
    EXPECT_EQ(probe.blue.At(0, 0), 765.0f);
}

TEST(ProbeImage, BigEndianAndSingleChannelFilesAreRead) {
    TempDir dir;
    std::string content = "PF\n1\n1\n1.0\n";
    for (float v : {255.0f, 510.0f, 765.0f}) {
        auto bits = std::bit_cast<std::uint32_t>(v);
        for (int shift = 24; shift >= 0; shift -= 8) {
            content += static_cast<char>((bits >> shift) & 0xFF);
        }
    }
    LightProbe probe;
    Diagnostics diagnostics;
    ASSERT_TRUE(probe.LoadProbeImage(dir.Write("be.pfm", content), diagnostics));
    EXPECT_EQ(probe.green.At(0, 0), 510.0f);

    std::string grey = "Pf\n1\n1\n-1\n";
    float v = 255.0f;
    char bytes[4];
    std::memcpy(bytes, &v, 4);
    grey.append(bytes, 4);
    ASSERT_TRUE(probe.LoadProbeImage(dir.Write("grey.pfm", grey), diagnostics));
    EXPECT_EQ(probe.LookupEnvironment({0, 0, 1}), (Vec3{1, 1, 1}));
}

// The environment lookup as it was written before it sampled the three planes
// in one pass: weights and indices recomputed for every channel and every
// tap. The one-pass lookup must give exactly its bits.
namespace reference {

float Kernel(float t) {
    if (t <= 1.0f) {
        return 1.0f - 2.0f * t * t + t * t * t;
    }
    if (t <= 2.0f) {
        return 4.0f - 8.0f * t + 5.0f * t * t - t * t * t;
    }
    return 0.0f;
}

int Reflect(int i, int size) {
    if (i < 0) {
        i = -i;
    }
    if (i >= size) {
        i = 2 * size - i - 1;
    }
    if (i < 0) {
        return 0;
    }
    return i < size ? i : size - 1;
}

float SampleBicubic(const FloatPlane& plane, float x, float y) {
    float maxX = static_cast<float>(plane.width - 1);
    float maxY = static_cast<float>(plane.height - 1);
    x = !(x > 0.0f) ? 0.0f : (x < maxX ? x : maxX);
    y = !(y > 0.0f) ? 0.0f : (y < maxY ? y : maxY);
    int i0 = static_cast<int>(x);
    int j0 = static_cast<int>(y);
    float sum = 0.0f;
    for (int i = i0 - 1; i <= i0 + 2; ++i) {
        float wx = Kernel(std::fabs(static_cast<float>(i) - x));
        int column = Reflect(i, plane.width);
        for (int j = j0 - 1; j <= j0 + 2; ++j) {
            float wy = Kernel(std::fabs(static_cast<float>(j) - y));
            sum += wx * wy * plane.At(column, Reflect(j, plane.height));
        }
    }
    return sum;
}

Vec3 LookupEnvironment(const LightProbe& probe, Vec3 d) {
    float radial = std::sqrt(d.x * d.x + d.y * d.y);
    float u;
    float v;
    if (radial > 0.0f) {
        auto f = static_cast<float>(std::acos(d.z) / (static_cast<double>(radial) * 3.14159));
        u = (d.x * f + 1.0f) * 0.5f;
        v = (d.y * f + 1.0f) * 0.5f;
    } else {
        auto f = static_cast<float>(std::acos(d.z) / 3.14159);
        u = (f + 1.0f) * 0.5f;
        v = 0.5f;
    }
    float x = u * static_cast<float>(probe.width);
    float maxX = static_cast<float>(probe.width - 1);
    x = !(x > 0.0f) ? 0.0f : (x < maxX ? x : maxX);
    float y = static_cast<float>(probe.height) * v;
    float maxY = static_cast<float>(probe.height - 1);
    y = !(y > 0.0f) ? 0.0f : (y < maxY ? y : maxY);
    const double scale = 0.00392156862745098;
    return {static_cast<float>(reference::SampleBicubic(probe.red, x, y) * scale),
            static_cast<float>(reference::SampleBicubic(probe.green, x, y) * scale),
            static_cast<float>(reference::SampleBicubic(probe.blue, x, y) * scale)};
}

}  // namespace reference

bool SameBits(Vec3 a, Vec3 b) {
    return std::bit_cast<std::uint32_t>(a.x) == std::bit_cast<std::uint32_t>(b.x) &&
           std::bit_cast<std::uint32_t>(a.y) == std::bit_cast<std::uint32_t>(b.y) &&
           std::bit_cast<std::uint32_t>(a.z) == std::bit_cast<std::uint32_t>(b.z);
}

TEST(ProbeImage, OnePassLookupKeepsEveryBitOfThePerChannelLookup) {
    // A wide, noisy image (samples of very different sizes make any change
    // in the order of the additions show), with the straight-ahead and
    // straight-back directions and 2^20 random ones.
    LightProbe probe;
    std::mt19937 rng(20240611);
    std::uniform_real_distribution<float> value(0.0f, 1.0f);
    const int w = 67;
    const int h = 41;
    for (FloatPlane* plane : {&probe.red, &probe.green, &probe.blue}) {
        ASSERT_TRUE(plane->Create(w, h));
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                plane->At(x, y) = std::exp(12.0f * value(rng)) - 1.0f;
            }
        }
    }
    probe.width = w;
    probe.height = h;
    std::normal_distribution<float> g;
    int differing = 0;
    const int count = 1 << 20;
    for (int k = -2; k < count; ++k) {
        Vec3 d = k == -2   ? Vec3{0, 0, 1}
                 : k == -1 ? Vec3{0, 0, -1}
                           : Normalize({g(rng), g(rng), g(rng)});
        differing +=
            SameBits(probe.LookupEnvironment(d), reference::LookupEnvironment(probe, d)) ? 0 : 1;
    }
    EXPECT_EQ(differing, 0);
    // The one-plane sampler (textures) shares the tap arithmetic; anywhere,
    // outside the plane too, it keeps its bits.
    std::uniform_real_distribution<float> coordinate(-3.0f, 80.0f);
    for (int k = 0; k < 4096; ++k) {
        float x = coordinate(rng);
        float y = coordinate(rng);
        ASSERT_EQ(std::bit_cast<std::uint32_t>(SampleBicubic(probe.green, x, y)),
                  std::bit_cast<std::uint32_t>(reference::SampleBicubic(probe.green, x, y)))
            << x << ", " << y;
    }
}

TEST(SampleBicubic, IntegerCoordinatesReturnTheSample) {
    FloatPlane plane;
    plane.Create(5, 4);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 5; ++x) {
            plane.At(x, y) = float(x * x + 7 * y);
        }
    }
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 5; ++x) {
            EXPECT_FLOAT_EQ(SampleBicubic(plane, float(x), float(y)), plane.At(x, y));
        }
    }
}

TEST(SampleBicubic, TinyPlanesNeverIndexOutside) {
    for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 3}, std::pair{2, 1}}) {
        FloatPlane plane;
        plane.Create(w, h);
        plane.Fill(3.0f);
        for (float x : {0.0f, 0.5f, 1.0f, 2.5f, -1.0f, NAN}) {
            EXPECT_TRUE(std::isfinite(SampleBicubic(plane, x, x)));
        }
    }
}

}  // namespace
}  // namespace lumeno
