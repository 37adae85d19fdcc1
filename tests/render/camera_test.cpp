#include "scene/camera.h"
#include "render/pass_schedule.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace lumeno {
namespace {

using testing::ExpectNear;

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

TEST(CameraProjection, APointAheadLandsAtTheCentreAndOneBelowItLower) {
    Camera camera;
    DeriveCameraBasis(camera);
    int x = -1;
    int y = -1;
    ASSERT_TRUE(ProjectToPixel(camera, {0, 0, 5}, 320, 240, x, y));
    EXPECT_EQ(x, 160);
    EXPECT_EQ(y, 120);
    ASSERT_TRUE(ProjectToPixel(camera, {0, 1, 5}, 320, 240, x, y));
    EXPECT_EQ(x, 160);
    EXPECT_EQ(y, 168);  // trunc(0.2 × 240 + 120): +y is down the image
    // Odd sizes use the integer half.
    ASSERT_TRUE(ProjectToPixel(camera, {0, 0, 5}, 321, 241, x, y));
    EXPECT_EQ(x, 160);
    EXPECT_EQ(y, 120);
}

TEST(CameraProjection, PointsBeyondAnyPixelRangeAreRefused) {
    Camera camera;
    DeriveCameraBasis(camera);
    int x = 7;
    int y = 7;
    EXPECT_FALSE(ProjectToPixel(camera, {1e30f, 0, 1}, 320, 240, x, y));
    EXPECT_FALSE(ProjectToPixel(camera, {1, 0, 0}, 320, 240, x, y));  // depth 0
    EXPECT_EQ(x, 7);
    EXPECT_EQ(y, 7);
}

TEST(CameraPrimaryRay, MapsImagePlaneCoordinatesThroughTheBasis) {
    Camera camera;
    camera.position = {1, 2, 3};
    camera.lookAt = {1, 2, 13};
    camera.focus = 2.0f;
    DeriveCameraBasis(camera);
    Ray centre = PrimaryRay(camera, 0.0f, 0.0f);
    EXPECT_EQ(centre.origin, (Vec3{1, 2, 3}));
    ExpectNear(centre.direction, {0, 0, 1});
    // The corner of the shorter side: half a unit across at distance focus.
    Ray corner = PrimaryRay(camera, 0.5f, -0.5f);
    ExpectNear(corner.direction, Normalize({0.5f, -0.5f, 2.0f}));
    // Projecting a point along a primary ray gives back its coordinates.
    Vec3 along = camera.position + 10.0f * corner.direction;
    ProjectedPoint p = ProjectPoint(camera, along, 200, 100);
    EXPECT_NEAR(p.column, 0.5f * 100 + 100, 1e-3f);
    EXPECT_NEAR(p.row, -0.5f * 100 + 50, 1e-3f);
}

TEST(CameraTitle, HeightCarriesTheSpaceFlag) {
    EXPECT_EQ(SizeTitle(640, 480, 1234), "640 x  480:  1234 triangles");
    EXPECT_EQ(SizeTitle(320, 240, 0), "320 x  240:  0 triangles");
}

}  // namespace
}  // namespace lumeno
