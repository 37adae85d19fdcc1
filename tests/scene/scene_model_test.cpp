#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

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

// The batched frames are the one-by-one frames to the bit, whatever the
// corners: ordinary and degenerate triangles, ties between components,
// signed zeros, huge, tiny, infinite and NaN values, any count.
TEST(TriangleFrame, BatchesGiveTheSameBitsAsOneByOne) {
    std::mt19937 random(3);
    const float special[] = {0.0f,
                             -0.0f,
                             1.0f,
                             -1.0f,
                             0.5f,
                             1e-30f,
                             3e38f,
                             -3e38f,
                             std::numeric_limits<float>::denorm_min(),
                             std::numeric_limits<float>::infinity(),
                             -std::numeric_limits<float>::infinity(),
                             std::numeric_limits<float>::quiet_NaN(),
                             -std::numeric_limits<float>::quiet_NaN()};
    std::uniform_real_distribution<float> ordinary(-2.0f, 2.0f);
    auto value = [&] {
        return random() % 8 == 0 ? special[random() % std::size(special)] : ordinary(random);
    };
    auto vec = [&] { return Vec3{value(), value(), value()}; };
    for (int round = 0; round < 400; ++round) {
        std::vector<Triangle> batched(random() % 40);
        for (Triangle& t : batched) {
            t.p0 = vec();
            // Shared corners and shared coordinates make degenerate frames and ties.
            t.p1 = random() % 6 == 0 ? t.p0 : vec();
            t.p2 = random() % 6 == 0 ? t.p1 : vec();
            if (random() % 4 == 0) {  // flat along an axis: its normal has two zeros
                int axis = static_cast<int>(random() % 3);
                t.p2[axis] = t.p1[axis] = t.p0[axis];
            }
            t.uv0 = {value(), value()};
            t.uv1 = random() % 6 == 0 ? t.uv0 : TexCoord{value(), value()};
            t.uv2 = {value(), value()};
            t.normal0 = vec();
        }
        std::vector<Triangle> single = batched;
        std::vector<Triangle*> pointers;
        for (Triangle& t : batched) {
            pointers.push_back(&t);
        }
        ComputeFaceFrames(pointers.data(), pointers.size());
        ComputeBumpFrames(pointers.data(), pointers.size());
        for (std::size_t i = 0; i < single.size(); ++i) {
            ComputeFaceFrame(single[i]);
            ComputeBumpFrame(single[i]);
            const Triangle& a = batched[i];
            const Triangle& b = single[i];
            for (auto field : {&Triangle::faceNormal, &Triangle::tangent, &Triangle::bitangent,
                               &Triangle::bumpU, &Triangle::bumpV}) {
                ASSERT_EQ(std::memcmp(&(a.*field), &(b.*field), sizeof(Vec3)), 0)
                    << "round " << round << ", triangle " << i;
            }
            ASSERT_EQ(a.hasBumpFrame, b.hasBumpFrame) << "round " << round << ", triangle " << i;
        }
    }
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
