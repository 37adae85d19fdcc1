// Rendering throughput on the default scene: camera samples per second in
// the exact mode and in the parallel mode with 1 and with all threads.
// Run from anywhere; it works in the repository's demo/ folder.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <thread>

#include "render/render_session.h"
#include "scene/working_scene.h"

namespace {

class NullDisplay : public lumeno::DisplaySink {
  public:
    void SetTitle(const std::string&) override {}
    void ShowImage(const lumeno::DibImage&) override {}
    bool Showing() const override { return false; }
};

void RenderPasses(benchmark::State& state, lumeno::RenderMode mode, int threads) {
    if (chdir(LUMENO_SOURCE_DIR "/demo") != 0) {
        state.SkipWithError("no demo folder");
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
    session.Run(0);  // prepares the scene: octree and probe
    for (auto _ : state) {
        // One pass per iteration (past 1600, each run adds exactly one).
        session.Run(session.Schedule().PassCounter());
    }
    double samples =
        static_cast<double>(state.iterations()) * scene.camera.width * scene.camera.height;
    state.counters["samples/s"] = benchmark::Counter(samples, benchmark::Counter::kIsRate);
}

void BM_Exact(benchmark::State& state) {
    RenderPasses(state, lumeno::RenderMode::Exact, 1);
}
void BM_ParallelOneThread(benchmark::State& state) {
    RenderPasses(state, lumeno::RenderMode::Parallel, 1);
}
void BM_ParallelAllThreads(benchmark::State& state) {
    RenderPasses(state, lumeno::RenderMode::Parallel, 0);
}

BENCHMARK(BM_Exact)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
BENCHMARK(BM_ParallelOneThread)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
BENCHMARK(BM_ParallelAllThreads)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

}  // namespace

BENCHMARK_MAIN();
