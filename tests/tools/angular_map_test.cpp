// The direction conventions of the probe tool: where a direction lands in the
// angular map and in an equirectangular source, and the map's solid angles.
#include "probe/angular_map.h"

#include <gtest/gtest.h>

#include <cmath>

#include "probe/median_cut.h"

namespace lumeno::probe {
namespace {

void ExpectNear(Direction a, Direction b, double tolerance) {
    EXPECT_NEAR(a.x, b.x, tolerance);
    EXPECT_NEAR(a.y, b.y, tolerance);
    EXPECT_NEAR(a.z, b.z, tolerance);
}

// Directions spread over the whole sphere (a Fibonacci spiral).
Direction SpiralDirection(int i, int count) {
    double z = 1.0 - (2.0 * i + 1.0) / count;
    double r = std::sqrt(1.0 - z * z);
    double phi = i * 2.399963229728653;
    return {r * std::cos(phi), r * std::sin(phi), z};
}

TEST(AngularMap, ForwardIsTheCentreUpTheTopAndRightThePlusXSide) {
    MapPosition forward = DirectionToAngularMap({0, 0, 1}, 512, 512);
    EXPECT_DOUBLE_EQ(forward.x, 256.0);
    EXPECT_DOUBLE_EQ(forward.y, 256.0);
    // A direction at right angles to z lands on the circle of radius W/4.
    MapPosition right = DirectionToAngularMap({1, 0, 0}, 512, 512);
    EXPECT_NEAR(right.x, 384.0, 1e-3);
    EXPECT_NEAR(right.y, 256.0, 1e-9);
    MapPosition up = DirectionToAngularMap(kUp, 512, 512);
    EXPECT_NEAR(up.x, 256.0, 1e-9);
    EXPECT_NEAR(up.y, 128.0, 1e-3);
    // Backward lands on the rim.
    MapPosition back = DirectionToAngularMap(Normalized({1e-7, 0, -1}), 512, 512);
    EXPECT_NEAR(MapRadius(back.x, back.y, 512, 512), kRimRadius, 1e-6);
}

TEST(AngularMap, DirectionsComeBackThroughTheMap) {
    for (int i = 0; i < 2000; ++i) {
        Direction d = SpiralDirection(i, 2000);
        if (d.z < -0.999) {
            continue;  // −z has no single position on the rim
        }
        MapPosition p = DirectionToAngularMap(d, 300, 300);
        ExpectNear(AngularMapToDirection(p.x, p.y, 300, 300), d, 1e-9);
    }
}

TEST(AngularMap, PositionsOutsideTheDiscFoldBackOverTheRim) {
    // Just outside the rim on the right is just past −z, coming from the left.
    int size = 400;
    double rim = size * 0.5 * (1.0 + kRimRadius);
    Direction inside = AngularMapToDirection(rim - 2.0, size * 0.5, size, size);
    Direction outside = AngularMapToDirection(rim + 2.0, size * 0.5, size, size);
    EXPECT_LT(inside.z, -0.99);
    EXPECT_LT(outside.z, -0.99);
    EXPECT_GT(inside.x, 0.0);
    EXPECT_LT(outside.x, 0.0);
    EXPECT_NEAR(inside.x, -outside.x, 1e-9);
}

TEST(Equirect, MiddleColumnFacesForwardTopRowIsOverhead) {
    ExpectNear(EquirectToDirection(512, 256, 1024, 512), {0, 0, 1}, 1e-12);
    ExpectNear(EquirectToDirection(768, 256, 1024, 512), {1, 0, 0}, 1e-12);
    ExpectNear(EquirectToDirection(256, 256, 1024, 512), {-1, 0, 0}, 1e-12);
    ExpectNear(EquirectToDirection(0, 256, 1024, 512), {0, 0, -1}, 1e-12);
    ExpectNear(EquirectToDirection(100, 0, 1024, 512), kUp, 1e-12);
    ExpectNear(EquirectToDirection(100, 512, 1024, 512), {0, 1, 0}, 1e-12);
}

TEST(Equirect, DirectionsComeBackThroughTheImage) {
    for (int i = 0; i < 2000; ++i) {
        Direction d = SpiralDirection(i, 2000);
        EquirectPosition p = DirectionToEquirect(d, 1000, 500);
        EXPECT_GE(p.s, 0.0);
        EXPECT_LT(p.s, 1000.0);
        ExpectNear(EquirectToDirection(p.s, p.t, 1000, 500), d, 1e-9);
    }
}

TEST(MapSolidAngles, SumToTheSphereAndMatchCapsOfTheSphere) {
    for (int size : {16, 64, 257, 512}) {
        MapSolidAngles solidAngles(size, size);
        double total = 0.0;
        double forwardCap = 0.0;  // θ < 60°
        double upperHalf = 0.0;
        for (int j = 0; j < size; ++j) {
            for (int i = 0; i < size; ++i) {
                double omega = solidAngles.At(i, j);
                EXPECT_GE(omega, 0.0);
                total += omega;
                Direction d = AngularMapToDirection(i, j, size, size);
                if (d.z > 0.5) {
                    forwardCap += omega;
                }
                // The middle row lies on the horizon: half of it is above.
                if (std::fabs(d.y) < 1e-12) {
                    upperHalf += 0.5 * omega;
                } else if (d.y < 0.0) {
                    upperHalf += omega;
                }
            }
        }
        SCOPED_TRACE(size);
        EXPECT_NEAR(total, 4.0 * kPi, 1e-9);
        double tolerance = size >= 256 ? 0.01 : 0.08;
        EXPECT_NEAR(forwardCap / kPi, 1.0, tolerance);  // 2π (1 − cos 60°) = π
        EXPECT_NEAR(upperHalf / (2.0 * kPi), 1.0, tolerance);
    }
}

}  // namespace
}  // namespace lumeno::probe
