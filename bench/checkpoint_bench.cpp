// Checkpoints: how long writing "./out/render.checkpoint" takes and how large
// it is, after one pass, in both modes, on the default scene and on a scene of
// about 10^6 triangles (whose exact-mode checkpoint carries a ray stamp per
// triangle). Each scene is copied to a scratch folder first.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/working_folder.h"
#include "render/render_session.h"
#include "scene/working_scene.h"

namespace {

namespace fs = std::filesystem;

class NullDisplay : public lumeno::DisplaySink {
  public:
    void SetTitle(const std::string&) override {}
    void ShowImage(const lumeno::DibImage&) override {}
    bool Showing() const override { return false; }
};

// A scratch copy of the demo, or the demo's probe under a sphere of
// rings × 2·rings quads (4·rings² triangles).
std::string ScratchScene(const std::string& name, int rings) {
    const fs::path root = fs::temp_directory_path() / ("lumeno-bench-checkpoint-" + name);
    fs::remove_all(root);
    fs::create_directories(root);
    fs::copy(fs::path(LUMENO_SOURCE_DIR) / "demo" / "ibl", root / "ibl");
    if (rings == 0) {
        fs::copy(fs::path(LUMENO_SOURCE_DIR) / "demo" / "scene", root / "scene");
        fs::copy(fs::path(LUMENO_SOURCE_DIR) / "demo" / "obj", root / "obj");
        return root.string();
    }
    fs::create_directories(root / "scene");
    fs::create_directories(root / "obj");
    std::ofstream(root / "scene" / "scene.txt")
        << "camera_pos 0 0 -2.2\nlook_at 0 0 0\nsize 480 270\nobj obj/sphere.obj\nobj_end\n";
    std::ofstream obj(root / "obj" / "sphere.obj");
    const int segments = 2 * rings;
    for (int j = 0; j <= rings; ++j) {
        for (int i = 0; i < segments; ++i) {
            double theta = M_PI * j / rings;
            double phi = 2.0 * M_PI * i / segments;
            obj << "v " << std::sin(theta) * std::cos(phi) << ' ' << std::cos(theta) << ' '
                << std::sin(theta) * std::sin(phi) << "\nvn 0 0 1\n";
        }
    }
    for (int j = 0; j < rings; ++j) {
        for (int i = 0; i < segments; ++i) {
            int a = j * segments + i + 1;
            int b = j * segments + (i + 1) % segments + 1;
            int c = b + segments;
            int d = a + segments;
            obj << "f " << a << "//1 " << b << "//1 " << c << "//1 " << d << "//1\n";
        }
    }
    return root.string();
}

void WriteCheckpoints(benchmark::State& state, const std::string& name, int rings,
                      lumeno::RenderMode mode) {
    std::string folder = ScratchScene(name, rings);
    if (chdir(folder.c_str()) != 0) {
        state.SkipWithError("no scratch folder");
        return;
    }
    lumeno::WorkingScene working;
    lumeno::Diagnostics diagnostics;
    working.Load(diagnostics);
    NullDisplay display;
    lumeno::RenderSession session(working.scene, display);
    session.SetMode(mode, 0);
    session.SetImageSize(working.scene.camera.width, working.scene.camera.height);
    session.Run(1);
    for (auto _ : state) {
        if (!session.WriteCheckpoint()) {
            state.SkipWithError("the checkpoint was not written");
            break;
        }
    }
    state.counters["bytes"] = static_cast<double>(fs::file_size(lumeno::kCheckpointPath));
    state.counters["triangles"] = static_cast<double>(working.scene.objectTriangles.size());
}

void BM_DemoParallel(benchmark::State& state) {
    WriteCheckpoints(state, "demo", 0, lumeno::RenderMode::Parallel);
}
void BM_DemoExact(benchmark::State& state) {
    WriteCheckpoints(state, "demo", 0, lumeno::RenderMode::Exact);
}
void BM_MillionTrianglesExact(benchmark::State& state) {
    WriteCheckpoints(state, "million", 500, lumeno::RenderMode::Exact);
}

BENCHMARK(BM_DemoParallel)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DemoExact)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MillionTrianglesExact)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
