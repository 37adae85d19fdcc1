#include "light/subsurface.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <optional>
#include <utility>
#include <vector>

#include "plane_world.h"
#include "scripted_world.h"

namespace lumeno {
namespace {

using testing::HitOn;
using testing::kMiss;
using testing::MakeMaterial;
using testing::OneLightProbe;
using testing::PlaneWorld;
using testing::ScriptedWorld;

// A translucent point takes its draws in this order from the generator's
// initial state: the light pick, the dipole radius, the azimuth, the free
// flight. The radius draw is the second word of the sequence.
const double kRadiusDraw = 458299110.0 * 2.3283064365386963e-10;

const Vec3 kLightColour{1, 2, 3};

// The multiple-scattering contribution of one channel, worked out in double
// precision from the dipole model (relative index above 1): with irradiance e
// at radius r, v = e / pdf · Rd, and the channel adds v · α′ only when
// 0 < α′ ≤ 1 and 0 < v < 1.
double DipoleTerm(double e, double r, double sigmaTr, double sigmaT, double albedo, double eta) {
    double fdr = -1.4399 / (eta * eta) + 0.7099 / eta + 0.6681 + 0.0636 * eta;
    double a = (1 + fdr) / (1 - fdr);
    double pdf = sigmaTr * std::exp(-sigmaTr * r);
    double zr = 1 / sigmaT;
    double zv = zr + 4.0 / 3.0 * a;
    double dr = std::sqrt(r * r + zr * zr);
    double dv = std::sqrt(r * r + zv * zv);
    double s = zr * (sigmaTr + 1 / dr) * std::exp(-sigmaTr * dr) / (dr * dr) +
               zv * (sigmaTr + 1 / dv) * std::exp(-sigmaTr * dv) / (dv * dv);
    double v = e / pdf * std::min(s, 1.0) / 3.141592653589793;
    return albedo > 0 && albedo <= 1 && v > 0 && v < 1 ? v * albedo : 0;
}

// Skin without a map: σa = (0.01, 0.02, 0.04), σs = (0.5, 0.4, 0.3), η = 1.3.
// With the light colour (1, 2, 3), each channel's v lies well inside (0, 1).
Material Skin() {
    Material skin = MakeMaterial(MaterialKind::Subsurface, {1, 1, 1});
    skin.sigmaA = {0.01f, 0.02f, 0.04f};
    skin.sigmaS = {0.5f, 0.4f, 0.3f};
    skin.refraction = 1.3f;
    return skin;
}

// The multiple-scattering sum of Skin() under kLightColour at cosine cL
// between the light and the projected normal.
Vec3 SkinDipoleSum(double cosine) {
    const double sigmaA[3] = {0.01, 0.02, 0.04};
    const double sigmaS[3] = {0.5, 0.4, 0.3};
    double sigmaT[3];
    double sigmaTr[3];
    for (int c = 0; c < 3; ++c) {
        sigmaT[c] = sigmaA[c] + sigmaS[c];
        sigmaTr[c] = std::sqrt(3 * sigmaA[c] * sigmaT[c]);
    }
    double r = -std::log(kRadiusDraw) / ((sigmaTr[0] + sigmaTr[1] + sigmaTr[2]) / 3);
    Vec3 sum;
    for (int c = 0; c < 3; ++c) {
        sum[c] = static_cast<float>(DipoleTerm(kLightColour[c] * cosine, r, sigmaTr[c], sigmaT[c],
                                               sigmaS[c] / sigmaT[c], 1.3));
    }
    return sum;
}

void ExpectRelativelyNear(Vec3 actual, Vec3 expected) {
    for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(actual[c], expected[c], 1e-5f * std::fabs(expected[c])) << "channel " << c;
    }
}

// A translucent hit at the origin with normal +y, seen straight down, under
// one light of colour (1, 2, 3), in a scripted world. The two projection
// rays come first (A along +N, then B along −N), then the single-scattering
// rays.
struct TranslucentPoint {
    Material material;
    LightProbe probe;
    ScriptedWorld world;
    Random random;
    PathContext context{world, probe, random, {}};

    explicit TranslucentPoint(Material m, Vec3 light = {0, 1, 0})
        : material(std::move(m)), probe(OneLightProbe(light, kLightColour)) {}

    Vec3 Shade() {
        Vec3 radiance = ShadeTranslucent(*HitOn(material, {0, 1, 0}), {0, -1, 0}, context);
        EXPECT_TRUE(world.answers.empty()) << "the point asked fewer queries than scripted";
        return radiance;
    }
};

TEST(TranslucentShading, EveryEarlyStopReturnsTheMultipleScatteringSumUnhalved) {
    Material plaster = MakeMaterial(MaterialKind::Diffuse, {1, 1, 1});
    Material skin = Skin();
    auto inside = HitOn(skin, {0, 1, 0}, 0.05f);
    auto exit = HitOn(skin, {0, -1, 0}, 0.05f);
    const std::vector<std::vector<std::optional<HitRecord>>> stops = {
        {kMiss},                                       // the refracted ray leaves
        {HitOn(plaster, {0, 1, 0}, 0.05f)},            // it meets another material
        {inside, kMiss},                               // the ray toward the light leaves
        {inside, HitOn(plaster, {0, -1, 0}, 0.05f)},   // it meets another material
        {inside, exit, HitOn(plaster, {0, -1, 0}, 1)}  // the light is blocked
    };
    Vec3 expected = SkinDipoleSum(1.0);  // light straight above the projected point
    ASSERT_GT(expected.x * expected.y * expected.z, 0.0f);
    for (std::size_t i = 0; i < stops.size(); ++i) {
        SCOPED_TRACE(i);
        TranslucentPoint point(Skin());
        point.world.answers = {kMiss, HitOn(point.material, {0, 1, 0}, 0.00001f)};
        point.world.answers.insert(point.world.answers.end(), stops[i].begin(), stops[i].end());
        ExpectRelativelyNear(point.Shade(), expected);
    }
}

TEST(TranslucentShading, MultipleScatteringNeedsAProjectionWithin10000FacingTheLight) {
    Material skin = Skin();
    // The projection ray A travels along +N and B along −N; each hit's normal
    // faces its ray, and the projected normal is −normal for A, +normal for B.
    auto tiltedA = [&](float t) { return HitOn(skin, {0, -0.6f, -0.8f}, t); };  // Ns (0, 0.6, 0.8)
    auto flatB = [&](float t) { return HitOn(skin, {0, 1, 0}, t); };            // Ns (0, 1, 0)
    struct Case {
        std::optional<HitRecord> a;
        std::optional<HitRecord> b;
        Vec3 light;
        double cosine;  // light · Ns of the projection taken; 0 for none
    };
    const Vec3 up{0, 1, 0};
    const Case cases[] = {
        {kMiss, flatB(0.00001f), up, 1.0},
        {tiltedA(0.001f), flatB(0.002f), up, 0.6},  // A is nearer
        {tiltedA(0.002f), flatB(0.001f), up, 1.0},  // B is nearer
        {tiltedA(0.001f), flatB(0.001f), up, 1.0},  // a tie goes to B
        {tiltedA(0.001f), kMiss, up, 0.6},
        {kMiss, flatB(9999.0f), up, 1.0},
        {kMiss, flatB(10000.0f), up, 0.0},  // no hit within 10000
        {tiltedA(10000.0f), kMiss, up, 0.0},
        {kMiss, kMiss, up, 0.0},
        {kMiss, flatB(0.00001f), {0, -1, 0}, 0.0},  // the light is below the surface
        // Above the hit's own surface, but below the projected one.
        {tiltedA(0.001f), kMiss, {0, 0.6f, -0.8f}, 0.0},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const Case& c = cases[i];
        TranslucentPoint point(Skin(), c.light);
        point.world.answers = {c.a, c.b, kMiss};  // the refracted ray leaves: no single scattering
        ExpectRelativelyNear(point.Shade(), SkinDipoleSum(c.cosine));
    }
}

TEST(TranslucentShading, MapValueOfOneUsesTheLastTableEntry) {
    // A map of values 255, 100.5 and 0 gives colours 1.0, 0.394 and 0: table
    // entries 254, 100 and 0. Every other entry holds 0.5.
    FloatPlane planes[3];
    const float values[3] = {255.0f, 100.5f, 0.0f};
    for (int c = 0; c < 3; ++c) {
        planes[c].Create(4, 4);
        planes[c].Fill(values[c]);
    }
    Material mapped = MakeMaterial(MaterialKind::Subsurface, {1, 1, 1});
    mapped.refraction = 1.3f;
    mapped.hasTexture = true;
    mapped.diffuse->hasMap = true;
    mapped.diffuse->mapR = &planes[0];
    mapped.diffuse->mapG = &planes[1];
    mapped.diffuse->mapB = &planes[2];
    mapped.diffuse->mapWidth = 4;
    mapped.diffuse->mapHeight = 4;
    mapped.sssTable.fill(0.5f);
    mapped.sssTable[254] = 0.9f;
    mapped.sssTable[100] = 0.7f;
    mapped.sssTable[0] = 0.2f;

    TranslucentPoint point(std::move(mapped));
    point.world.answers = {kMiss, HitOn(point.material, {0, 1, 0}, 0.00001f), kMiss};
    // A mapped channel has σtr = 0.1 and σt = 0.1 / √(3 (1 − α′)); the mean
    // σtr is 0.1, so the radius is −ln(ξ) / 0.1.
    const double albedo[3] = {0.9, 0.7, 0.2};
    double r = -std::log(kRadiusDraw) / 0.1;
    Vec3 expected;
    for (int c = 0; c < 3; ++c) {
        double sigmaT = 0.1 / std::sqrt(3 * (1 - albedo[c]));
        expected[c] =
            static_cast<float>(DipoleTerm(kLightColour[c], r, 0.1, sigmaT, albedo[c], 1.3));
    }
    ASSERT_GT(expected.x * expected.y * expected.z, 0.0f);
    ExpectRelativelyNear(point.Shade(), expected);
}

TEST(TranslucentShading, BackLitSlabReturnsHalfTheCappedSingleScattering) {
    // A slab of skin between y = −1 and y = 0, seen straight down, lit straight
    // from below: the light is below the projected surface, so there is no
    // multiple scattering. Along the straight path through the slab
    // (s + s′o ≈ 1), with G = 1, forward scattering p = 0.36 / (4π · 0.04^1.5)
    // ≈ 3.58 and Fi = Fo = 1 − (0.3 / 2.3)² ≈ 0.983, the single-scattering term
    // 5 · α′ / 2 · p · Fi · Fo · exp(−2.5 σt) is above 1 on every channel and
    // is capped there. The result is (0 + 4π · C · 1) / 2.
    Material skin = Skin();
    PlaneWorld world;
    world.planes = {{0.0f, &skin}, {-1.0f, &skin}};
    LightProbe probe = OneLightProbe({0, -1, 0}, kLightColour);
    Random random;
    PathContext context{world, probe, random, {}};
    Vec3 radiance = Trace({{0, 1, 0}, {0, -1, 0}}, context).radiance;
    EXPECT_FLOAT_EQ(radiance.x, 6.2831855f * 1.0f);
    EXPECT_FLOAT_EQ(radiance.y, 6.2831855f * 2.0f);
    EXPECT_FLOAT_EQ(radiance.z, 6.2831855f * 3.0f);
    EXPECT_EQ(world.occlusionQueries, 1);
}

}  // namespace
}  // namespace lumeno
