// OBJ loading throughput: a generated grid mesh of about one million
// triangles with texture coordinates and normals, written to a temporary
// directory at start-up, read the way a scene load reads it.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "scene/obj_reader.h"

namespace {

struct GeneratedMesh {
    std::string directory;
    std::string path;
    std::size_t bytes = 0;

    explicit GeneratedMesh(int side) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "lumeno-bench-XXXXXX").string();
        directory = mkdtemp(pattern.data());
        path = directory + "/grid.obj";
        std::FILE* file = std::fopen(path.c_str(), "wb");
        // A gently curved terrain inside the octree's root box.
        for (int j = 0; j <= side; ++j) {
            for (int i = 0; i <= side; ++i) {
                float x = -50.0f + 100.0f * i / side;
                float z = 20.0f + 100.0f * j / side;
                std::fprintf(file, "v %.6f %.6f %.6f\n", x, 0.01f * (i % 17) - 0.02f * (j % 13), z);
                std::fprintf(file, "vt %.6f %.6f\n", static_cast<float>(i) / side,
                             static_cast<float>(j) / side);
            }
        }
        std::fprintf(file, "vn 0 1 0\n");
        for (int j = 0; j < side; ++j) {
            for (int i = 0; i < side; ++i) {
                int a = j * (side + 1) + i + 1;
                int b = a + 1;
                int c = a + side + 1;
                int d = c + 1;
                std::fprintf(file, "f %d/%d/1 %d/%d/1 %d/%d/1 %d/%d/1\n", a, a, b, b, d, d, c, c);
            }
        }
        std::fclose(file);
        bytes = std::filesystem::file_size(path);
    }
    ~GeneratedMesh() { std::filesystem::remove_all(directory); }
};

void BM_ReadObjMillionTriangles(benchmark::State& state) {
    static GeneratedMesh mesh(708);  // 708² quads ≈ 1.0 million triangles
    lumeno::ObjReader reader;
    std::size_t triangles = 0;
    for (auto _ : state) {
        lumeno::Scene scene;
        lumeno::Diagnostics diagnostics;
        reader.ReadObj(mesh.path, {}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, scene,
                       lumeno::TriangleList::Object, diagnostics);
        triangles = scene.objectTriangles.size();
        benchmark::DoNotOptimize(scene.objectTriangles.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * mesh.bytes));
    state.counters["triangles"] = static_cast<double>(triangles);
    state.counters["triangles/s"] =
        benchmark::Counter(static_cast<double>(triangles) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadObjMillionTriangles)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
