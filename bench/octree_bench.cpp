// Octree build time and memory over generated meshes inside the root box (a
// finely tessellated sphere and a terrain of 10^4, 10^5 and 10^6 triangles,
// on one thread and on two), and ray-query throughput in both query modes
// for the rays a render issues, on a sphere floating over a terrain (half
// the triangles each): camera rays, incoherent rays (random origins in the
// box, random directions), bounce rays leaving the surfaces that camera rays
// hit, and shadow rays from those points towards a light above. The last
// group compares one 10^6-triangle sphere with ten separate copies of it
// (10^7 triangles), by the time each ray that hits costs.
#include <benchmark/benchmark.h>
#include <oneapi/tbb/task_arena.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

#include "incoherent_rays.h"
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

enum class Shape { Sphere, Terrain, SphereOverTerrain };
enum class RayKind { Camera, Incoherent, Bounce, Shadow };

struct Mesh {
    Mesh() {
        static int made = 0;
        id = ++made;
    }
    int id;  // tells a new mesh from a freed one at the same address
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
    void Index() {
        list.clear();
        for (Triangle& t : storage) {
            list.push_back(&t);
        }
    }
};

// About `triangles` triangles as a grid of side × side quads: a sphere of
// `radius` around `center`, or a rolling terrain spanning the box's floor.
void Tessellate(Mesh& mesh, Shape shape, int triangles, Vec3 center, float radius) {
    int side = static_cast<int>(std::sqrt(triangles / 2.0));
    auto point = [&](int i, int j) -> Vec3 {
        float s = static_cast<float>(i) / static_cast<float>(side);
        float t = static_cast<float>(j) / static_cast<float>(side);
        if (shape == Shape::Sphere) {
            float theta = 3.14159265f * t;
            float phi = 6.2831853f * s;
            return center + Vec3{radius * std::sin(theta) * std::cos(phi), radius * std::cos(theta),
                                 radius * std::sin(theta) * std::sin(phi)};
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
}

const Vec3 kBoxCenter{0.0f, 0.0f, 90.0f};
// World y points down: the sphere hangs 10 units above the terrain's mean.
const Vec3 kSphereOverTerrain{0.0f, -50.0f, 90.0f};

Mesh& MeshOf(Shape shape, int triangles) {
    static std::map<std::pair<Shape, int>, std::unique_ptr<Mesh>> cache;
    auto& slot = cache[{shape, triangles}];
    if (!slot) {
        slot = std::make_unique<Mesh>();
        slot->storage.reserve(static_cast<std::size_t>(triangles) + 4096);
        if (shape == Shape::SphereOverTerrain) {
            Tessellate(*slot, Shape::Terrain, triangles / 2, {}, 0.0f);
            Tessellate(*slot, Shape::Sphere, triangles / 2, kSphereOverTerrain, 40.0f);
        } else {
            Tessellate(*slot, shape, triangles, kBoxCenter, 80.0f);
        }
        slot->Index();
    }
    return *slot;
}

// The centres of ten spheres of radius 15 in two rows of five, 35 apart, so
// that no two copies touch.
Vec3 CopyCenter(int copy) {
    return {-70.0f + 35.0f * static_cast<float>(copy % 5), copy < 5 ? -40.0f : 40.0f, 90.0f};
}
constexpr float kCopyRadius = 15.0f;
constexpr int kCopyTriangles = 1000000;

Mesh& CopiesOf(int copies) {
    static std::map<int, std::unique_ptr<Mesh>> cache;
    auto& slot = cache[copies];
    if (!slot) {
        cache.clear();  // ten copies are 10^7 triangles: keep one scene at a time
        auto mesh = std::make_unique<Mesh>();
        mesh->storage.reserve(static_cast<std::size_t>(copies) * (kCopyTriangles + 4096));
        for (int k = 0; k < copies; ++k) {
            Tessellate(*mesh, Shape::Sphere, kCopyTriangles, CopyCenter(k), kCopyRadius);
        }
        mesh->Index();
        cache[copies] = std::move(mesh);
        return *cache[copies];
    }
    return *slot;
}

void BM_Build(benchmark::State& state, Shape shape) {
    Mesh& mesh = MeshOf(shape, static_cast<int>(state.range(0)));
    tbb::task_arena arena(static_cast<int>(state.range(1)));
    Octree tree;
    for (auto _ : state) {
        arena.execute([&] { tree.Build(mesh.list); });
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

// A query of the benchmark's stream: a nearest-hit ray, or a shadow ray
// towards target.
struct Query {
    Ray ray;
    Vec3 target;
    bool shadow = false;
};

std::vector<Ray> CameraRays(Vec3 position, Vec3 lookAt, float focus) {
    Camera camera;
    camera.position = position;
    camera.lookAt = lookAt;
    camera.focus = focus;
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

// Camera, bounce or shadow queries from the camera rays; bounce and shadow
// rays start where a camera ray hits (found with the parallel mode).
std::vector<Query> QueriesFrom(const Octree& tree, const std::vector<Ray>& cameraRays,
                               RayKind kind) {
    std::vector<Query> queries;
    std::mt19937 rng(7);
    std::normal_distribution<float> g;
    const Vec3 light{60.0f, -95.0f, 40.0f};
    for (const Ray& ray : cameraRays) {
        if (kind == RayKind::Camera) {
            queries.push_back({ray, {}, false});
            continue;
        }
        HitRecord hit;
        if (!tree.FindNearestHitParallel(ray, hit)) {
            continue;
        }
        Vec3 n = lumeno::Normalize(hit.normal);
        if (kind == RayKind::Bounce) {
            Vec3 d = lumeno::Normalize(Vec3{g(rng), g(rng), g(rng)});
            if (lumeno::Dot(d, n) < 0.0f) {
                d = -d;
            }
            queries.push_back({{hit.point + 0.0001f * d, d}, {}, false});
        } else {
            Vec3 start = hit.point + 0.001f * n;
            Vec3 target = light + Vec3{g(rng), g(rng), g(rng)};
            queries.push_back({{start, lumeno::Normalize(target - start)}, target, true});
        }
    }
    return queries;
}

std::vector<Query> IncoherentQueries() {
    std::vector<Query> queries;
    for (const Ray& ray : lumeno::bench::IncoherentRays()) {
        queries.push_back({ray, {}, false});
    }
    return queries;
}

// Runs the queries round and round; reports queries/s, the share that hit
// (blocked, for shadow rays) and the time per hit.
template <bool kExact>
void RunQueries(benchmark::State& state, Octree& tree, const std::vector<Query>& queries) {
    if (queries.empty()) {
        state.SkipWithError("no queries");
        return;
    }
    tree.queryCounter = 1;
    std::size_t next = 0;
    std::int64_t hits = 0;
    HitRecord hit;
    for (auto _ : state) {
        const Query& q = queries[next];
        next = next + 1 == queries.size() ? 0 : next + 1;
        bool found;
        if constexpr (kExact) {
            found =
                q.shadow ? tree.IsOccluded(q.target, q.ray, hit) : tree.FindNearestHit(q.ray, hit);
        } else {
            found = q.shadow ? tree.IsOccludedParallel(q.target, q.ray, hit)
                             : tree.FindNearestHitParallel(q.ray, hit);
        }
        hits += found ? 1 : 0;
        benchmark::DoNotOptimize(hit);
    }
    auto iterations = static_cast<double>(state.iterations());
    state.counters["queries/s"] = benchmark::Counter(iterations, benchmark::Counter::kIsRate);
    state.counters["hitRate"] = static_cast<double>(hits) / std::max(iterations, 1.0);
    state.counters["hits/s"] =
        benchmark::Counter(static_cast<double>(hits), benchmark::Counter::kIsRate);
}

// One tree at a time: the 10^6-triangle meshes and the copies are large.
Octree& TreeOver(const Mesh& mesh) {
    static Octree tree;
    static int built = 0;
    if (built != mesh.id) {
        tree.Build(mesh.list);
        built = mesh.id;
    }
    return tree;
}

template <bool kExact>
void BM_Query(benchmark::State& state, RayKind kind) {
    Mesh& mesh = MeshOf(Shape::SphereOverTerrain, static_cast<int>(state.range(0)));
    Octree& tree = TreeOver(mesh);
    std::vector<Query> queries =
        kind == RayKind::Incoherent
            ? IncoherentQueries()
            : QueriesFrom(tree, CameraRays({0.0f, -60.0f, -35.0f}, {0.0f, -10.0f, 90.0f}, 1.0f),
                          kind);
    RunQueries<kExact>(state, tree, queries);
}

// Camera rays at each copy in turn, from the same place relative to it, so
// that one copy and ten copies see the same geometry per ray.
template <bool kExact>
void BM_Copies(benchmark::State& state) {
    int copies = static_cast<int>(state.range(0));
    Mesh& mesh = CopiesOf(copies);
    Octree& tree = TreeOver(mesh);
    std::vector<Query> queries;
    for (int k = 0; k < copies; ++k) {
        Vec3 c = CopyCenter(k);
        std::vector<Ray> rays = CameraRays(c + Vec3{0.0f, -12.0f, -30.0f}, c, 1.2f);
        for (const Query& q : QueriesFrom(tree, rays, RayKind::Camera)) {
            queries.push_back(q);
        }
    }
    // In random order, so that even a short run samples every copy and the
    // whole image.
    std::shuffle(queries.begin(), queries.end(), std::mt19937(3));
    RunQueries<kExact>(state, tree, queries);
    state.counters["triangles"] = static_cast<double>(mesh.list.size());
    state.counters["cutShort"] = static_cast<double>(tree.Stats().leavesCutShort);
    state.counters["nodes"] = static_cast<double>(tree.Stats().nodes);
    state.counters["refs"] = static_cast<double>(tree.Stats().references);
}

void BM_Exact(benchmark::State& state, RayKind kind) {
    BM_Query<true>(state, kind);
}
void BM_Parallel(benchmark::State& state, RayKind kind) {
    BM_Query<false>(state, kind);
}
void BM_CopiesExact(benchmark::State& state) {
    BM_Copies<true>(state);
}
void BM_CopiesParallel(benchmark::State& state) {
    BM_Copies<false>(state);
}

void Sizes(benchmark::internal::Benchmark* b) {
    b->Arg(10000)->Arg(100000)->Arg(1000000);
}

BENCHMARK_CAPTURE(BM_Build, sphere, Shape::Sphere)
    ->ArgNames({"triangles", "threads"})
    ->Args({10000, 2})
    ->Args({100000, 2})
    ->Args({1000000, 1})
    ->Args({1000000, 2})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Build, terrain, Shape::Terrain)
    ->ArgNames({"triangles", "threads"})
    ->Args({1000000, 1})
    ->Args({1000000, 2})
    ->Unit(benchmark::kMillisecond);

BENCHMARK_CAPTURE(BM_Exact, camera, RayKind::Camera)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_Parallel, camera, RayKind::Camera)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_Exact, incoherent, RayKind::Incoherent)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_Parallel, incoherent, RayKind::Incoherent)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_Exact, bounce, RayKind::Bounce)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_Parallel, bounce, RayKind::Bounce)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_Exact, shadow, RayKind::Shadow)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_Parallel, shadow, RayKind::Shadow)->Apply(Sizes);

// Per hit, ten copies should cost at most twice what one copy costs.
BENCHMARK(BM_CopiesExact)->ArgName("copies")->Arg(1)->Arg(10)->MinTime(2.0);
BENCHMARK(BM_CopiesParallel)->ArgName("copies")->Arg(1)->Arg(10)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
