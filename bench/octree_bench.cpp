// Octree build time and memory over generated meshes inside the root box (a
// finely tessellated sphere and a terrain of 10^4, 10^5 and 10^6 triangles),
// and single-threaded nearest-hit throughput for coherent camera rays and
// for incoherent rays (random origins in the box, random directions), in
// both query modes.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "render/pass_schedule.h"
#include "scene/camera.h"
#include "spatial/octree.h"

namespace {

using lumeno::Camera;
using lumeno::HitRecord;
using lumeno::Octree;
using lumeno::Ray;
using lumeno::Triangle;
using lumeno::Vec3;

enum class Shape { Sphere, Terrain };

struct Mesh {
    std::vector<Triangle> storage;
    std::vector<Triangle*> list;

    void Add(Vec3 a, Vec3 b, Vec3 c) {
        Triangle t;
        t.p0 = a;
        t.p1 = b;
        t.p2 = c;
        t.normal0.x = lumeno::kNoVertexNormals;
        lumeno::ComputeFaceFrame(t);
        storage.push_back(t);
    }
};

// About `triangles` triangles: a sphere of radius 80 around the root box's
// centre, or a rolling terrain spanning the box's floor.
Mesh& MeshOf(Shape shape, int triangles) {
    static std::map<std::pair<Shape, int>, std::unique_ptr<Mesh>> cache;
    auto& slot = cache[{shape, triangles}];
    if (slot) {
        return *slot;
    }
    slot = std::make_unique<Mesh>();
    Mesh& mesh = *slot;
    int side = static_cast<int>(std::sqrt(triangles / 2.0));
    mesh.storage.reserve(static_cast<std::size_t>(2 * side * side));
    auto point = [&](int i, int j) -> Vec3 {
        float s = static_cast<float>(i) / static_cast<float>(side);
        float t = static_cast<float>(j) / static_cast<float>(side);
        if (shape == Shape::Sphere) {
            float theta = 3.14159265f * t;
            float phi = 6.2831853f * s;
            return {80.0f * std::sin(theta) * std::cos(phi), 80.0f * std::cos(theta),
                    90.0f + 80.0f * std::sin(theta) * std::sin(phi)};
        }
        float x = -95.0f + 190.0f * s;
        float z = -35.0f + 250.0f * t;
        return {x, 10.0f * std::sin(0.1f * x) * std::cos(0.07f * z) + 2.0f * std::sin(x * z), z};
    };
    for (int j = 0; j < side; ++j) {
        for (int i = 0; i < side; ++i) {
            Vec3 a = point(i, j);
            Vec3 b = point(i + 1, j);
            Vec3 c = point(i, j + 1);
            Vec3 d = point(i + 1, j + 1);
            mesh.Add(a, b, c);
            mesh.Add(b, d, c);
        }
    }
    for (Triangle& t : mesh.storage) {
        mesh.list.push_back(&t);
    }
    return mesh;
}

void BM_Build(benchmark::State& state, Shape shape) {
    Mesh& mesh = MeshOf(shape, static_cast<int>(state.range(0)));
    Octree tree;
    for (auto _ : state) {
        tree.Build(mesh.list);
        benchmark::ClobberMemory();
    }
    const Octree::BuildStats& stats = tree.Stats();
    state.counters["triangles"] = static_cast<double>(mesh.list.size());
    state.counters["nodes"] = static_cast<double>(stats.nodes);
    state.counters["refs"] = static_cast<double>(stats.references);
    state.counters["depth"] = stats.maxDepth;
    state.counters["MiB"] = static_cast<double>(tree.MemoryBytes()) / (1 << 20);
    state.counters["cutShort"] = static_cast<double>(stats.leavesCutShort);
}

std::vector<Ray> CameraRays() {
    Camera camera;
    camera.position = {0.0f, 30.0f, -30.0f};
    camera.lookAt = {0.0f, 0.0f, 90.0f};
    lumeno::DeriveCameraBasis(camera);
    std::vector<Ray> rays;
    const int size = 256;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            float u = (static_cast<float>(x) + 0.5f - size * 0.5f) / size;
            float v = (static_cast<float>(y) + 0.5f - size * 0.5f) / size;
            rays.push_back(lumeno::PrimaryRay(camera, u, v));
        }
    }
    return rays;
}

std::vector<Ray> RandomRays() {
    std::mt19937 rng(12345);
    std::uniform_real_distribution<float> x(-100.0f, 100.0f);
    std::uniform_real_distribution<float> z(-40.0f, 220.0f);
    std::normal_distribution<float> g;
    std::vector<Ray> rays;
    for (int i = 0; i < 65536; ++i) {
        Vec3 o{x(rng), x(rng), z(rng)};
        Vec3 d = lumeno::Normalize(Vec3{g(rng), g(rng), g(rng)});
        rays.push_back({o, d});
    }
    return rays;
}

template <bool kExact>
void BM_NearestHit(benchmark::State& state, Shape shape, bool coherent) {
    Mesh& mesh = MeshOf(shape, static_cast<int>(state.range(0)));
    static Octree tree;
    static const Mesh* built = nullptr;
    if (built != &mesh) {
        tree.Build(mesh.list);
        built = &mesh;
    }
    const std::vector<Ray> rays = coherent ? CameraRays() : RandomRays();
    tree.queryCounter = 1;
    std::size_t next = 0;
    std::int64_t hits = 0;
    HitRecord hit;
    for (auto _ : state) {
        const Ray& ray = rays[next];
        next = next + 1 == rays.size() ? 0 : next + 1;
        bool found;
        if constexpr (kExact) {
            found = tree.FindNearestHit(ray, hit);
        } else {
            found = tree.FindNearestHitParallel(ray, hit);
        }
        hits += found ? 1 : 0;
        benchmark::DoNotOptimize(hit);
    }
    state.counters["queries/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["hitRate"] = static_cast<double>(hits) /
                                static_cast<double>(std::max<std::int64_t>(state.iterations(), 1));
}

void BM_Parallel(benchmark::State& state, Shape shape, bool coherent) {
    BM_NearestHit<false>(state, shape, coherent);
}
void BM_Exact(benchmark::State& state, Shape shape, bool coherent) {
    BM_NearestHit<true>(state, shape, coherent);
}

BENCHMARK_CAPTURE(BM_Build, sphere, Shape::Sphere)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Build, terrain, Shape::Terrain)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Parallel, coherent_sphere, Shape::Sphere, true)->Arg(10000)->Arg(1000000);
BENCHMARK_CAPTURE(BM_Parallel, incoherent_sphere, Shape::Sphere, false)->Arg(10000)->Arg(1000000);
BENCHMARK_CAPTURE(BM_Parallel, coherent_terrain, Shape::Terrain, true)->Arg(1000000);
BENCHMARK_CAPTURE(BM_Parallel, incoherent_terrain, Shape::Terrain, false)->Arg(1000000);
BENCHMARK_CAPTURE(BM_Exact, coherent_sphere, Shape::Sphere, true)->Arg(1000000);
BENCHMARK_CAPTURE(BM_Exact, incoherent_sphere, Shape::Sphere, false)->Arg(1000000);

}  // namespace

BENCHMARK_MAIN();
