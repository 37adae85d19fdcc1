#include "light/integrator.h"

#include <gtest/gtest.h>

#include <cmath>

#include "base/pfm_file.h"
#include "light/scattering.h"
#include "light/subsurface.h"
#include "plane_world.h"
#include "scripted_world.h"
#include "test_support.h"

namespace lumeno {
namespace {

using testing::ExpectNear;
using testing::HitOn;
using testing::kMiss;
using testing::MakeMaterial;
using testing::OneLightProbe;
using testing::PlaneWorld;
using testing::ScriptedWorld;
using testing::TempDir;

constexpr float kInversePi = 0.31830987f;

// A probe with a uniform environment of file value `value` (radiance
// value/255) and the given light list text.
struct Probe {
    TempDir dir;
    LightProbe probe;
    Diagnostics diagnostics;

    explicit Probe(const std::string& lights, float value = 0.0f) {
        FloatPlane plane;
        plane.Create(8, 8);
        plane.Fill(value);
        std::string image = dir.Path("probe.pfm");
        EXPECT_TRUE(WritePfm(image, plane, plane, plane, 1.0f));
        probe.LoadProbeImage(image, diagnostics);
        probe.LoadProbeLights(dir.Write("lights.txt", lights), diagnostics);
    }
};

// One light straight overhead (+y) of colour (1, 2, 3).
const char* kOverheadLight = "1 0\n0 -1 0 0 0 0 1 2 3\n";

struct Tracer {
    PlaneWorld world;
    Random random;
    const LightProbe& probe;
    PathContext context{world, probe, random, {}};

    explicit Tracer(const LightProbe& p) : probe(p) {}

    TraceResult Camera(Vec3 origin, Vec3 direction) {
        context.StartSample();
        return Trace({origin, Normalize(direction)}, context);
    }
};

TEST(Trace, AMissSeesTheEnvironment) {
    Probe probe(kOverheadLight, 51.0f);
    Tracer tracer(probe.probe);
    TraceResult result = tracer.Camera({0, 1, 0}, {0.3f, 0.2f, 1});
    EXPECT_TRUE(result.escaped);
    EXPECT_NEAR(result.radiance.x, 0.2f, 1e-5f);
}

TEST(Trace, DiffusePlaneUnderOneLightWithEscapingContinuation) {
    Probe probe(kOverheadLight);
    Tracer tracer(probe.probe);
    Material floor = MakeMaterial(MaterialKind::Diffuse, {0.5f, 0.25f, 1.0f});
    tracer.world.planes = {{0.0f, &floor}};
    for (int i = 0; i < 20; ++i) {
        TraceResult result = tracer.Camera({0, 1, 0}, {0.1f * i, -1, 0.3f});
        EXPECT_FALSE(result.escaped);
        // kd · C · w / π with w = 1 and the light straight overhead (c = 1).
        EXPECT_FLOAT_EQ(result.radiance.x, 0.5f * 1.0f * kInversePi);
        EXPECT_FLOAT_EQ(result.radiance.y, 0.25f * 2.0f * kInversePi);
        EXPECT_FLOAT_EQ(result.radiance.z, 1.0f * 3.0f * kInversePi);
    }
}

TEST(Trace, BlockedAndBackFacingLightsGiveNothing) {
    Probe probe(kOverheadLight);
    Tracer tracer(probe.probe);
    Material grey = MakeMaterial(MaterialKind::Diffuse, {1, 1, 1});
    Material black = MakeMaterial(MaterialKind::Diffuse, {0, 0, 0});
    // A far ceiling blocks the light however high it is; its own lit side
    // faces away from the floor's view, and it is black.
    tracer.world.planes = {{0.0f, &grey}, {1000.0f, &black}};
    EXPECT_EQ(tracer.Camera({0, 1, 0}, {0, -1, 0.2f}).radiance, Vec3{});
    // Seen from below, the floor's normal faces down, away from the light.
    tracer.world.planes = {{0.0f, &grey}};
    EXPECT_EQ(tracer.Camera({0, -1, 0}, {0, 1, 0.2f}).radiance, Vec3{});
}

TEST(Trace, DiffusePathsShadeAtMostFivePoints) {
    Probe probe("0 0");  // no lights: no shadow rays, one query per Trace
    Tracer tracer(probe.probe);
    Material grey = MakeMaterial(MaterialKind::Diffuse, {0.5f, 0.5f, 0.5f});
    tracer.world.planes = {{0.0f, &grey}, {1.0f, &grey}};
    tracer.Camera({0, 0.5f, 0}, {0, -1, 0.1f});
    EXPECT_EQ(tracer.world.nearestQueries, 5);
    EXPECT_EQ(tracer.context.pathDepth, 6);
}

TEST(Trace, EachRefractionRaisesTheDepthLimitByOne) {
    Probe probe("0 0");
    Tracer tracer(probe.probe);
    Material grey = MakeMaterial(MaterialKind::Diffuse, {0.5f, 0.5f, 0.5f});
    tracer.world.planes = {{0.0f, &grey}, {1.0f, &grey}};
    tracer.context.StartSample();
    tracer.context.refractionCount = 2;
    Trace({{0, 0.5f, 0}, Normalize(Vec3{0, -1, 0.1f})}, tracer.context);
    EXPECT_EQ(tracer.world.nearestQueries, 7);
}

TEST(Trace, AtMostEightRefractionsPerSample) {
    Probe probe("0 0", 255.0f);
    Tracer tracer(probe.probe);
    Material glass = MakeMaterial(MaterialKind::Glass, {0, 0, 0});
    for (int panes : {8, 9}) {
        tracer.world.planes.clear();
        for (int i = 1; i <= panes; ++i) {
            tracer.world.planes.push_back({float(i), &glass});
        }
        TraceResult result = tracer.Camera({0, 20, 0}, {0, -1, 0});
        EXPECT_EQ(tracer.context.refractionCount, panes);
        if (panes == 8) {
            EXPECT_NEAR(result.radiance.x, std::pow(0.96f, 8.0f), 1e-4f);
        } else {
            EXPECT_EQ(result.radiance, Vec3{});  // the ninth refracted ray is cut
        }
    }
}

TEST(Trace, GlassAndMirrorRaysThatLeaveSeeTheEnvironment) {
    Probe probe("0 0", 255.0f);
    Tracer tracer(probe.probe);
    Material glass = MakeMaterial(MaterialKind::Glass, {0, 0, 0});
    tracer.world.planes = {{0.0f, &glass}};
    TraceResult through = tracer.Camera({0, 1, 0}, {0, -1, 0});
    EXPECT_NEAR(through.radiance.x, SchlickTransmittance(1.5f, 1.0f), 1e-5f);

    // A pure coat (kd = 0) always mirrors: environment · Ks · F / (1 − 0).
    Material coat = MakeMaterial(MaterialKind::Coated, {0, 0, 0}, {0.5f, 1, 1});
    coat.refraction = 1.5f;
    tracer.world.planes = {{0.0f, &coat}};
    TraceResult mirrored = tracer.Camera({0, 1, 0}, {0, -1, 0});
    EXPECT_NEAR(mirrored.radiance.x, 0.5f * 0.04f, 1e-5f);
    EXPECT_NEAR(mirrored.radiance.y, 0.04f, 1e-5f);
}

TEST(Shade, EmissiveSurfacesAreBlack) {
    Probe probe(kOverheadLight, 255.0f);
    Tracer tracer(probe.probe);
    Material lamp = MakeMaterial(MaterialKind::Emissive, {1, 1, 1});
    lamp.ke = 10.0f;
    tracer.world.planes = {{0.0f, &lamp}};
    EXPECT_EQ(tracer.Camera({0, 1, 0}, {0, -1, 0}).radiance, Vec3{});
}

TEST(Shade, CoatedWithoutKsAlwaysTakesTheDiffuseBranch) {
    Probe probe(kOverheadLight);
    Tracer tracer(probe.probe);
    Material coated = MakeMaterial(MaterialKind::Coated, {0.5f, 0.5f, 0.5f});
    coated.refraction = 1.5f;
    tracer.world.planes = {{0.0f, &coated}};
    // A draw that rounds to 1.0f as a float must not reach the mirror branch
    // (Pd = 1 would divide 0 by 0).
    tracer.random.x = tracer.random.y = tracer.random.z = 0;
    tracer.random.w = 0xFFFFFFFFu ^ (0xFFFFFFFFu >> 19);
    for (int i = 0; i < 50; ++i) {
        Vec3 r = tracer.Camera({0, 1, 0}, {0, -1, 0}).radiance;
        EXPECT_FLOAT_EQ(r.x, 0.5f * 1.0f * kInversePi);
    }
}

TEST(Shade, CoatedBranchChoiceComparesTheDrawUnrounded) {
    Probe probe(kOverheadLight);
    Tracer tracer(probe.probe);
    // kd and Ks sum alike: Pd = 0.5. This state's first draw is
    // 0x7FFFFFF0 · 2^−32 = 0.4999999963, below Pd, though it rounds to 0.5f.
    Material coated = MakeMaterial(MaterialKind::Coated, {0.5f, 0.5f, 0.5f}, {0.5f, 0.5f, 0.5f});
    coated.refraction = 1.5f;
    tracer.world.planes = {{0.0f, &coated}};
    tracer.random.x = tracer.random.y = tracer.random.z = 0;
    // With x = y = z = 0 a step maps w to w ^ (w >> 19), its own inverse.
    tracer.random.w = 0x7FFFFFF0u ^ (0x7FFFFFF0u >> 19);
    Random first = tracer.random;
    double xi = first.RandomUniform();
    ASSERT_LT(xi, 0.5);
    ASSERT_EQ(static_cast<float>(xi), 0.5f);
    // The diffuse branch: the light's direct term, the continuation escapes.
    EXPECT_FLOAT_EQ(tracer.Camera({0, 1, 0}, {0, -1, 0}).radiance.x, 0.5f * kInversePi);
}

TEST(Shade, CoatedWithNothingToReflectIsBlack) {
    Probe probe(kOverheadLight, 255.0f);
    Tracer tracer(probe.probe);
    Material nothing = MakeMaterial(MaterialKind::Coated, {0, 0, 0});
    nothing.refraction = 1.5f;
    tracer.world.planes = {{0.0f, &nothing}};
    EXPECT_EQ(tracer.Camera({0, 1, 0}, {0, -1, 0}).radiance, Vec3{});
}

TEST(Shade, GlassTotalInternalReflectionCarriesKs) {
    Probe probe("0 0", 255.0f);
    Tracer tracer(probe.probe);
    Material glass = MakeMaterial(MaterialKind::Glass, {0, 0, 0});
    HitRecord hit;
    hit.point = {};
    hit.normal = {0, 1, 0};
    hit.side = -1.0f;  // leaving the glass
    hit.material = &glass;
    Vec3 d = Normalize(Vec3{1, -0.5f, 0});  // about 63° from the normal
    EXPECT_EQ(Shade(hit, d, tracer.context), Vec3{});
    glass.ks = {1, 0.5f, 0};
    Vec3 r = Shade(hit, d, tracer.context);
    EXPECT_NEAR(r.x, 1.0f, 1e-5f);
    EXPECT_NEAR(r.y, 0.5f, 1e-5f);
}

// One camera ray straight down onto a surface at normal incidence, through a
// scripted world, under one light straight overhead of colour C = (1, 2, 3)
// and an environment of radiance (0.2, 0.4, 0.6). The generator starts at its
// initial state, so the first draw is 3701687786 · 2^−32 ≈ 0.862.
//
// The wall is what a continuation meets: colour (0.2, 0.4, 0.6), its normal at
// cosine 0.6 to the light. With its shadow ray clear and its own continuation
// leaving the scene, it returns kd · C · 0.6 / π = (0.12, 0.48, 1.08) / π.
struct ScriptedShading {
    LightProbe probe = OneLightProbe({0, 1, 0}, {1, 2, 3}, {0.2f, 0.4f, 0.6f});
    ScriptedWorld world;
    Random random;
    PathContext context{world, probe, random, {}};
    Material wall = MakeMaterial(MaterialKind::Diffuse, {0.2f, 0.4f, 0.6f});

    void ScriptLitWall() {
        world.answers.insert(world.answers.end(), {HitOn(wall, {0, 0.6f, 0.8f}), kMiss, kMiss});
    }

    Vec3 Camera() {
        context.StartSample();
        Vec3 radiance = Trace({{0, 1, 0}, {0, -1, 0}}, context).radiance;
        EXPECT_TRUE(world.answers.empty()) << "the path asked fewer queries than scripted";
        return radiance;
    }
};

TEST(Shade, DiffuseContinuationThatHitsAveragesTheDirectTermWithTwiceTheIndirect) {
    ScriptedShading scene;
    Material floor = MakeMaterial(MaterialKind::Diffuse, {0.5f, 0.25f, 1.0f});
    scene.world.answers = {HitOn(floor, {0, 1, 0}), kMiss};  // camera hit, clear shadow ray
    scene.ScriptLitWall();
    // (kd · C / π + 2 · kd · I) / 2 with kd · C = (0.5, 0.5, 3) and
    // kd · I = (0.06, 0.12, 1.08) / π.
    ExpectNear(scene.Camera(), Vec3{0.31f, 0.37f, 2.58f} * kInversePi);
}

TEST(Shade, CoatedDiffuseBranchWeightsOnlyItsContinuation) {
    ScriptedShading scene;
    // Pd = 1.8 / (1.8 + 0.2) = 0.9 is above the draw 0.862: the diffuse branch.
    // Index 3 at normal incidence: F = ((1 − 3) / (1 + 3))² = 0.25.
    Material coated = MakeMaterial(MaterialKind::Coated, {0.8f, 0.6f, 0.4f}, {0.1f, 0.05f, 0.05f});
    coated.refraction = 3.0f;
    scene.world.answers = {HitOn(coated, {0, 1, 0}), kMiss};
    scene.ScriptLitWall();
    // Direct kd · C / π = (0.8, 1.2, 1.2) / π, unweighted; continuation
    // 2 · (1 − F) · kd · I / Pd = (5/3) · (0.096, 0.288, 0.432) / π
    // = (0.16, 0.48, 0.72) / π; the mean of the two.
    ExpectNear(scene.Camera(), Vec3{0.48f, 0.84f, 0.96f} * kInversePi);
}

TEST(Shade, CoatedMirrorBranchDividesByTheMirrorShare) {
    ScriptedShading scene;
    // Pd = 1 / (1 + 1) = 0.5 is below the draw 0.862: the mirror branch, whose
    // ray leaves the scene and brings back the environment I.
    Material coated = MakeMaterial(MaterialKind::Coated, {0.2f, 0.3f, 0.5f}, {0.5f, 0.25f, 0.25f});
    coated.refraction = 3.0f;
    scene.world.answers = {HitOn(coated, {0, 1, 0}), kMiss};  // camera hit, mirror ray leaves
    // I · Ks · F / (1 − Pd) = (0.2 · 0.5, 0.4 · 0.25, 0.6 · 0.25) · 0.25 / 0.5.
    ExpectNear(scene.Camera(), {0.05f, 0.05f, 0.075f});
}

TEST(Subsurface, FormulaValues) {
    EXPECT_NEAR(DiffuseFresnelReflectance(1.0f), 0.0017f, 1e-6f);
    EXPECT_GT(DiffuseFresnelReflectance(1.3f), DiffuseFresnelReflectance(1.0f));
    for (float c : {-1.0f, 0.0f, 0.4f, 1.0f}) {
        EXPECT_NEAR(HenyeyGreenstein(0.0f, c), 1.0f / 12.566371f, 1e-7f);
    }
    // Forward scattering dominates for g = 0.8.
    EXPECT_GT(HenyeyGreenstein(0.8f, 1.0f), HenyeyGreenstein(0.8f, -1.0f));
}

TEST(Subsurface, ProbePointLiesAtRadiusTimesQ) {
    Random random;
    double meanRadius = 0.0;
    const int count = 20000;
    for (int i = 0; i < count; ++i) {
        Vec3 point;
        float radius = 0.0f;
        ASSERT_TRUE(SampleDipoleOffset({0, 0, 0}, {1, 0, 0}, {0, 0, 1}, 2.0f, 0.04f, random, &point,
                                       &radius));
        EXPECT_NEAR(Length(point), radius * 0.04f, 1e-4f * (1.0f + radius));
        meanRadius += radius;
    }
    EXPECT_NEAR(meanRadius / count, 0.5, 0.02);  // exponential with rate 2
}

TEST(Subsurface, RefractionIntoTheMediumNeedsAnEnteringRay) {
    Random random;
    MediumPath path;
    EXPECT_FALSE(RefractIntoMedium({}, {0, 1, 0}, {0, 1, 0}, 1, 1, 5, random, &path));
    EXPECT_TRUE(RefractIntoMedium({}, {0, -1, 0}, {0, 1, 0}, 1, 1, 5, random, &path));
    EXPECT_NEAR(path.direction.y, -1.0f, 1e-6f);
    EXPECT_GT(path.distance, 0.0f);
}

TEST(Subsurface, TranslucentSlabGivesFiniteNonNegativeLight) {
    Probe probe(kOverheadLight);
    Tracer tracer(probe.probe);
    Material skin = MakeMaterial(MaterialKind::Subsurface, {1, 1, 1});
    skin.sigmaA = {0.03f, 0.05f, 0.0f};
    skin.sigmaS = {2.0f, 1.5f, 0.0f};  // blue scatters nothing at all
    skin.refraction = 1.3f;
    tracer.world.planes = {{0.0f, &skin}, {-1.0f, &skin}};
    Vec3 sum;
    const int count = 4000;
    for (int i = 0; i < count; ++i) {
        Vec3 r = tracer.Camera({0, 1, 0}, {0.2f, -1, 0.1f}).radiance;
        ASSERT_TRUE(IsFinite(r));
        ASSERT_GE(r.x, 0.0f);
        ASSERT_EQ(r.z, 0.0f);
        sum = sum + r;
    }
    EXPECT_GT(sum.x, 0.0f);
    EXPECT_GT(sum.y, 0.0f);
}

TEST(Subsurface, NoLightsGiveBlackAndNoShadowQueries) {
    Probe probe("0 0");
    Tracer tracer(probe.probe);
    Material skin = MakeMaterial(MaterialKind::Subsurface, {1, 1, 1});
    skin.sigmaA = {0.03f, 0.05f, 0.1f};
    skin.sigmaS = {2.0f, 1.5f, 1.0f};
    tracer.world.planes = {{0.0f, &skin}};
    EXPECT_EQ(tracer.Camera({0, 1, 0}, {0, -1, 0}).radiance, Vec3{});
    EXPECT_EQ(tracer.world.occlusionQueries, 0);
}

}  // namespace
}  // namespace lumeno
