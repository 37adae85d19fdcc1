// The tool's files as the renderer reads them: the light probe loads them,
// looks a direction up where the tool put it, finds each light inside the
// region it stands for, and a white plane under a uniform environment renders
// at the environment's radiance through the real path tracer.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "light/integrator.h"
#include "light/light_probe.h"
#include "probe/environment.h"
#include "probe/median_cut.h"
#include "probe/probe_files.h"
#include "probe/probe_tool.h"
#include "probe_test_support.h"
#include "scene/material.h"
#include "scene/triangle.h"
#include "spatial/octree.h"
#include "test_support.h"

namespace lumeno::probe {
namespace {

using lumeno::testing::EquirectOf;
using lumeno::testing::PfmBytes;
using lumeno::testing::TempDir;

struct LoadedProbe {
    LightProbe probe;
    Diagnostics diagnostics;
};

void Load(const std::string& directory, LoadedProbe& loaded) {
    ASSERT_TRUE(loaded.probe.LoadProbeImage(directory + "/" + kProbeImageName, loaded.diagnostics));
    ASSERT_TRUE(
        loaded.probe.LoadProbeLights(directory + "/" + kProbeLightsName, loaded.diagnostics));
    ASSERT_TRUE(loaded.diagnostics.Empty());
}

TEST(RendererAgreement, TheRendererLooksUpWhatTheToolPutInEachDirection) {
    TempDir dir;
    EquirectEnvironment env(EquirectOf(512, [](Direction d, float* out) {
        out[0] = static_cast<float>(100.0 * (d.x + 2.0));
        out[1] = static_cast<float>(100.0 * (d.y + 2.0));
        out[2] = static_cast<float>(100.0 * (d.z + 2.0));
    }));
    HdrImage map;
    ASSERT_TRUE(RenderAngularMap(env, 256, map));
    std::string error;
    ASSERT_TRUE(WriteProbeFiles(dir.Root(), map, MedianCutLights(map, 16), error)) << error;
    LoadedProbe loaded;
    Load(dir.Root(), loaded);
    for (int i = 0; i < 500; ++i) {
        double z = 1.0 - (2.0 * i + 1.0) / 500.0;
        if (z < -0.8) {
            continue;  // near −z a bicubic sample straddles far-apart directions
        }
        double r = std::sqrt(1.0 - z * z);
        double phi = i * 2.399963229728653;
        Vec3 d{static_cast<float>(r * std::cos(phi)), static_cast<float>(r * std::sin(phi)),
               static_cast<float>(z)};
        Vec3 seen = loaded.probe.LookupEnvironment(d) * (255.0f / 100.0f);
        Vec3 decoded{seen.x - 2.0f, seen.y - 2.0f, seen.z - 2.0f};
        EXPECT_GT(Dot(Normalize(decoded), d), 0.995f) << d.x << " " << d.y << " " << d.z;
    }
}

TEST(RendererAgreement, EachLightsStoredDirectionLandsInsideItsRegion) {
    TempDir dir;
    SkyEnvironment sky(SkyParameters{});
    HdrImage map;
    ASSERT_TRUE(RenderAngularMap(sky, 128, map));
    std::vector<ProbeLightRecord> lights = MedianCutLights(map, 64);
    std::string error;
    ASSERT_TRUE(WriteProbeFiles(dir.Root(), map, lights, error)) << error;
    LoadedProbe loaded;
    Load(dir.Root(), loaded);
    ASSERT_EQ(loaded.probe.LightCount(), static_cast<int>(lights.size()));

    // Replace the image by ramps, red = column and green = row (times 255, so
    // the lookup returns positions), to read where the lookup samples.
    LightProbe& probe = loaded.probe;
    for (int y = 0; y < probe.height; ++y) {
        for (int x = 0; x < probe.width; ++x) {
            probe.red.At(x, y) = 255.0f * static_cast<float>(x);
            probe.green.At(x, y) = 255.0f * static_cast<float>(y);
        }
    }
    for (std::size_t k = 0; k < lights.size(); ++k) {
        const ProbeLight& light = probe.lights[k];
        EXPECT_NEAR(light.colour.x, lights[k].colour[0], 1e-6 * lights[k].colour[0]);
        Vec3 position = probe.LookupEnvironment(light.direction);
        // Cubic convolution with a = −1 reproduces a ramp to within 0.094 of
        // the sampled position (exactly at whole and half pixels).
        const MapRegion& r = lights[k].region;
        EXPECT_TRUE(position.x >= r.x0 - 0.6f && position.x <= r.x1 - 0.4f &&
                    position.y >= r.y0 - 0.6f && position.y <= r.y1 - 0.4f)
            << "light " << k << " sampled at " << position.x << ", " << position.y << ", region ["
            << r.x0 << ", " << r.x1 << ") × [" << r.y0 << ", " << r.y1 << ")";
    }
}

// A white diffuse floor at y = 0 (up is −y) under the probe, traced with the
// renderer's path tracer through the octree.
class FloorScene : public RayQueries {
  public:
    FloorScene() {
        floor_.kind = MaterialKind::Diffuse;
        floor_.diffuse = std::make_unique<DiffuseLayer>();
        floor_.diffuse->kd = {1.0f, 1.0f, 1.0f};
        Vec3 a{-90.0f, 0.0f, -30.0f};
        Vec3 b{90.0f, 0.0f, -30.0f};
        Vec3 c{90.0f, 0.0f, 210.0f};
        Vec3 d{-90.0f, 0.0f, 210.0f};
        MakeTriangle(triangles_[0], a, b, c);
        MakeTriangle(triangles_[1], a, c, d);
        pointers_ = {&triangles_[0], &triangles_[1]};
        built_ = tree_.Build(pointers_);
    }

    bool Built() const { return built_; }
    bool FindNearestHit(const Ray& ray, HitRecord& hit) override {
        return tree_.FindNearestHit(ray, hit);
    }
    bool IsOccluded(Vec3 target, const Ray& ray, HitRecord& hit) override {
        return tree_.IsOccluded(target, ray, hit);
    }

  private:
    void MakeTriangle(Triangle& t, Vec3 p0, Vec3 p1, Vec3 p2) {
        t.p0 = p0;
        t.p1 = p1;
        t.p2 = p2;
        t.normal0.x = kNoVertexNormals;
        ComputeFaceFrame(t);
        t.material = &floor_;
    }

    Material floor_;
    Triangle triangles_[2];
    std::vector<Triangle*> pointers_;
    Octree tree_;
    bool built_ = false;
};

// Mean radiance of camera rays straight down onto the floor.
Vec3 RenderFloor(const LightProbe& probe, int samples) {
    FloorScene scene;
    EXPECT_TRUE(scene.Built());
    Random random = Random::FromSeed(7);
    PathContext context{scene, probe, random, {}};
    double sum[3] = {0.0, 0.0, 0.0};
    for (int i = 0; i < samples; ++i) {
        context.StartSample();
        TraceResult result = Trace({{0.0f, -1.0f, 50.0f}, {0.0f, 1.0f, 0.0f}}, context);
        EXPECT_FALSE(result.escaped);
        sum[0] += result.radiance.x;
        sum[1] += result.radiance.y;
        sum[2] += result.radiance.z;
    }
    return {static_cast<float>(sum[0] / samples), static_cast<float>(sum[1] / samples),
            static_cast<float>(sum[2] / samples)};
}

TEST(RendererAgreement, AWhitePlaneUnderAUniformEnvironmentRendersAtItsRadiance) {
    // A uniform equirectangular source of radiance 1, exposed by 255 and by
    // 40: file values 255 and 40 everywhere.
    TempDir dir;
    HdrImage source = EquirectOf(256, [](Direction, float* out) { out[0] = out[1] = out[2] = 1; });
    std::string input = dir.Write("uniform.pfm", PfmBytes(source));
    // The floor is the brightest orientation under a uniform environment: its
    // horizon follows the median cuts, so it sees every region whole and gets
    // each at its mean cosine too much; 2.5 % for the default 64 lights,
    // 1.2 % for 128.
    struct Case {
        double exposure;
        int lights;
        double tolerance;
    };
    for (Case c : {Case{255.0, 64, 0.03}, Case{40.0, 128, 0.02}}) {
        double exposure = c.exposure;
        ProbeOptions options;
        options.input = input;
        options.outputDirectory = dir.Path("probe");
        options.exposure = exposure;
        options.lightCount = c.lights;
        std::ostringstream report;
        std::ostringstream diagnostics;
        std::string error;
        ASSERT_TRUE(RunProbeTool(options, report, diagnostics, error)) << error;
        LoadedProbe loaded;
        Load(options.outputDirectory, loaded);
        EXPECT_NEAR(loaded.probe.LookupEnvironment({0.0f, -1.0f, 0.0f}).y, exposure / 255.0, 1e-4);
        Vec3 radiance = RenderFloor(loaded.probe, 200000);
        double expected = exposure / 255.0;
        std::printf("floor under uniform %g with %d lights: %.5f (expected %.5f, ratio %.4f)\n",
                    exposure, c.lights, radiance.y, expected, radiance.y / expected);
        EXPECT_NEAR(radiance.x / expected, 1.0, c.tolerance);
        EXPECT_NEAR(radiance.y / expected, 1.0, c.tolerance);
        EXPECT_NEAR(radiance.z / expected, 1.0, c.tolerance);
    }
}

}  // namespace
}  // namespace lumeno::probe
