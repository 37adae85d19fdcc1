#include "render/camera.h"

#include <gtest/gtest.h>

namespace lumeno {
namespace {

void ExpectNear(Vec3 actual, Vec3 expected, float tolerance = 1e-6f) {
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

TEST(CameraBasis, DefaultsLookAlongZWithYDownTheImage) {
    Camera camera;
    DeriveCameraBasis(camera);
    ExpectNear(camera.ez, {0, 0, 1});
    ExpectNear(camera.ey, {0, 1, 0});
    ExpectNear(camera.ex, {1, 0, 0});
}

TEST(CameraBasis, LookingAlongXTurnsExToMinusZ) {
    Camera camera;
    camera.lookAt = {1, 0, 0};
    DeriveCameraBasis(camera);
    ExpectNear(camera.ez, {1, 0, 0});
    ExpectNear(camera.ey, {0, 1, 0});
    ExpectNear(camera.ex, {0, 0, -1});
}

TEST(CameraBasis, DegenerateViewsNeverGiveNaN) {
    Camera camera;
    camera.lookAt = {0, 0, 5};
    DeriveCameraBasis(camera);
    Camera same = camera;
    same.lookAt = same.position;  // no view direction: the basis stays
    DeriveCameraBasis(same);
    EXPECT_EQ(same.ex, camera.ex);
    EXPECT_EQ(same.ey, camera.ey);
    EXPECT_EQ(same.ez, camera.ez);

    Camera down;
    down.lookAt = {0, -3, 0};  // parallel to up
    DeriveCameraBasis(down);
    ExpectNear(down.ez, {0, -1, 0});
    EXPECT_NEAR(Length(down.ey), 1.0f, 1e-6f);
    EXPECT_NEAR(Dot(down.ey, down.ez), 0.0f, 1e-6f);
    ExpectNear(down.ex, Cross(down.ey, down.ez));
    EXPECT_NEAR(Length(down.ex), 1.0f, 1e-6f);
}

TEST(CameraTitle, HeightCarriesTheSpaceFlag) {
    EXPECT_EQ(SizeTitle(640, 480, 1234), "640 x  480:  1234 triangles");
    EXPECT_EQ(SizeTitle(320, 240, 0), "320 x  240:  0 triangles");
}

}  // namespace
}  // namespace lumeno
