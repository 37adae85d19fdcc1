#include "render/wireframe_preview.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace lumeno {
namespace {

FloatPlane WhitePlane(int width, int height) {
    FloatPlane plane;
    EXPECT_TRUE(plane.Create(width, height));
    plane.Fill(255.0f);
    return plane;
}

std::vector<std::pair<int, int>> BlackPixels(const FloatPlane& plane) {
    std::vector<std::pair<int, int>> pixels;
    for (int y = 0; y < plane.height; ++y) {
        for (int x = 0; x < plane.width; ++x) {
            if (plane.At(x, y) == 0.0f) {
                pixels.push_back({x, y});
            }
        }
    }
    return pixels;
}

// The line walked step by step over its whole length, as written.
void StepByStepLine(FloatPlane& plane, int x0, int y0, int x1, int y1) {
    int dx = x1 - x0;
    int dy = y1 - y0;
    int sx = dx < 0 ? -1 : 1;
    int sy = dy < 0 ? -1 : 1;
    int ax = dx < 0 ? -dx : dx;
    int ay = dy < 0 ? -dy : dy;
    int x = x0;
    int y = y0;
    int error = 0;
    auto plot = [&] {
        if (0 < x && x < plane.width && 0 < y && y < plane.height) {
            plane.At(x, y) = 0.0f;
        }
    };
    if (ax > ay) {
        for (int i = 0; i < ax; ++i) {
            plot();
            error += ay;
            if (error > ax) {
                error -= ax;
                y += sy;
            }
            x += sx;
        }
    } else {
        for (int i = 0; i < ay; ++i) {
            plot();
            error += ax;
            if (error > ay) {
                error -= ay;
                x += sx;
            }
            y += sy;
        }
    }
}

TEST(DrawLine, SkipsColumnZeroAndTheEndPoint) {
    FloatPlane plane = WhitePlane(32, 16);
    DrawLine(plane, -10, 5, 10, 5);
    std::vector<std::pair<int, int>> expected;
    for (int x = 1; x <= 9; ++x) {
        expected.push_back({x, 5});
    }
    EXPECT_EQ(BlackPixels(plane), expected);
}

TEST(DrawLine, CoincidentEndsWriteNothing) {
    FloatPlane plane = WhitePlane(16, 16);
    DrawLine(plane, 5, 5, 5, 5);
    EXPECT_TRUE(BlackPixels(plane).empty());
}

TEST(DrawLine, DiagonalsStepOnTheMinorAxisOnlyAfterTheErrorExceedsTheMajor) {
    FloatPlane plane = WhitePlane(16, 16);
    DrawLine(plane, 1, 1, 5, 3);  // ax = 4, ay = 2
    std::vector<std::pair<int, int>> expected{{1, 1}, {2, 1}, {3, 1}, {4, 2}};
    auto black = BlackPixels(plane);
    std::sort(black.begin(), black.end());
    EXPECT_EQ(black, expected);
}

TEST(DrawLine, MatchesTheStepByStepWalkForLinesReachingFarOutside) {
    std::mt19937 rng(17);
    std::uniform_int_distribution<int> near(-60, 100);
    std::uniform_int_distribution<int> far(-5000, 5000);
    for (int i = 0; i < 3000; ++i) {
        bool wide = i % 2 == 0;
        int x0 = wide ? far(rng) : near(rng);
        int y0 = near(rng);
        int x1 = near(rng);
        int y1 = wide ? near(rng) : far(rng);
        FloatPlane fast = WhitePlane(40, 30);
        FloatPlane slow = WhitePlane(40, 30);
        DrawLine(fast, x0, y0, x1, y1);
        StepByStepLine(slow, x0, y0, x1, y1);
        ASSERT_EQ(BlackPixels(fast), BlackPixels(slow))
            << "(" << x0 << ", " << y0 << ") to (" << x1 << ", " << y1 << ")";
    }
}

TEST(DrawLine, EndsAtTheEdgeOfTheIntegerRangeCostNothing) {
    FloatPlane plane = WhitePlane(40, 30);
    DrawLine(plane, -1073741824, 15, 1073741824, 15);
    EXPECT_EQ(BlackPixels(plane).size(), 39u);
}

struct RecordingDisplay : DisplaySink {
    std::vector<std::string> titles;
    int images = 0;
    const DibImage* last = nullptr;
    void SetTitle(const std::string& title) override { titles.push_back(title); }
    void ShowImage(const DibImage& image) override {
        ++images;
        last = &image;
    }
};

Triangle Corners(Vec3 p0, Vec3 p1, Vec3 p2) {
    Triangle t;
    t.p0 = p0;
    t.p1 = p1;
    t.p2 = p2;
    return t;
}

TEST(WireframePreview, DrawsBlackEdgesOnWhiteAndShowsTheSizeTitle) {
    Camera camera;
    DeriveCameraBasis(camera);
    Triangle t = Corners({-1, -1, 5}, {1, -1, 5}, {0, 1, 5});
    std::vector<Triangle*> triangles{&t};
    FloatPlane red;
    ASSERT_TRUE(red.Create(64, 48));
    DibImage image;
    ASSERT_TRUE(image.Allocate(64, 48));
    RecordingDisplay display;
    DrawWireframePreview(camera, triangles, red, image, display);

    // Corner (−1, −1, 5) projects to (32 − 9.6, 24 − 9.6) → (22, 14).
    EXPECT_EQ(red.At(22, 14), 0.0f);
    EXPECT_EQ(red.At(32, 24), 255.0f);  // inside the triangle
    EXPECT_EQ(red.At(0, 0), 255.0f);
    const std::uint8_t* edge = image.PixelAt(22, 14);
    EXPECT_EQ(edge[0] + edge[1] + edge[2], 0);
    const std::uint8_t* inside = image.PixelAt(32, 24);
    EXPECT_EQ(inside[0], 255);
    EXPECT_EQ(inside[1], 255);
    EXPECT_EQ(inside[2], 255);
    ASSERT_EQ(display.titles.size(), 1u);
    EXPECT_EQ(display.titles[0], "64 x  48:  1 triangles");
    EXPECT_EQ(display.images, 1);
    EXPECT_EQ(display.last, &image);
}

TEST(WireframePreview, ATriangleReachingTheNearPlaneIsLeftOutWhole) {
    Camera camera;
    DeriveCameraBasis(camera);
    Triangle nearby = Corners({0, 0, 0.1f}, {1, 0, 5}, {0, 1, 5});
    Triangle onPlane = Corners({0, 0, 0.2f}, {1, 0, 5}, {0, 1, 5});
    Triangle behind = Corners({-1, 0, -5}, {1, 0, 5}, {0, 1, 5});
    std::vector<Triangle*> triangles{&nearby, &onPlane, &behind};
    FloatPlane red;
    ASSERT_TRUE(red.Create(64, 48));
    DibImage image;
    ASSERT_TRUE(image.Allocate(64, 48));
    RecordingDisplay display;
    DrawWireframePreview(camera, triangles, red, image, display);
    EXPECT_TRUE(BlackPixels(red).empty());
    EXPECT_EQ(display.titles.at(0), "64 x  48:  3 triangles");
}

TEST(WireframePreview, CornersFarOffScreenKeepTheVisiblePartOfTheirEdges) {
    Camera camera;
    DeriveCameraBasis(camera);
    // A long edge from just ahead to far off to the right at the same row.
    Triangle t = Corners({0, 0, 10}, {1e12f, 0, 10}, {0, 0.001f, 10});
    std::vector<Triangle*> triangles{&t};
    FloatPlane red;
    ASSERT_TRUE(red.Create(64, 48));
    DibImage image;
    ASSERT_TRUE(image.Allocate(64, 48));
    RecordingDisplay display;
    DrawWireframePreview(camera, triangles, red, image, display);
    for (int x = 33; x < 64; ++x) {
        EXPECT_EQ(red.At(x, 24), 0.0f) << x;
    }
}

}  // namespace
}  // namespace lumeno
