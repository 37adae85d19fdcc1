// Rendering throughput: camera samples per second in the exact mode and in
// the parallel mode with 1 and 2 threads, on two scenes:
// - demo: the repository's default scene (demo/);
// - sphere: geometry-heavy, a diffuse sphere of about 20k smooth triangles
//   filling a 320 × 240 view under the demo's probe, written to a scratch
//   folder (about 3 ray queries per sample, most of them against the mesh).
// Besides samples per second of wall time, samples per second of the whole
// process's CPU time: on a machine shared with other work the wall-time rate
// moves with the load, the CPU-time rate much less.
// Run from anywhere; the scenes are found through the source folder.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "render/render_session.h"
#include "scene/working_scene.h"

namespace {

double ProcessCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

class NullDisplay : public lumeno::DisplaySink {
  public:
    void SetTitle(const std::string&) override {}
    void ShowImage(const lumeno::DibImage&) override {}
    bool Showing() const override { return false; }
};

enum class SceneKind { Demo, Sphere };

// A working folder holding a UV sphere of radius 1 (rings × 2·rings quads,
// about 4 · rings² triangles, with vertex normals) seen from 2.2 units away,
// lit by the demo's probe. Made once per run; empty on failure.
std::string SphereFolder() {
    static const std::string folder = [] {
        char pattern[] = "/tmp/lumeno-sphere-bench-XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            return std::string();
        }
        namespace fs = std::filesystem;
        const fs::path root = pattern;
        std::error_code error;
        fs::create_directories(root / "scene", error);
        fs::create_directories(root / "obj", error);
        fs::create_symlink(fs::path(LUMENO_SOURCE_DIR) / "demo" / "ibl", root / "ibl", error);
        if (error) {
            return std::string();
        }
        std::ofstream(root / "scene" / "scene.txt")
            << "camera_pos 0 0 -2.2\nlook_at 0 0 0\nsize 320 240\n"
               "obj obj/sphere.obj\nobj_end\n";
        std::ofstream(root / "obj" / "sphere.mtl") << "newmtl clay\nKd 0.7 0.6 0.5\n";
        std::ofstream obj(root / "obj" / "sphere.obj");
        const int rings = 70;
        const int segments = 2 * rings;
        obj << "mtllib sphere.mtl\nusemtl clay\n";
        for (int j = 0; j <= rings; ++j) {
            double theta = M_PI * j / rings;
            for (int i = 0; i < segments; ++i) {
                double phi = 2.0 * M_PI * i / segments;
                double x = std::sin(theta) * std::cos(phi);
                double y = std::cos(theta);
                double z = std::sin(theta) * std::sin(phi);
                obj << "v " << x << ' ' << y << ' ' << z << "\nvn " << x << ' ' << y << ' ' << z
                    << '\n';
            }
        }
        auto index = [&](int j, int i) { return j * segments + (i % segments) + 1; };
        for (int j = 0; j < rings; ++j) {
            for (int i = 0; i < segments; ++i) {
                int a = index(j, i);
                int b = index(j, i + 1);
                int c = index(j + 1, i + 1);
                int d = index(j + 1, i);
                obj << "f " << a << "//" << a << ' ' << b << "//" << b << ' ' << c << "//" << c
                    << ' ' << d << "//" << d << '\n';
            }
        }
        return root.string();
    }();
    return folder;
}

void RenderPasses(benchmark::State& state, SceneKind kind, lumeno::RenderMode mode, int threads) {
    std::string folder = kind == SceneKind::Demo ? LUMENO_SOURCE_DIR "/demo" : SphereFolder();
    if (folder.empty() || chdir(folder.c_str()) != 0) {
        state.SkipWithError("no scene folder");
        return;
    }
    lumeno::WorkingScene working;
    lumeno::Diagnostics diagnostics;
    working.Load(diagnostics);
    const lumeno::Scene& scene = working.scene;
    NullDisplay display;
    lumeno::RenderSession session(working.scene, display);
    session.SetMode(mode, threads);
    session.SetImageSize(scene.camera.width, scene.camera.height);
    session.Run(0);  // prepares the scene: spatial index and probe
    double cpuStart = ProcessCpuSeconds();
    for (auto _ : state) {
        // One pass per iteration (past 1600, each run adds exactly one).
        session.Run(session.Schedule().PassCounter());
    }
    double samples =
        static_cast<double>(state.iterations()) * scene.camera.width * scene.camera.height;
    state.counters["samples/s"] = benchmark::Counter(samples, benchmark::Counter::kIsRate);
    state.counters["samples/cpu-s"] = samples / (ProcessCpuSeconds() - cpuStart);
    state.counters["triangles"] = static_cast<double>(scene.objectTriangles.size());
}

void BM_Exact(benchmark::State& state, SceneKind kind) {
    RenderPasses(state, kind, lumeno::RenderMode::Exact, 1);
}
void BM_ParallelOneThread(benchmark::State& state, SceneKind kind) {
    RenderPasses(state, kind, lumeno::RenderMode::Parallel, 1);
}
void BM_ParallelTwoThreads(benchmark::State& state, SceneKind kind) {
    RenderPasses(state, kind, lumeno::RenderMode::Parallel, 2);
}

#define LUMENO_RENDER_BENCH(function, name, kind) \
    BENCHMARK_CAPTURE(function, name, kind)       \
        ->Unit(benchmark::kMillisecond)           \
        ->UseRealTime()                           \
        ->MinTime(3.0)

LUMENO_RENDER_BENCH(BM_Exact, demo, SceneKind::Demo);
LUMENO_RENDER_BENCH(BM_ParallelOneThread, demo, SceneKind::Demo);
LUMENO_RENDER_BENCH(BM_ParallelTwoThreads, demo, SceneKind::Demo);
LUMENO_RENDER_BENCH(BM_Exact, sphere, SceneKind::Sphere);
LUMENO_RENDER_BENCH(BM_ParallelOneThread, sphere, SceneKind::Sphere);
LUMENO_RENDER_BENCH(BM_ParallelTwoThreads, sphere, SceneKind::Sphere);

}  // namespace

BENCHMARK_MAIN();
