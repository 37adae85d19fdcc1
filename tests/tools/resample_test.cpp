// Turning an environment into the angular map: a direction through the
// equirectangular source and through the map agrees, the source's zenith
// ends up overhead for the camera, and large sources are filtered.
#include <gtest/gtest.h>

#include <cmath>

#include "probe/angular_map.h"
#include "probe/environment.h"
#include "probe_test_support.h"
#include "scene/camera.h"

namespace lumeno::probe {
namespace {

using lumeno::testing::EquirectOf;

// Colour = direction + 2 (all positive), so every pixel says where it looks.
void EncodeDirection(Direction d, float* out) {
    out[0] = static_cast<float>(d.x + 2.0);
    out[1] = static_cast<float>(d.y + 2.0);
    out[2] = static_cast<float>(d.z + 2.0);
}

Direction Decode(const float* p) {
    return {p[0] - 2.0, p[1] - 2.0, p[2] - 2.0};
}

TEST(RenderAngularMap, EveryPixelHoldsTheSourceRadianceOfItsDirection) {
    EquirectEnvironment env(EquirectOf(512, EncodeDirection));
    HdrImage map;
    ASSERT_TRUE(RenderAngularMap(env, 128, map));
    int checked = 0;
    for (int j = 0; j < map.height; ++j) {
        for (int i = 0; i < map.width; ++i) {
            // Within the disc, away from the rim where a pixel spans much of −z.
            if (MapRadius(i, j, 128, 128) > 0.9) {
                continue;
            }
            Direction expected = AngularMapToDirection(i, j, 128, 128);
            Direction got = Decode(map.Pixel(i, j));
            // Averaging over the pixel shortens the direction a little.
            ASSERT_GT(Dot(expected, got), 0.995) << i << ", " << j;
            ++checked;
        }
    }
    EXPECT_GT(checked, 9000);
}

TEST(RenderAngularMap, AnAngularMapSourceResamplesToItself) {
    EquirectEnvironment equirect(EquirectOf(512, EncodeDirection));
    HdrImage source;
    ASSERT_TRUE(RenderAngularMap(equirect, 256, source));
    AngularMapEnvironment env(std::move(source));
    HdrImage map;
    ASSERT_TRUE(RenderAngularMap(env, 100, map));
    for (int j = 0; j < 100; j += 3) {
        for (int i = 0; i < 100; i += 3) {
            if (MapRadius(i, j, 100, 100) > 0.85) {
                continue;
            }
            ASSERT_GT(Dot(AngularMapToDirection(i, j, 100, 100), Decode(map.Pixel(i, j))), 0.99)
                << i << ", " << j;
        }
    }
}

// Sky red above the horizon, ground green below.
void SkyAndGround(Direction d, float* out) {
    bool sky = Dot(d, kUp) > 0.0;
    out[0] = sky ? 1.0f : 0.0f;
    out[1] = sky ? 0.0f : 1.0f;
    out[2] = 0.0f;
}

TEST(RenderAngularMap, TheZenithIsOverheadAndTheHorizonLevelForTheCamera) {
    EquirectEnvironment env(EquirectOf(1024, SkyAndGround));
    HdrImage map;
    ASSERT_TRUE(RenderAngularMap(env, 256, map));
    // A camera set up as a scene file would, in OBJ coordinates (y up) turned
    // into scene coordinates the way the OBJ loader turns vertices: (x, −y, −z).
    auto scene = [](Vec3 obj) { return Vec3{obj.x, -obj.y, -obj.z}; };
    for (Vec3 lookAt : {Vec3{0, 1, -10}, Vec3{7, 1, 3}, Vec3{-5, 1, 5}, Vec3{3, 1, 0}}) {
        Camera camera;
        camera.position = scene({0, 1, 0});
        camera.lookAt = scene(lookAt);
        DeriveCameraBasis(camera);
        // Rays through the top and bottom of the image, and through the left
        // and right edges a little above and below the horizon.
        auto colour = [&](float u, float v) {
            Vec3 d = Normalize(camera.ex * u + camera.ey * v + camera.ez * camera.focus);
            MapPosition p = DirectionToAngularMap({d.x, d.y, d.z}, 256, 256);
            int x = std::clamp(static_cast<int>(std::lround(p.x)), 0, 255);
            int y = std::clamp(static_cast<int>(std::lround(p.y)), 0, 255);
            return map.Pixel(x, y);
        };
        SCOPED_TRACE(lookAt.x);
        EXPECT_GT(colour(0.0f, -0.5f)[0], 0.9f);  // top of the image: sky
        EXPECT_GT(colour(0.0f, 0.5f)[1], 0.9f);   // bottom: ground
        for (float u : {-0.6f, 0.0f, 0.6f}) {
            EXPECT_GT(colour(u, -0.05f)[0], 0.9f) << u;
            EXPECT_GT(colour(u, 0.05f)[1], 0.9f) << u;
        }
    }
}

TEST(RenderAngularMap, ALargeSourceIsAveragedNotAliased) {
    // Stripes of one source pixel: any single sample would show 0 or 2; a
    // filtered map shows their mean wherever a map pixel covers many stripes.
    EquirectEnvironment env(EquirectOf(4096, [](Direction d, float* out) {
        EquirectPosition p = DirectionToEquirect(d, 4096, 2048);
        float v = (static_cast<int>(p.s) % 2 == 0) ? 2.0f : 0.0f;
        out[0] = out[1] = out[2] = v;
    }));
    HdrImage map;
    ASSERT_TRUE(RenderAngularMap(env, 64, map));
    for (int j = 8; j < 56; j += 4) {
        for (int i = 8; i < 56; i += 4) {
            if (MapRadius(i, j, 64, 64) > 0.8) {
                continue;
            }
            EXPECT_NEAR(map.Pixel(i, j)[0], 1.0f, 0.1f) << i << ", " << j;
        }
    }
}

TEST(SkyEnvironment, HasItsSunWhereAskedAndIsBrightestThere) {
    SkyParameters parameters;
    parameters.sunElevation = 30.0;
    parameters.sunAzimuth = 90.0;  // to the right, +x
    SkyEnvironment sky(parameters);
    Direction sun = sky.SunDirection();
    EXPECT_NEAR(sun.x, std::cos(kPi / 6.0), 1e-12);
    EXPECT_NEAR(sun.y, -0.5, 1e-12);
    EXPECT_NEAR(sun.z, 0.0, 1e-12);
    Rgb atSun = sky.Radiance(sun, 0.0);
    Rgb zenith = sky.Radiance(kUp, 0.0);
    Rgb ground = sky.Radiance({0, 1, 0}, 0.0);
    EXPECT_GT(atSun.r, 100.0 * zenith.r);
    // Blue sky, and the ground darker than the sky near the sun.
    EXPECT_GT(zenith.b, zenith.r);
    EXPECT_GT(ground.r, 0.0);
    EXPECT_LT(Luminance(ground.r, ground.g, ground.b), Luminance(atSun.r, atSun.g, atSun.b));
}

}  // namespace
}  // namespace lumeno::probe
