// The light list: median-cut regions, one light each at its energy centroid,
// carrying the region's energy in the renderer's units.
#include "probe/median_cut.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "probe/environment.h"
#include "probe_test_support.h"

namespace lumeno::probe {
namespace {

using lumeno::testing::EquirectOf;
using lumeno::testing::UniformMap;

// The map's integral by an independent rule: the mean over many directions
// spread evenly over the sphere (a Fibonacci spiral), each looked up in the
// map's nearest pixel, times 4π.
Rgb SphereIntegral(const HdrImage& map) {
    const int count = 2000000;
    Rgb sum;
    for (int i = 0; i < count; ++i) {
        double z = 1.0 - (2.0 * i + 1.0) / count;
        double r = std::sqrt(1.0 - z * z);
        double phi = i * 2.399963229728653;
        MapPosition p =
            DirectionToAngularMap({r * std::cos(phi), r * std::sin(phi), z}, map.width, map.height);
        int x = std::clamp(static_cast<int>(std::lround(p.x)), 0, map.width - 1);
        int y = std::clamp(static_cast<int>(std::lround(p.y)), 0, map.height - 1);
        const float* v = map.Pixel(x, y);
        sum.r += v[0];
        sum.g += v[1];
        sum.b += v[2];
    }
    double scale = 4.0 * kPi / count / 255.0;
    return {sum.r * scale, sum.g * scale, sum.b * scale};
}

Rgb LightEnergy(const std::vector<ProbeLightRecord>& lights) {
    Rgb sum;
    for (const ProbeLightRecord& light : lights) {
        sum.r += light.colour[0];
        sum.g += light.colour[1];
        sum.b += light.colour[2];
    }
    double n = static_cast<double>(lights.size());
    return {sum.r / n, sum.g / n, sum.b / n};
}

// What the renderer's one-light estimator converges to on a white diffuse
// plane facing normal, without shadows: (1/n) Σ C_i max(0, cos θ_i) / π.
double ExpectedPlaneRadiance(const std::vector<ProbeLightRecord>& lights, Direction normal) {
    double sum = 0.0;
    for (const ProbeLightRecord& light : lights) {
        double c = Dot(light.direction, normal);
        if (c > 0.0) {
            sum += Luminance(light.colour[0], light.colour[1], light.colour[2]) * c;
        }
    }
    return sum / static_cast<double>(lights.size()) / kPi;
}

HdrImage SkyMap(int size) {
    SkyEnvironment sky(SkyParameters{});
    HdrImage map;
    RenderAngularMap(sky, size, map);
    return map;
}

TEST(MedianCutLights, TheLightsCarryTheEnergyOfTheWholeMap) {
    for (int count : {1, 7, 64, 200}) {
        HdrImage map = SkyMap(256);
        std::vector<ProbeLightRecord> lights = MedianCutLights(map, count);
        ASSERT_EQ(static_cast<int>(lights.size()), count);
        Rgb lightEnergy = LightEnergy(lights);
        Rgb mapEnergy = SphereIntegral(map);
        SCOPED_TRACE(count);
        EXPECT_NEAR(lightEnergy.r / mapEnergy.r, 1.0, 0.01);
        EXPECT_NEAR(lightEnergy.g / mapEnergy.g, 1.0, 0.01);
        EXPECT_NEAR(lightEnergy.b / mapEnergy.b, 1.0, 0.01);
        Rgb exact = MapIntegral(map);
        EXPECT_NEAR(lightEnergy.g, exact.g, 1e-9 * exact.g);
    }
}

TEST(MedianCutLights, AUniformEnvironmentOf255LightsAWhitePlaneToRadianceOne) {
    HdrImage map = UniformMap(512, 255.0f);
    std::vector<ProbeLightRecord> lights = MedianCutLights(map, 64);
    ASSERT_EQ(lights.size(), 64u);
    // Every light carries about the same share of the sphere: 4π · n / n.
    for (const ProbeLightRecord& light : lights) {
        EXPECT_NEAR(light.colour[0], 4.0 * kPi, 0.05 * 4.0 * kPi);
    }
    // Over all the ways a plane can face, the lights give radiance 1 on
    // average; each single orientation stays within 3.5 %. The floor (normal
    // up), whose horizon the cuts follow, sees every region whole and is the
    // brightest, by the regions' mean cosine (about 2.5 %).
    const int orientations = 1000;
    double sum = 0.0;
    for (int i = 0; i < orientations; ++i) {
        double z = 1.0 - (2.0 * i + 1.0) / orientations;
        double r = std::sqrt(1.0 - z * z);
        double phi = i * 2.399963229728653;
        double radiance = ExpectedPlaneRadiance(lights, {r * std::cos(phi), r * std::sin(phi), z});
        EXPECT_NEAR(radiance, 1.0, 0.035) << i;
        sum += radiance;
    }
    EXPECT_NEAR(sum / orientations, 1.0, 0.002);
    double floor = ExpectedPlaneRadiance(lights, kUp);
    EXPECT_GT(floor, 1.0);
    EXPECT_LT(floor, 1.03);
    // More lights make smaller regions: 128 keep every orientation within 2 %.
    std::vector<ProbeLightRecord> more = MedianCutLights(map, 128);
    EXPECT_NEAR(ExpectedPlaneRadiance(more, kUp), 1.0, 0.02);
    EXPECT_NEAR(ExpectedPlaneRadiance(more, Normalized({1, -1, 0.5})), 1.0, 0.02);
    // A uniform environment of v renders as v / 255.
    HdrImage dim = UniformMap(128, 40.0f);
    EXPECT_NEAR(ExpectedPlaneRadiance(MedianCutLights(dim, 128), kUp), 40.0 / 255.0,
                0.02 * 40.0 / 255.0);
}

TEST(MedianCutLights, ABrightSpotGathersTheLightsAroundIt) {
    Direction spot = Normalized({0.3, -0.6, -0.5});
    EquirectEnvironment env(EquirectOf(1024, [&](Direction d, float* out) {
        bool inSpot = Dot(d, spot) > std::cos(3.0 * kPi / 180.0);
        out[0] = out[1] = out[2] = inSpot ? 2000.0f : 1.0f;
    }));
    HdrImage map;
    ASSERT_TRUE(RenderAngularMap(env, 256, map));
    std::vector<ProbeLightRecord> lights = MedianCutLights(map, 64);
    ASSERT_EQ(lights.size(), 64u);
    int near = 0;
    double nearEnergy = 0.0;
    double total = 0.0;
    for (const ProbeLightRecord& light : lights) {
        total += light.colour[0];
        if (Dot(light.direction, spot) > std::cos(4.0 * kPi / 180.0)) {
            ++near;
            nearEnergy += light.colour[0];
        }
    }
    // The spot holds about 2000 · 0.0086 / (2000 · 0.0086 + 4π) ≈ 58 % of
    // the energy, so more than half of the lights go to it.
    EXPECT_GE(near, 32);
    EXPECT_NEAR(nearEnergy / total, 0.578, 0.03);
}

TEST(MedianCutLights, EveryLightLiesInsideItsRegionAndTheRegionsTileTheMap) {
    HdrImage map = SkyMap(128);
    std::vector<ProbeLightRecord> lights = MedianCutLights(map, 64);
    std::vector<int> owners(static_cast<std::size_t>(128 * 128), 0);
    for (const ProbeLightRecord& light : lights) {
        const MapRegion& r = light.region;
        EXPECT_TRUE(r.Contains(light.position.x, light.position.y))
            << light.position.x << ", " << light.position.y << " not in [" << r.x0 << ", " << r.x1
            << ") × [" << r.y0 << ", " << r.y1 << ")";
        MapPosition again = DirectionToAngularMap(light.direction, 128, 128);
        EXPECT_NEAR(again.x, light.position.x, 1e-9);
        EXPECT_NEAR(Dot(light.direction, light.direction), 1.0, 1e-12);
        EXPECT_GT(light.colour[0] + light.colour[1] + light.colour[2], 0.0);
        for (int y = r.y0; y < r.y1; ++y) {
            for (int x = r.x0; x < r.x1; ++x) {
                ++owners[static_cast<std::size_t>(y * 128 + x)];
            }
        }
    }
    // No pixel belongs to two regions, and every lit pixel to one.
    MapSolidAngles solidAngles(128, 128);
    for (int y = 0; y < 128; ++y) {
        for (int x = 0; x < 128; ++x) {
            int owned = owners[static_cast<std::size_t>(y * 128 + x)];
            EXPECT_LE(owned, 1);
            if (solidAngles.At(x, y) > 0.0) {
                EXPECT_EQ(owned, 1) << x << ", " << y;
            }
        }
    }
}

TEST(MedianCutLights, MakesNoLightsForDarknessAndFewerWhereFewPixelsAreLit) {
    EXPECT_TRUE(MedianCutLights(UniformMap(64, 0.0f), 64).empty());
    HdrImage map = UniformMap(64, 0.0f);
    for (int i = 0; i < 3; ++i) {
        float* p = map.Pixel(20 + 5 * i, 30);
        p[0] = p[1] = p[2] = 100.0f;
    }
    std::vector<ProbeLightRecord> lights = MedianCutLights(map, 64);
    ASSERT_EQ(lights.size(), 3u);
    for (const ProbeLightRecord& light : lights) {
        // Each light sits exactly on its lit pixel and carries n times its energy.
        int x = static_cast<int>(std::lround(light.position.x));
        EXPECT_NEAR(light.position.x, x, 1e-6);
        EXPECT_NEAR(light.position.y, 30.0, 1e-6);
        MapSolidAngles solidAngles(64, 64);
        EXPECT_NEAR(light.colour[0], 3.0 * 100.0 / 255.0 * solidAngles.At(x, 30), 1e-9);
    }
}

TEST(FormatLightList, WritesTheFileDirectionAsTheRendererReadsIt) {
    ProbeLightRecord light;
    light.direction = Normalized({0.6, -0.8, 0.0});  // up and to the right
    light.colour[0] = 1.5;
    light.colour[1] = 2.0;
    light.colour[2] = 0.25;
    light.solidAngle = 0.125;
    light.position = {300.0, 100.5};
    std::istringstream in(FormatLightList({light, light}, 512));
    int count = 0;
    int ignored = 0;
    in >> count >> ignored;
    EXPECT_EQ(count, 2);
    for (int i = 0; i < count; ++i) {
        double v[9];
        for (double& value : v) {
            ASSERT_TRUE(in >> value);
        }
        // The renderer takes (x, −y, −z) of the file.
        EXPECT_NEAR(v[0], 0.6, 1e-9);
        EXPECT_NEAR(-v[1], -0.8, 1e-9);
        EXPECT_EQ(-v[2], 0.0);
        EXPECT_EQ(v[6], 1.5);
        EXPECT_EQ(v[7], 2.0);
        EXPECT_EQ(v[8], 0.25);
    }
    double extra = 0.0;
    EXPECT_FALSE(in >> extra);
}

}  // namespace
}  // namespace lumeno::probe
