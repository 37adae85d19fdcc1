#include "render/mouse_control.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>

namespace lumeno {
namespace {

using testing::ExpectNear;

// The default camera: ex = (1, 0, 0), ey = (0, 1, 0), ez = (0, 0, 1).
Camera DefaultCamera() {
    Camera camera;
    DeriveCameraBasis(camera);
    return camera;
}

bool SameCamera(const Camera& a, const Camera& b) {
    return a.position == b.position && a.ex == b.ex && a.ey == b.ey && a.ez == b.ez;
}

TEST(Rotation, PositiveAnglesTurnEzTowardExAboutEyAndTowardMinusEyAboutEx) {
    float s = std::sin(0.3f);
    float c = std::cos(0.3f);
    ExpectNear(RotateAboutAxis({0, 0, 1}, {0, 1, 0}, 0.3f), {s, 0, c}, 1e-5f);
    ExpectNear(RotateAboutAxis({0, 0, 1}, {1, 0, 0}, 0.3f), {0, -s, c}, 1e-5f);
    // The axis maps to itself.
    ExpectNear(RotateAboutAxis({0, 1, 0}, {0, 1, 0}, 0.3f), {0, 1, 0}, 1e-5f);
}

TEST(LeftDrag, SmallMotionsAddUpUntilTheyPassThreePixelsFromThePress) {
    Camera camera = DefaultCamera();
    const Camera before = camera;
    DragState drag;
    OnLeftButtonDown(drag, 100, 100);
    EXPECT_EQ(drag.dragMode, kDragLeft);

    EXPECT_FALSE(OnMouseMove(drag, camera, 102, 102, false));  // D ≈ 2.83
    EXPECT_FALSE(OnMouseMove(drag, camera, 103, 100, false));  // D = 3 exactly
    EXPECT_TRUE(SameCamera(camera, before));
    EXPECT_EQ(drag.lastX, 100);
    EXPECT_EQ(drag.lastY, 100);

    // (+3, +2) from the press: D ≈ 3.6; ax = 0.06 beats ay = 0.04, so the
    // basis turns by −0.06 about ey.
    EXPECT_TRUE(OnMouseMove(drag, camera, 103, 102, false));
    EXPECT_EQ(drag.lastX, 103);
    EXPECT_EQ(drag.lastY, 102);
    ExpectNear(camera.ez, {-std::sin(0.06f), 0, std::cos(0.06f)}, 1e-5f);
    ExpectNear(camera.ex, {std::cos(0.06f), 0, std::sin(0.06f)}, 1e-5f);
    ExpectNear(camera.ey, {0, 1, 0}, 1e-5f);
    EXPECT_EQ(camera.position, before.position);

    // The next threshold is measured from the handled position.
    EXPECT_FALSE(OnMouseMove(drag, camera, 105, 102, false));
}

TEST(LeftDrag, FiftyPixelsRightTurnsTheViewOneRadianToTheLeft) {
    Camera camera = DefaultCamera();
    DragState drag;
    OnLeftButtonDown(drag, 10, 10);
    ASSERT_TRUE(OnMouseMove(drag, camera, 60, 10, false));
    ExpectNear(camera.ez, {-0.841471f, 0, 0.540302f}, 1e-5f);
    ExpectNear(camera.ex, {0.540302f, 0, 0.841471f}, 1e-5f);
    ExpectNear(camera.ey, {0, 1, 0}, 1e-5f);
}

TEST(LeftDrag, OneEventTurnsAtMostOneRadian) {
    Camera hundred = DefaultCamera();
    Camera fifty = DefaultCamera();
    DragState drag;
    OnLeftButtonDown(drag, 0, 0);
    ASSERT_TRUE(OnMouseMove(drag, hundred, 100, 0, false));  // ax = 2, clamped to 1
    OnLeftButtonDown(drag, 0, 0);
    ASSERT_TRUE(OnMouseMove(drag, fifty, 50, 0, false));
    EXPECT_TRUE(SameCamera(hundred, fifty));

    Camera up = DefaultCamera();
    OnLeftButtonDown(drag, 0, 500);
    ASSERT_TRUE(OnMouseMove(drag, up, 0, 0, false));  // ay = −10, clamped to −1
    ExpectNear(up.ez, {0, -0.841471f, 0.540302f}, 1e-5f);
}

TEST(LeftDrag, AnExactDiagonalTurnsAboutExSoDraggingDownLooksDown) {
    Camera camera = DefaultCamera();
    DragState drag;
    OnLeftButtonDown(drag, 0, 0);
    ASSERT_TRUE(OnMouseMove(drag, camera, 10, 10, false));  // |ax| = |ay| = 0.2
    ExpectNear(camera.ex, {1, 0, 0}, 1e-5f);
    ExpectNear(camera.ez, {0, std::sin(0.2f), std::cos(0.2f)}, 1e-5f);
    ExpectNear(camera.ey, {0, std::cos(0.2f), -std::sin(0.2f)}, 1e-5f);
}

TEST(LeftDrag, TurnsKeepTheBasisOrthonormalAndLeaveLookAtAndUpAlone) {
    Camera camera = DefaultCamera();
    camera.lookAt = {1, 2, 3};
    DragState drag;
    OnLeftButtonDown(drag, 0, 0);
    int x = 0;
    int y = 0;
    for (int i = 0; i < 200; ++i) {
        x += (i % 3 == 0) ? 7 : -4;
        y += (i % 2 == 0) ? 5 : -6;
        OnMouseMove(drag, camera, x, y, false);
    }
    EXPECT_NEAR(Length(camera.ex), 1.0f, 1e-4f);
    EXPECT_NEAR(Length(camera.ey), 1.0f, 1e-4f);
    EXPECT_NEAR(Length(camera.ez), 1.0f, 1e-4f);
    EXPECT_NEAR(Dot(camera.ex, camera.ey), 0.0f, 1e-4f);
    EXPECT_NEAR(Dot(camera.ey, camera.ez), 0.0f, 1e-4f);
    ExpectNear(Cross(camera.ex, camera.ey), camera.ez, 1e-4f);
    EXPECT_EQ(camera.lookAt, (Vec3{1, 2, 3}));
    EXPECT_EQ(camera.up, (Vec3{0, 1, 0}));
    EXPECT_EQ(camera.position, (Vec3{0, 0, 0}));
}

TEST(Pan, ControlDragMovesThePositionAgainstTheMouse) {
    Camera camera = DefaultCamera();
    // A turned basis, so that ex and ey are not the world axes.
    camera.ex = {0, 0, 1};
    camera.ez = {-1, 0, 0};
    camera.position = {1, 2, 3};
    DragState drag;
    OnLeftButtonDown(drag, 20, 20);
    ASSERT_TRUE(OnMouseMove(drag, camera, 30, 20, true));  // −0.6 ex
    ExpectNear(camera.position, {1, 2, 2.4f}, 1e-5f);
    ASSERT_TRUE(OnMouseMove(drag, camera, 30, 30, true));  // −0.6 ey
    ExpectNear(camera.position, {1, 1.4f, 2.4f}, 1e-5f);
    EXPECT_EQ(camera.ex, (Vec3{0, 0, 1}));
    EXPECT_EQ(camera.ez, (Vec3{-1, 0, 0}));
}

TEST(Dolly, RightDragMovesAlongTheViewByTheVerticalMotion) {
    Camera camera = DefaultCamera();
    camera.ez = {0, 0.6f, 0.8f};
    DragState drag;
    OnRightButtonDown(drag, 50, 50);
    EXPECT_EQ(drag.dragMode, kDragRight);
    EXPECT_FALSE(OnMouseMove(drag, camera, 50, 60, false));  // D = 10, not beyond
    EXPECT_EQ(camera.position, (Vec3{0, 0, 0}));

    ASSERT_TRUE(OnMouseMove(drag, camera, 50, 90, false));  // g = 2
    ExpectNear(camera.position, {0, 1.2f, 1.6f}, 1e-5f);

    // Horizontal motion passes the threshold but does not move the camera.
    const Camera before = camera;
    EXPECT_TRUE(OnMouseMove(drag, camera, 90, 90, false));
    EXPECT_TRUE(SameCamera(camera, before));
    EXPECT_EQ(drag.lastX, 90);

    // A control key changes nothing for the right button.
    ASSERT_TRUE(OnMouseMove(drag, camera, 90, 70, true));  // g = −1
    ExpectNear(camera.position, {0, 0.6f, 0.8f}, 1e-5f);
}

TEST(Dolly, OneEventMovesAtMostTenUnits) {
    Camera camera = DefaultCamera();
    DragState drag;
    OnRightButtonDown(drag, 0, 0);
    ASSERT_TRUE(OnMouseMove(drag, camera, 0, 400, false));  // g = 20, clamped
    ExpectNear(camera.position, {0, 0, 10}, 1e-5f);
    ASSERT_TRUE(OnMouseMove(drag, camera, 0, -1000, false));
    ExpectNear(camera.position, {0, 0, 0}, 1e-5f);
}

TEST(DragState, ReleasesEndTheDragAndASecondButtonTakesOver) {
    Camera camera = DefaultCamera();
    const Camera before = camera;
    DragState drag;
    EXPECT_FALSE(OnMouseMove(drag, camera, 500, 500, false));  // no button

    OnLeftButtonDown(drag, 0, 0);
    OnRightButtonDown(drag, 5, 5);  // switches to the dolly, from (5, 5)
    EXPECT_EQ(drag.dragMode, kDragRight);
    EXPECT_EQ(drag.lastX, 5);
    EXPECT_FALSE(OnMouseMove(drag, camera, 10, 10, false));  // within 10 of (5, 5)
    OnButtonUp(drag);
    EXPECT_EQ(drag.dragMode, kDragNone);
    EXPECT_FALSE(OnMouseMove(drag, camera, 200, 300, false));
    EXPECT_TRUE(SameCamera(camera, before));
}

TEST(DragState, FarApartCoordinatesDoNotOverflowTheDistance) {
    Camera camera = DefaultCamera();
    DragState drag;
    OnLeftButtonDown(drag, -2147483647, -2147483647);
    EXPECT_TRUE(OnMouseMove(drag, camera, 2147483647, -2147483647, false));
    // The turn is clamped to one radian.
    ExpectNear(camera.ez, {-0.841471f, 0, 0.540302f}, 1e-5f);
}

}  // namespace
}  // namespace lumeno
