// Ray queries, one thread: the octree's parallel queries, the Embree scene
// that answers the parallel mode (the adapter: clipping, the project's own
// triangle test in a filter, the filled hit record) and bare Embree
// (rtcIntersect1 / rtcOccluded1 on the same triangles, built with the same
// flags, no filter), on the same rays.
//
// Scenes: a sphere of radius 80 about the root box's centre at 10^4, 10^5
// and 10^6 triangles, and the demo scene. Rays: camera (coherent primary
// rays), incoherent (random origins in the box, random directions), bounce
// (cosine-distributed from the camera rays' hits) and shadow (occlusion from
// those hits towards four directions); and the rays a render of the demo and
// of a geometry-heavy sphere scene actually asks, recorded through the
// query seam.
//
// Each iteration runs every engine over the whole ray set, timed with the
// thread's CPU clock, so that the ratios printed compare the engines under
// the same load: octreeVsEmbree, the octree's rate over bare Embree's;
// adapterVsEmbree, the adapter's over bare Embree's; adapterVsEmbreeFill, the
// adapter's over bare Embree followed by the hit record made from Embree's
// own distance and barycentrics (what the adapter's exactness costs beyond
// the shading data any renderer must make).
#include <benchmark/benchmark.h>
#include <embree3/rtcore.h>
#include <unistd.h>

#include <cmath>
#include <ctime>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "incoherent_rays.h"
#include "light/integrator.h"
#include "light/light_probe.h"
#include "light/scattering.h"
#include "render/pass_schedule.h"
#include "scene/working_scene.h"
#include "spatial/embree_scene.h"
#include "spatial/octree.h"
#include "spatial/ray_queries.h"
#include "sphere_scene.h"

namespace {

using lumeno::HitRecord;
using lumeno::Ray;
using lumeno::Triangle;
using lumeno::Vec3;

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// One query: nearest hit along ray, or (occlusion) whether the segment to
// target is blocked.
struct Query {
    Ray ray;
    bool occlusion = false;
    Vec3 target;
};

// Bare Embree over the same triangles, built as the adapter builds its
// scene (robust, high quality) but without the filter.
class BareEmbree {
  public:
    explicit BareEmbree(const std::vector<Triangle*>& triangles) : triangles_(triangles) {
        device_ = rtcNewDevice("verbose=0");
        scene_ = rtcNewScene(device_);
        rtcSetSceneFlags(scene_, RTC_SCENE_FLAG_ROBUST);
        rtcSetSceneBuildQuality(scene_, RTC_BUILD_QUALITY_HIGH);
        RTCGeometry geometry = rtcNewGeometry(device_, RTC_GEOMETRY_TYPE_TRIANGLE);
        rtcSetGeometryBuildQuality(geometry, RTC_BUILD_QUALITY_HIGH);
        auto* v = static_cast<float*>(rtcSetNewGeometryBuffer(
            geometry, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3, 12, 3 * triangles.size()));
        auto* index = static_cast<unsigned*>(rtcSetNewGeometryBuffer(
            geometry, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3, 12, triangles.size()));
        for (std::size_t i = 0; i < triangles.size(); ++i) {
            for (const Vec3& p : {triangles[i]->p0, triangles[i]->p1, triangles[i]->p2}) {
                *v++ = p.x;
                *v++ = p.y;
                *v++ = p.z;
            }
            for (unsigned k = 0; k < 3; ++k) {
                index[3 * i + k] = static_cast<unsigned>(3 * i + k);
            }
        }
        rtcCommitGeometry(geometry);
        rtcAttachGeometry(scene_, geometry);
        rtcReleaseGeometry(geometry);
        rtcCommitScene(scene_);
    }
    ~BareEmbree() {
        rtcReleaseScene(scene_);
        rtcReleaseDevice(device_);
    }
    BareEmbree(const BareEmbree&) = delete;
    BareEmbree& operator=(const BareEmbree&) = delete;

    // With fill, a nearest hit also fills hit from Embree's own distance and
    // barycentrics: the least an Embree renderer must add for shading.
    bool Answer(const Query& q, bool fill, HitRecord& hit) const {
        RTCIntersectContext context;
        rtcInitIntersectContext(&context);
        RTCRayHit r;
        r.ray.org_x = q.ray.origin.x;
        r.ray.org_y = q.ray.origin.y;
        r.ray.org_z = q.ray.origin.z;
        r.ray.dir_x = q.ray.direction.x;
        r.ray.dir_y = q.ray.direction.y;
        r.ray.dir_z = q.ray.direction.z;
        r.ray.tnear = 0.0f;
        r.ray.time = 0.0f;
        r.ray.mask = ~0u;
        r.ray.id = 0;
        r.ray.flags = 0;
        if (q.occlusion) {
            r.ray.tfar = lumeno::Length(q.target - q.ray.origin) - 0.001f;
            rtcOccluded1(scene_, &context, &r.ray);
            return r.ray.tfar < 0.0f;
        }
        r.ray.tfar = std::numeric_limits<float>::infinity();
        r.hit.geomID = RTC_INVALID_GEOMETRY_ID;
        rtcIntersect1(scene_, &context, &r);
        if (r.hit.geomID == RTC_INVALID_GEOMETRY_ID) {
            return false;
        }
        if (fill) {
            const Triangle& t = *triangles_[r.hit.primID];
            lumeno::EdgeHit g;
            g.t = r.ray.tfar;
            g.u = r.hit.u;
            g.v = r.hit.v;
            g.side = lumeno::Dot(q.ray.direction, t.faceNormal) > 0.0f ? -1.0f : 1.0f;
            lumeno::FillHitRecord(t, q.ray, g, q.ray.origin + g.t * q.ray.direction, hit);
        }
        return true;
    }

  private:
    std::vector<Triangle*> triangles_;
    RTCDevice device_ = nullptr;
    RTCScene scene_ = nullptr;
};

// Triangles kept at stable addresses, either generated or loaded.
struct Geometry {
    std::vector<Triangle> storage;
    std::vector<Triangle*> list;
    lumeno::Camera camera;
    std::unique_ptr<lumeno::WorkingScene> working;  // the loaded scene, if any
};

void Add(Geometry& g, Vec3 a, Vec3 b, Vec3 c) {
    Triangle t;
    t.p0 = a;
    t.p1 = b;
    t.p2 = c;
    t.normal0.x = lumeno::kNoVertexNormals;
    lumeno::ComputeFaceFrame(t);
    g.storage.push_back(t);
}

// About `triangles` triangles on a sphere of radius 80 about (0, 0, 90),
// seen from outside the sphere.
void MakeSphere(Geometry& g, int triangles) {
    int side = static_cast<int>(std::sqrt(triangles / 2.0));
    g.storage.reserve(static_cast<std::size_t>(2 * side * side));
    auto point = [&](int i, int j) -> Vec3 {
        float theta = 3.14159265f * static_cast<float>(j) / static_cast<float>(side);
        float phi = 6.2831853f * static_cast<float>(i) / static_cast<float>(side);
        return {80.0f * std::sin(theta) * std::cos(phi), 80.0f * std::cos(theta),
                90.0f + 80.0f * std::sin(theta) * std::sin(phi)};
    };
    for (int j = 0; j < side; ++j) {
        for (int i = 0; i < side; ++i) {
            Add(g, point(i, j), point(i + 1, j), point(i, j + 1));
            Add(g, point(i + 1, j), point(i + 1, j + 1), point(i, j + 1));
        }
    }
    for (Triangle& t : g.storage) {
        g.list.push_back(&t);
    }
    g.camera.position = {0.0f, 30.0f, -30.0f};
    g.camera.lookAt = {0.0f, 0.0f, 90.0f};
    lumeno::DeriveCameraBasis(g.camera);
}

bool LoadFolder(Geometry& g, const std::string& folder) {
    if (chdir(folder.c_str()) != 0) {
        return false;
    }
    g.working = std::make_unique<lumeno::WorkingScene>();
    lumeno::Diagnostics diagnostics;
    if (!g.working->Load(diagnostics)) {
        return false;
    }
    g.list = g.working->scene.objectTriangles;
    g.camera = g.working->scene.camera;
    return true;
}

// Forwards to another adapter and keeps every query it is asked.
class RecordingQueries final : public lumeno::RayQueries {
  public:
    RecordingQueries(lumeno::RayQueries& inner, std::vector<Query>& log)
        : inner_(inner), log_(log) {}
    bool FindNearestHit(const Ray& ray, HitRecord& hit) override {
        log_.push_back({ray, false, {}});
        return inner_.FindNearestHit(ray, hit);
    }
    bool IsOccluded(Vec3 target, const Ray& ray, HitRecord& hit) override {
        log_.push_back({ray, true, target});
        return inner_.IsOccluded(target, ray, hit);
    }

  private:
    lumeno::RayQueries& inner_;
    std::vector<Query>& log_;
};

enum class Rays { Camera, Incoherent, Bounce, Shadow, Render };

struct Bench {
    Geometry geometry;
    lumeno::Octree octree;
    lumeno::EmbreeScene embree;
    std::unique_ptr<BareEmbree> bare;
    std::map<Rays, std::vector<Query>> rays;
};

std::vector<Query> CameraRays(const lumeno::Camera& camera) {
    std::vector<Query> rays;
    const int size = 256;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            float u = (static_cast<float>(x) + 0.5f - size * 0.5f) / size;
            float v = (static_cast<float>(y) + 0.5f - size * 0.5f) / size;
            rays.push_back({lumeno::PrimaryRay(camera, u, v), false, {}});
        }
    }
    return rays;
}

std::vector<Query> IncoherentRays() {
    std::vector<Query> rays;
    for (const Ray& ray : lumeno::bench::IncoherentRays()) {
        rays.push_back({ray, false, {}});
    }
    return rays;
}

// From every camera ray's hit: a cosine-distributed continuation, and
// occlusion towards four fixed directions (500 units away).
void HitRays(const Bench& b, std::vector<Query>& bounce, std::vector<Query>& shadow) {
    lumeno::Random random = lumeno::Random::FromSeed(99);
    const Vec3 lights[] = {lumeno::Normalize({0.3f, -1.0f, 0.2f}),
                           lumeno::Normalize({-0.6f, -0.5f, -0.4f}),
                           lumeno::Normalize({0.8f, -0.2f, 0.5f}), lumeno::Normalize({0, -1, 0})};
    int k = 0;
    for (const Query& q : b.rays.at(Rays::Camera)) {
        HitRecord hit;
        if (!b.embree.FindNearestHit(q.ray, hit)) {
            continue;
        }
        Vec3 n = lumeno::Normalize(hit.normal);
        bounce.push_back(
            {lumeno::SampleCosineDirection(hit.point, n, hit.tangent, hit.bitangent, random),
             false,
             {}});
        bounce.back().ray.origin = hit.point + 0.001f * bounce.back().ray.direction;
        Vec3 l = lights[k++ % 4];
        if (lumeno::Dot(l, n) < 0.0f) {
            l = -l;
        }
        Vec3 origin = hit.point + 0.001f * l;
        shadow.push_back({{origin, l}, true, origin + 500.0f * l});
    }
}

// The queries one pass of a render asks (through the Embree adapter), at the
// scene's own camera and image size.
std::vector<Query> RenderRays(Bench& b) {
    std::vector<Query> log;
    lumeno::LightProbe probe;
    lumeno::Diagnostics diagnostics;
    probe.LoadProbeImage("ibl/grace_probe.pfm", diagnostics);
    probe.LoadProbeLights("ibl/grace.txt", diagnostics);
    lumeno::EmbreeQueries embree(b.embree);
    RecordingQueries recording(embree, log);
    lumeno::PassSchedule schedule;
    const lumeno::Camera& camera = b.geometry.camera;
    lumeno::PassSetup setup = schedule.Setup(camera, camera.width, camera.height);
    lumeno::IntegratorSettings settings;
    for (int y = 0; y < camera.height; ++y) {
        for (int x = 0; x < camera.width; ++x) {
            lumeno::Random random =
                lumeno::Random::FromSeed(static_cast<std::uint64_t>(y * camera.width + x));
            float u1 = random.RandomUniformFloat();
            float u2 = random.RandomUniformFloat();
            lumeno::PathContext context{recording, probe, random, settings};
            context.StartSample();
            lumeno::Trace(lumeno::CameraSampleRay(setup, x, y, u1, u2), context);
        }
    }
    return log;
}

enum class Kind { Sphere, Demo, RenderSphere };

Bench& BenchOf(Kind kind, int triangles) {
    static std::map<std::pair<Kind, int>, std::unique_ptr<Bench>> cache;
    auto& slot = cache[{kind, triangles}];
    if (slot) {
        return *slot;
    }
    slot = std::make_unique<Bench>();
    Bench& b = *slot;
    bool loaded = true;
    if (kind == Kind::Sphere) {
        MakeSphere(b.geometry, triangles);
    } else {
        loaded = LoadFolder(b.geometry, kind == Kind::Demo ? LUMENO_SOURCE_DIR "/demo"
                                                           : lumeno::bench::SphereSceneFolder());
    }
    if (!loaded) {
        return b;
    }
    b.octree.Build(b.geometry.list);
    b.embree.Build(b.geometry.list);
    b.bare = std::make_unique<BareEmbree>(b.geometry.list);
    b.rays[Rays::Camera] = CameraRays(b.geometry.camera);
    b.rays[Rays::Incoherent] = IncoherentRays();
    HitRays(b, b.rays[Rays::Bounce], b.rays[Rays::Shadow]);
    if (kind != Kind::Sphere) {
        b.rays[Rays::Render] = RenderRays(b);  // in the scene's folder (probe files)
    }
    return b;
}

void BM_Queries(benchmark::State& state, Kind kind, Rays which) {
    Bench& b = BenchOf(kind, static_cast<int>(state.range(0)));
    if (!b.bare || b.rays[which].empty()) {
        state.SkipWithError("scene not available");
        return;
    }
    const std::vector<Query>& rays = b.rays[which];
    double seconds[4] = {};
    std::int64_t answers[4] = {};
    HitRecord hit;
    for (auto _ : state) {
        double t0 = ThreadCpuSeconds();
        for (const Query& q : rays) {
            answers[0] += q.occlusion ? b.octree.IsOccludedParallel(q.target, q.ray, hit)
                                      : b.octree.FindNearestHitParallel(q.ray, hit);
        }
        double t1 = ThreadCpuSeconds();
        for (const Query& q : rays) {
            answers[1] += q.occlusion ? b.embree.IsOccluded(q.target, q.ray, hit)
                                      : b.embree.FindNearestHit(q.ray, hit);
        }
        double t2 = ThreadCpuSeconds();
        for (const Query& q : rays) {
            answers[2] += b.bare->Answer(q, false, hit);
        }
        double t3 = ThreadCpuSeconds();
        for (const Query& q : rays) {
            answers[3] += b.bare->Answer(q, true, hit);
        }
        double t4 = ThreadCpuSeconds();
        seconds[0] += t1 - t0;
        seconds[1] += t2 - t1;
        seconds[2] += t3 - t2;
        seconds[3] += t4 - t3;
        state.SetIterationTime(t4 - t0);
    }
    const double count = static_cast<double>(rays.size()) * static_cast<double>(state.iterations());
    state.counters["rays"] = static_cast<double>(rays.size());
    state.counters["octree/s"] = count / seconds[0];
    state.counters["adapter/s"] = count / seconds[1];
    state.counters["embree/s"] = count / seconds[2];
    state.counters["octreeVsEmbree"] = seconds[2] / seconds[0];
    state.counters["adapterVsEmbree"] = seconds[2] / seconds[1];
    state.counters["adapterVsEmbreeFill"] = seconds[3] / seconds[1];
    state.counters["hitShare"] = static_cast<double>(answers[1]) / count;
}

double ProcessCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// Building the adapter's scene (Embree's build on all cores, the records and
// the rings of coincident triangles); cpu-s counts every thread's CPU time.
void BM_EmbreeBuild(benchmark::State& state) {
    Bench& b = BenchOf(Kind::Sphere, static_cast<int>(state.range(0)));
    lumeno::EmbreeScene scene;
    double cpu = 0.0;
    for (auto _ : state) {
        double start = ProcessCpuSeconds();
        scene.Build(b.geometry.list);
        cpu += ProcessCpuSeconds() - start;
    }
    state.counters["triangles"] = static_cast<double>(b.geometry.list.size());
    state.counters["cpu-s"] = cpu / static_cast<double>(state.iterations());
}

void ApplyArgs(benchmark::internal::Benchmark* bench) {
    bench->Arg(10000)->Arg(100000)->Arg(1000000)->UseManualTime()->Unit(benchmark::kMillisecond);
}

BENCHMARK_CAPTURE(BM_Queries, camera, Kind::Sphere, Rays::Camera)->Apply(ApplyArgs);
BENCHMARK_CAPTURE(BM_Queries, incoherent, Kind::Sphere, Rays::Incoherent)->Apply(ApplyArgs);
BENCHMARK_CAPTURE(BM_Queries, bounce, Kind::Sphere, Rays::Bounce)->Apply(ApplyArgs);
BENCHMARK_CAPTURE(BM_Queries, shadow, Kind::Sphere, Rays::Shadow)->Apply(ApplyArgs);
BENCHMARK_CAPTURE(BM_Queries, demo_camera, Kind::Demo, Rays::Camera)
    ->Arg(0)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Queries, demo_incoherent, Kind::Demo, Rays::Incoherent)
    ->Arg(0)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Queries, demo_bounce, Kind::Demo, Rays::Bounce)
    ->Arg(0)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Queries, demo_shadow, Kind::Demo, Rays::Shadow)
    ->Arg(0)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Queries, demo_render, Kind::Demo, Rays::Render)
    ->Arg(0)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Queries, sphere_render, Kind::RenderSphere, Rays::Render)
    ->Arg(0)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EmbreeBuild)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
