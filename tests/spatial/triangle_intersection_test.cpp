#include "spatial/triangle_intersection.h"

#include <gtest/gtest.h>

#include <memory>

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

}  // namespace
}  // namespace lumeno
