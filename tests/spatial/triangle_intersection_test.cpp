#include "spatial/triangle_intersection.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>

#include "scene/material.h"
#include "spatial_test_support.h"

namespace lumeno {
namespace {

using testing::MakeTriangle;

// The unit right triangle in the plane z = 0 with texture coordinates and
// vertex normals 90° apart between p0 and p1 (faceNormal is (0, 0, −1)).
Triangle NormalsTriangle(const Material* material) {
    Triangle t = MakeTriangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, material);
    t.normal0 = {0, 0, 1};
    t.normal1 = {1, 0, 0};
    t.normal2 = {0, 0, 1};
    t.uv0 = {0, 0};
    t.uv1 = {1, 0};
    t.uv2 = {0, 1};
    t.bumpU = {1, 0, 0};
    t.bumpV = {0, 1, 0};
    t.hasBumpFrame = true;
    return t;
}

TEST(IntersectTriangle, EdgesAndCornersAreHitAndPointsJustOutsideAreNot) {
    Triangle t = MakeTriangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
    HitRecord hit;
    EXPECT_TRUE(IntersectTriangle(t, {{1, 0, 5}, {0, 0, -1}}, 0, 1e9f, hit));        // corner p1
    EXPECT_TRUE(IntersectTriangle(t, {{0, 0, 5}, {0, 0, -1}}, 0, 1e9f, hit));        // corner p0
    EXPECT_TRUE(IntersectTriangle(t, {{0.5f, 0.5f, 5}, {0, 0, -1}}, 0, 1e9f, hit));  // hypotenuse
    EXPECT_TRUE(IntersectTriangle(t, {{0.25f, 0, 5}, {0, 0, -1}}, 0, 1e9f, hit));    // edge
    EXPECT_FALSE(IntersectTriangle(t, {{0.25f, -0.001f, 5}, {0, 0, -1}}, 0, 1e9f, hit));
    EXPECT_FALSE(IntersectTriangle(t, {{0.5f, 0.501f, 5}, {0, 0, -1}}, 0, 1e9f, hit));
}

TEST(IntersectTriangle, BothDistanceBoundsAreInclusiveAndAMissWritesNothing) {
    Triangle t = MakeTriangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
    Ray ray{{0.2f, 0.2f, 5}, {0, 0, -1}};
    HitRecord hit;
    EXPECT_TRUE(IntersectTriangle(t, ray, 5.0f, 5.0f, hit));
    EXPECT_EQ(hit.distance, 5.0f);
    hit.distance = 42.0f;
    EXPECT_FALSE(IntersectTriangle(t, ray, 0.0f, 4.999f, hit));
    EXPECT_FALSE(IntersectTriangle(t, {{0.2f, 0.2f, 5}, {0, 0, 1}}, 0.0f, 1e9f, hit));
    EXPECT_EQ(hit.distance, 42.0f);
}

TEST(IntersectTriangle, SideAndFaceNormalFaceTheRay) {
    Triangle t = MakeTriangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
    HitRecord hit;
    // Travelling along faceNormal (0, 0, −1): side −1.
    ASSERT_TRUE(IntersectTriangle(t, {{0.2f, 0.2f, 5}, {0, 0, -1}}, 0, 1e9f, hit));
    EXPECT_EQ(hit.side, -1.0f);
    EXPECT_EQ(hit.normal, (Vec3{0, 0, 1}));
    EXPECT_EQ(hit.tangent, t.tangent);
    EXPECT_EQ(hit.bitangent, t.bitangent);
    ASSERT_TRUE(IntersectTriangle(t, {{0.2f, 0.2f, -5}, {0, 0, 1}}, 0, 1e9f, hit));
    EXPECT_EQ(hit.side, 1.0f);
    EXPECT_EQ(hit.normal, (Vec3{0, 0, -1}));
}

TEST(IntersectTriangle, TrianglesMetAlmostEdgeOnOrTinyAreMissed) {
    Triangle tiny = MakeTriangle({0, 0, 0}, {0.0005f, 0, 0}, {0, 0.0005f, 0});
    HitRecord hit;
    EXPECT_FALSE(IntersectTriangle(tiny, {{0.0001f, 0.0001f, 1}, {0, 0, -1}}, 0, 1e9f, hit));
    Triangle t = MakeTriangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
    EXPECT_FALSE(IntersectTriangle(t, {{-1, 0.2f, 0}, {1, 0, 0}}, 0, 1e9f, hit));
}

TEST(IntersectTriangle, InterpolatedNormalsAreShorterThanOneBetweenCorners) {
    Triangle t = NormalsTriangle(nullptr);
    HitRecord hit;
    ASSERT_TRUE(IntersectTriangle(t, {{0.5f, 0, 5}, {0, 0, -1}}, 0, 1e9f, hit));
    EXPECT_NEAR(Length(hit.normal), 0.70710677f, 1e-5f);
    EXPECT_LT(Dot(hit.normal, Vec3{0, 0, -1}), 0.0f);
    EXPECT_FLOAT_EQ(hit.texU, 0.5f);
    EXPECT_FLOAT_EQ(hit.texV, 0.0f);
    ASSERT_TRUE(IntersectTriangle(t, {{0, 0, 5}, {0, 0, -1}}, 0, 1e9f, hit));
    EXPECT_EQ(hit.normal, (Vec3{0, 0, 1}));
}

struct BumpedMaterial {
    FloatPlane plane;
    Material material;

    BumpedMaterial(int width, int height, float height0) {
        EXPECT_TRUE(plane.Create(width, height));
        plane.Fill(height0);
        material.diffuse = std::make_unique<DiffuseLayer>();
        material.diffuse->hasBump = true;
        material.diffuse->bumpWidth = static_cast<float>(width);
        material.diffuse->bumpHeight = static_cast<float>(height);
        material.diffuse->bump = &plane;
    }
};

TEST(BumpMapping, AConstantHeightNormalisesTheNormalWhenItFacesTheViewer) {
    BumpedMaterial bumped(4, 4, 100.0f);
    Triangle t = NormalsTriangle(&bumped.material);
    HitRecord hit;
    ASSERT_TRUE(IntersectTriangle(t, {{0.5f, 0, 5}, {0, 0, -1}}, 0, 1e9f, hit));
    EXPECT_NEAR(Length(hit.normal), 1.0f, 1e-6f);
    EXPECT_NEAR(hit.normal.x, 0.70710677f, 1e-6f);
    EXPECT_NEAR(hit.normal.z, 0.70710677f, 1e-6f);
}

TEST(BumpMapping, ABumpedNormalGrazingTheViewerIsDropped) {
    BumpedMaterial bumped(4, 4, 100.0f);
    Triangle t = NormalsTriangle(&bumped.material);
    HitRecord hit;
    // −dot(N', d) = 0.1414 < 0.3: the unnormalised normal stays.
    ASSERT_TRUE(IntersectTriangle(t, {{-0.1f, 0, 0.8f}, {0.6f, 0, -0.8f}}, 0, 1e9f, hit));
    EXPECT_NEAR(Length(hit.normal), 0.70710677f, 1e-5f);
}

TEST(BumpMapping, ASlopeTiltsTheNormal) {
    BumpedMaterial bumped(4, 4, 0.0f);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            bumped.plane.At(x, y) = 5.0f * static_cast<float>(x);
        }
    }
    Triangle t = NormalsTriangle(&bumped.material);
    HitRecord hit;
    ASSERT_TRUE(IntersectTriangle(t, {{0.1f, 0.1f, 5}, {0, 0, -1}}, 0, 1e9f, hit));
    // dx = 0.5: p = normalize(−0.5, 0, 1), tilted along −bumpU (side −1 flips).
    EXPECT_GT(hit.normal.x, 0.4f);
    EXPECT_NEAR(Length(hit.normal), 1.0f, 1e-6f);
}

TEST(BumpMapping, MaterialsWithoutALayerAndOneSampleMapsAreSafe) {
    Material bare;  // no DiffuseLayer: no bump map
    Triangle t = NormalsTriangle(&bare);
    HitRecord hit;
    ASSERT_TRUE(IntersectTriangle(t, {{0.5f, 0, 5}, {0, 0, -1}}, 0, 1e9f, hit));
    EXPECT_NEAR(Length(hit.normal), 0.70710677f, 1e-5f);

    BumpedMaterial single(1, 1, 50.0f);
    Triangle s = NormalsTriangle(&single.material);
    ASSERT_TRUE(IntersectTriangle(s, {{0.05f, 0.05f, 5}, {0, 0, -1}}, 0, 1e9f, hit));
    EXPECT_NEAR(Length(hit.normal), 1.0f, 1e-6f);
}

TEST(BumpMapping, TrianglesWithoutABumpFrameAreNotBumped) {
    BumpedMaterial bumped(4, 4, 100.0f);
    Triangle t = NormalsTriangle(&bumped.material);
    t.hasBumpFrame = false;
    HitRecord hit;
    ASSERT_TRUE(IntersectTriangle(t, {{0.5f, 0, 5}, {0, 0, -1}}, 0, 1e9f, hit));
    EXPECT_NEAR(Length(hit.normal), 0.70710677f, 1e-5f);
}

// Four triangles a lane each against the one-triangle test: the same lanes
// hit, with the same bits. Corners on a small integer grid and rays between
// grid points put many hits exactly on edges and corners; nearly edge-on
// triangles put determinants around the threshold.
TEST(IntersectEdges4, EveryLaneHasTheBitsOfTheOneTriangleTest) {
    std::mt19937 rng(8);
    std::uniform_int_distribution<int> grid(-3, 3);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    auto point = [&](bool onGrid) {
        return onGrid ? Vec3{static_cast<float>(grid(rng)), static_cast<float>(grid(rng)),
                             static_cast<float>(grid(rng))}
                      : Vec3{3.0f * unit(rng), 3.0f * unit(rng), 3.0f * unit(rng)};
    };
    auto bits = [](float f) { return std::bit_cast<std::uint32_t>(f); };
    int hits = 0;
    for (int k = 0; k < 200000; ++k) {
        bool onGrid = k % 2 == 0;
        alignas(16) float lanes[9][4];
        TriangleEdges tri[4];
        for (int lane = 0; lane < 4; ++lane) {
            Vec3 p0 = point(onGrid);
            Vec3 p1 = point(onGrid);
            Vec3 p2 =
                k % 7 == 0 ? p1 + 1e-4f * Vec3{unit(rng), unit(rng), unit(rng)} : point(onGrid);
            tri[lane] = {p0, p1 - p0, p2 - p0};
            for (int a = 0; a < 3; ++a) {
                lanes[a][lane] = tri[lane].p0[a];
                lanes[3 + a][lane] = tri[lane].e1[a];
                lanes[6 + a][lane] = tri[lane].e2[a];
            }
        }
        TriangleEdges4 four;
        for (int a = 0; a < 3; ++a) {
            four.p0[a] = _mm_load_ps(lanes[a]);
            four.e1[a] = _mm_load_ps(lanes[3 + a]);
            four.e2[a] = _mm_load_ps(lanes[6 + a]);
        }
        Ray ray{point(onGrid) + Vec3{0.5f, 0.5f, 0.0f}, Normalize(point(onGrid) - point(onGrid))};
        EdgeHits4 got;
        unsigned mask = IntersectEdges4(four, Broadcast(ray), got);
        alignas(16) float t[4], u[4], v[4], side[4];
        _mm_store_ps(t, got.t);
        _mm_store_ps(u, got.u);
        _mm_store_ps(v, got.v);
        _mm_store_ps(side, got.side);
        for (int lane = 0; lane < 4; ++lane) {
            EdgeHit want;
            bool hit = IntersectEdges(tri[lane], ray.origin, ray.direction, 0.0f,
                                      std::numeric_limits<float>::infinity(), want);
            ASSERT_EQ((mask >> lane & 1u) != 0, hit) << "case " << k << ", lane " << lane;
            if (hit) {
                ++hits;
                ASSERT_EQ(bits(t[lane]), bits(want.t));
                ASSERT_EQ(bits(u[lane]), bits(want.u));
                ASSERT_EQ(bits(v[lane]), bits(want.v));
                ASSERT_EQ(bits(side[lane]), bits(want.side));
            }
        }
    }
    EXPECT_GT(hits, 20000);
}

}  // namespace
}  // namespace lumeno
