// The environment lookup, which answers every ray that leaves the scene:
// lookups per second on the demo's probe image over random directions.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "light/light_probe.h"

namespace {

void BM_LookupEnvironment(benchmark::State& state) {
    lumeno::LightProbe probe;
    lumeno::Diagnostics diagnostics;
    if (!probe.LoadProbeImage(LUMENO_SOURCE_DIR "/demo/ibl/grace_probe.pfm", diagnostics)) {
        state.SkipWithError("no demo probe");
        return;
    }
    std::mt19937 rng(7);
    std::normal_distribution<float> g;
    std::vector<lumeno::Vec3> directions(4096);
    for (lumeno::Vec3& d : directions) {
        d = lumeno::Normalize(lumeno::Vec3{g(rng), g(rng), g(rng)});
    }
    std::size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(probe.LookupEnvironment(directions[next]));
        next = (next + 1) & (directions.size() - 1);
    }
    state.counters["lookups/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_LookupEnvironment);

}  // namespace

BENCHMARK_MAIN();
