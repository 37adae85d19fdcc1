#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "base/float_plane.h"
#include "scene/material.h"
#include "scene/matrix4.h"
#include "scene/triangle.h"
#include "scene/vec3.h"
#include "test_support.h"

namespace lumeno {
namespace {

using testing::ExpectNear;

TEST(Vec3, NormalizeKeepsTheZeroVectorZero) {
    EXPECT_EQ(Normalize(Vec3{}), Vec3{});
    ExpectNear(Normalize(Vec3{3.0f, 0.0f, 4.0f}), {0.6f, 0.0f, 0.8f});
}

TEST(AnyPerpendicular, PicksTheSmallestComponentWithTiesToXThenY) {
    ExpectNear(AnyPerpendicular({0.6f, 0.8f, 0.0f}), {-0.8f, 0.6f, 0.0f});
    // x and y tie at 0: x wins, t = (0, −n.z, n.y).
    ExpectNear(AnyPerpendicular({0.0f, 0.0f, -1.0f}), {0.0f, 1.0f, 0.0f});
    // y and z tie: y wins, t = (−n.z, 0, n.x).
    ExpectNear(AnyPerpendicular({1.0f, 0.0f, 0.0f}), {0.0f, 0.0f, 1.0f});
}

TEST(AnyPerpendicular, IsAUnitVectorAtRightAngles) {
    for (Vec3 n : {Vec3{0.3f, -0.5f, 0.8f}, Vec3{-0.9f, 0.1f, 0.2f}, Vec3{0.0f, 1.0f, 0.0f}}) {
        n = Normalize(n);
        Vec3 t = AnyPerpendicular(n);
        EXPECT_NEAR(Dot(t, n), 0.0f, 1e-6f);
        EXPECT_NEAR(Length(t), 1.0f, 1e-6f);
    }
}

TEST(TriangleFrame, FaceNormalPointsAgainstTheRightHandNormal) {
    Triangle t;
    t.p0 = {0, 0, 0};
    t.p1 = {1, 0, 0};
    t.p2 = {0, 1, 0};
    ComputeFaceFrame(t);
    ExpectNear(t.faceNormal, {0, 0, -1});
    ExpectNear(t.tangent, {0, 1, 0});
    ExpectNear(t.bitangent, {-1, 0, 0});
}

TEST(BumpFrame, UnitRightTriangleGivesTiltedFrame) {
    Triangle t;
    t.p0 = {0, 0, 0};
    t.p1 = {1, 0, 0};
    t.p2 = {0, 1, 0};
    t.uv0 = {0, 0};
    t.uv1 = {1, 0};
    t.uv2 = {0, 1};
    t.normal0 = {0, 0, 1};
    ComputeBumpFrame(t);
    EXPECT_TRUE(t.hasBumpFrame);
    ExpectNear(t.bumpU, {0.70710677f, 0.0f, 0.70710677f});
    ExpectNear(t.bumpV, {0.0f, 0.70710677f, 0.70710677f});
}

TEST(BumpFrame, DegenerateTextureCoordinatesGiveNoFrame) {
    Triangle t;
    t.p0 = {0, 0, 0};
    t.p1 = {1, 0, 0};
    t.p2 = {0, 1, 0};
    t.uv0 = t.uv1 = t.uv2 = {0.5f, 0.5f};  // C = 0
    t.normal0 = {0, 0, 1};
    ComputeBumpFrame(t);
    EXPECT_FALSE(t.hasBumpFrame);
    EXPECT_EQ(t.bumpU, Vec3{});

    t.uv1 = {std::numeric_limits<float>::infinity(), 0.0f};
    t.uv2 = {0.0f, 1.0f};
    ComputeBumpFrame(t);
    EXPECT_FALSE(t.hasBumpFrame);
    EXPECT_TRUE(IsFinite(t.bumpU) && IsFinite(t.bumpV));
}

TEST(Matrix4, RotationsFollowTheRowVectorConvention) {
    float angle = 1.5707963f;
    ExpectNear(TransformCoord({1, 0, 0}, Matrix4::RotationY(angle)), {0, 0, -1});
    ExpectNear(TransformCoord({0, 0, 1}, Matrix4::RotationY(angle)), {1, 0, 0});
    ExpectNear(TransformCoord({0, 1, 0}, Matrix4::RotationX(angle)), {0, 0, 1});
    ExpectNear(TransformCoord({1, 0, 0}, Matrix4::RotationZ(angle)), {0, 1, 0});
    // rotY · rotX turns about Y first, then about X.
    Matrix4 m = Multiply(Matrix4::RotationY(angle), Matrix4::RotationX(angle));
    ExpectNear(TransformCoord({1, 0, 0}, m), {0, 1, 0});
}

TEST(MaterialTable, FindsByExactNameAndRefusesBeyondCapacity) {
    MaterialTable table;
    EXPECT_EQ(table.Find("a"), nullptr);
    Material* a = table.Append("a");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(table.Find("a"), a);
    EXPECT_EQ(table.Find("A"), nullptr);
    EXPECT_EQ(a->refraction, 1.0f);
    EXPECT_FALSE(a->hasTexture);
    for (int i = 1; i < MaterialTable::kCapacity; ++i) {
        ASSERT_NE(table.Append(std::string("m").append(std::to_string(i))), nullptr);
    }
    EXPECT_EQ(table.Append("one too many"), nullptr);
    EXPECT_EQ(table.Count(), MaterialTable::kCapacity);
    EXPECT_EQ(table.Find("one too many"), nullptr);
}

TEST(MaterialTable, DefaultMaterialIsGreyDiffuse) {
    MaterialTable table;
    const Material& grey = table.Default();
    ASSERT_NE(grey.diffuse, nullptr);
    EXPECT_EQ(grey.diffuse->kd, (Vec3{0.7f, 0.7f, 0.7f}));
    EXPECT_FALSE(grey.diffuse->hasMap);
    EXPECT_FALSE(grey.diffuse->hasBump);
    EXPECT_EQ(grey.kind, MaterialKind::Diffuse);
    EXPECT_EQ(grey.refraction, 1.0f);
}

TEST(TextureTable, FindsByFileNameAndRefusesBeyondCapacity) {
    TextureTable table;
    Texture* wood = table.Append("wood.bmp");
    ASSERT_NE(wood, nullptr);
    EXPECT_EQ(table.Find("wood.bmp"), wood);
    EXPECT_EQ(table.Find("Wood.bmp"), nullptr);
    for (int i = 1; i < TextureTable::kCapacity; ++i) {
        ASSERT_NE(table.Append(std::to_string(i)), nullptr);
    }
    EXPECT_EQ(table.Append("full.bmp"), nullptr);
}

TEST(FloatPlane, CreateRefusesEmptyAndAbsurdSizes) {
    FloatPlane plane;
    EXPECT_FALSE(plane.Create(0, 5));
    EXPECT_FALSE(plane.Create(5, -1));
    EXPECT_FALSE(plane.Create(1 << 20, 1 << 20));
    EXPECT_TRUE(plane.Empty());
    ASSERT_TRUE(plane.Create(3, 2));
    EXPECT_EQ(plane.stride, 12);
    plane.At(2, 1) = 7.0f;
    EXPECT_EQ(plane.Row(1)[2], 7.0f);
    EXPECT_EQ(plane.pixels[5], 7.0f);
    plane.Release();
    EXPECT_EQ(plane.width, 0);
    EXPECT_TRUE(plane.rows.empty());
}

}  // namespace
}  // namespace lumeno
