#include "light/scattering.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>

namespace lumeno {
namespace {

using testing::ExpectNear;

TEST(Schlick, ReflectanceAtNormalAndGrazingIncidence) {
    EXPECT_NEAR(SchlickReflectance(1.5f, 1.0f), 0.04f, 1e-7f);
    for (float n : {1.2f, 1.5f, 2.4f}) {
        EXPECT_FLOAT_EQ(SchlickReflectance(n, 0.0f), 1.0f);
        EXPECT_FLOAT_EQ(SchlickTransmittance(n, 0.0f), 0.0f);
    }
    EXPECT_NEAR(SchlickTransmittance(1.5f, 1.0f), 0.96f, 1e-6f);
}

TEST(RefractGlass, NormalIncidencePassesStraightThrough) {
    Vec3 n{0, 1, 0};
    Vec3 d{0, -1, 0};
    for (float side : {1.0f, -1.0f}) {
        Ray out;
        ASSERT_TRUE(RefractGlass({0, 0, 0}, d, n, side, 0.6666667f, &out));
        ExpectNear(out.direction, -n);
        ExpectNear(out.origin, {0, -0.00001f, 0});
    }
}

TEST(RefractGlass, LeavingBeyondTheCriticalAngleFails) {
    Vec3 n{0, 1, 0};
    auto leaving = [&](float degrees) {
        float a = degrees * 3.14159265f / 180.0f;
        Vec3 d{std::sin(a), -std::cos(a), 0};
        Ray out;
        return RefractGlass({}, d, n, -1.0f, 0.6666667f, &out);
    };
    EXPECT_TRUE(leaving(41.0f));
    EXPECT_FALSE(leaving(42.0f));
    EXPECT_FALSE(leaving(80.0f));
    // Entering never fails.
    Vec3 grazing = Normalize(Vec3{1, -0.01f, 0});
    Ray out;
    EXPECT_TRUE(RefractGlass({}, grazing, n, 1.0f, 0.6666667f, &out));
    EXPECT_NEAR(Length(out.direction), 1.0f, 1e-6f);
}

TEST(MirrorDirection, ReflectsAboutTheNormal) {
    ExpectNear(MirrorDirection(Normalize(Vec3{1, -1, 0}), {0, 1, 0}), Normalize(Vec3{1, 1, 0}));
}

TEST(MaterialColour, ConstantWithoutAMapAndEdgeTexelsWithOne) {
    Material material;
    EXPECT_EQ(MaterialColour(material, 0.3f, 0.3f), kDefaultDiffuse);  // no layer
    material.diffuse = std::make_unique<DiffuseLayer>();
    material.diffuse->kd = {0.1f, 0.2f, 0.3f};
    EXPECT_EQ(MaterialColour(material, 7.0f, -2.0f), (Vec3{0.1f, 0.2f, 0.3f}));

    FloatPlane r, g, b;
    r.Create(4, 3);
    g.Create(4, 3);
    b.Create(4, 3);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            r.At(x, y) = float(10 * x + y);
            g.At(x, y) = 255.0f;
            b.At(x, y) = 0.0f;
        }
    }
    DiffuseLayer& layer = *material.diffuse;
    layer.hasMap = true;
    layer.mapR = &r;
    layer.mapG = &g;
    layer.mapB = &b;
    layer.mapWidth = 4;
    layer.mapHeight = 3;
    const float scale = 0.003921569f;
    // u = 0, v = 1 is the top-left texel; u = 1, v = 0 the bottom-right one.
    EXPECT_NEAR(MaterialColour(material, 0, 1).x, 0.0f, 1e-6f);
    EXPECT_NEAR(MaterialColour(material, 1, 0).x, 32 * scale, 1e-6f);
    EXPECT_NEAR(MaterialColour(material, 1.5f, 0).x, 32 * scale, 1e-6f);
    EXPECT_NEAR(MaterialColour(material, 0.5f, 0.5f).y, 1.0f, 1e-5f);
}

TEST(SampleCosineDirection, IsCosineDistributedAroundTheNormal) {
    Random random;
    Vec3 n{0, 1, 0};
    Vec3 t{0, 0, 1};
    Vec3 b{-1, 0, 0};
    const int count = 100000;
    Vec3 sum;
    double cosineSquares = 0.0;
    for (int i = 0; i < count; ++i) {
        Ray ray = SampleCosineDirection({1, 2, 3}, n, t, b, random);
        ASSERT_EQ(ray.origin, (Vec3{1, 2.0001f, 3}));
        ASSERT_NEAR(Length(ray.direction), 1.0f, 1e-5f);
        ASSERT_GE(ray.direction.y, 0.0f);
        sum = sum + ray.direction;
        cosineSquares += ray.direction.y * ray.direction.y;
    }
    // E[cos θ] = 2/3 and E[cos² θ] = 1/2 under a cosine-weighted density.
    EXPECT_NEAR(sum.y / count, 2.0f / 3.0f, 0.005f);
    EXPECT_NEAR(cosineSquares / count, 0.5, 0.005);
    EXPECT_NEAR(sum.x / count, 0.0f, 0.01f);
    EXPECT_NEAR(sum.z / count, 0.0f, 0.01f);
}

}  // namespace
}  // namespace lumeno
