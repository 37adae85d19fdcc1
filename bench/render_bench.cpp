// Rendering throughput: camera samples per second in the exact mode and in
// the parallel mode with 1 and 2 threads, on three scenes:
// - demo: the repository's default scene (demo/);
// - sky: the demo turned to look up, so that nearly every sample meets only
//   the sky (cheap samples: what a pass costs besides them shows);
// - sphere: geometry-heavy, a diffuse sphere of about 20k smooth triangles
//   filling a 320 × 240 view under the demo's probe, written to a scratch
//   folder (about 3 ray queries per sample, most of them against the mesh).
// Besides samples per second of wall time, samples per second of the whole
// process's CPU time: on a machine shared with other work the wall-time rate
// moves with the load, the CPU-time rate much less.
// Run from anywhere; the scenes are found through the source folder.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <ctime>
#include <string>

#include "render/render_session.h"
#include "scene/camera.h"
#include "scene/working_scene.h"
#include "sphere_scene.h"  // the geometry-heavy scene

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

enum class SceneKind { Demo, Sky, Sphere };

void RenderPasses(benchmark::State& state, SceneKind kind, lumeno::RenderMode mode, int threads) {
    std::string folder =
        kind == SceneKind::Sphere ? lumeno::bench::SphereSceneFolder() : LUMENO_SOURCE_DIR "/demo";
    if (folder.empty() || chdir(folder.c_str()) != 0) {
        state.SkipWithError("no scene folder");
        return;
    }
    lumeno::WorkingScene working;
    lumeno::Diagnostics diagnostics;
    working.Load(diagnostics);
    if (kind == SceneKind::Sky) {
        working.scene.camera.lookAt = {0.0f, -20.0f, 4.0f};
        lumeno::DeriveCameraBasis(working.scene.camera);
    }
    const lumeno::Scene& scene = working.scene;
    NullDisplay display;
    lumeno::RenderSession session(working.scene, display);
    session.SetMode(mode, threads);
    session.SetImageSize(scene.camera.width, scene.camera.height);
    session.Run(0);  // prepares the scene: spatial index and probe
    double cpuStart = ProcessCpuSeconds();
    // Sixteen passes per iteration, as a render runs them: one periodic save
    // of the mean and of the checkpoint, and the checkpoint at the run's end.
    // Past pass 1600 each run adds exactly one pass, so the session never
    // gets there.
    constexpr int kPassesPerRun = 16;
    for (auto _ : state) {
        if (session.Schedule().PassCounter() + kPassesPerRun > lumeno::kTotalPasses) {
            state.PauseTiming();
            session.DrawPreview();  // a fresh image from pass 1
            session.Run(0);
            state.ResumeTiming();
        }
        session.Run(session.Schedule().PassCounter() + kPassesPerRun - 1);
    }
    double samples = static_cast<double>(state.iterations()) * kPassesPerRun * scene.camera.width *
                     scene.camera.height;
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
LUMENO_RENDER_BENCH(BM_ParallelOneThread, sky, SceneKind::Sky);
LUMENO_RENDER_BENCH(BM_ParallelTwoThreads, sky, SceneKind::Sky);
LUMENO_RENDER_BENCH(BM_Exact, sphere, SceneKind::Sphere);
LUMENO_RENDER_BENCH(BM_ParallelOneThread, sphere, SceneKind::Sphere);
LUMENO_RENDER_BENCH(BM_ParallelTwoThreads, sphere, SceneKind::Sphere);

}  // namespace

BENCHMARK_MAIN();
