// The benchmarks' geometry-heavy scene: a diffuse UV sphere of radius 1
// (70 rings of 140 quads, about 20k triangles, with vertex normals) seen
// from 2.2 units away so that it fills a 320 × 240 view, lit by the demo's
// probe. Written once per run to a fixed folder under the temporary
// directory (rewritten, not accumulated, run after run).
#pragma once

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

namespace lumeno::bench {

// The working folder of the sphere scene; empty when it cannot be written.
inline std::string SphereSceneFolder() {
    static const std::string folder = [] {
        namespace fs = std::filesystem;
        std::error_code error;
        const fs::path root = fs::temp_directory_path(error) / "lumeno-bench-sphere";
        fs::create_directories(root / "scene", error);
        fs::create_directories(root / "obj", error);
        fs::remove(root / "ibl", error);
        fs::create_directory_symlink(fs::path(LUMENO_SOURCE_DIR) / "demo" / "ibl", root / "ibl",
                                     error);
        if (error) {
            return std::string();
        }
        std::ofstream(root / "scene" / "scene.txt")
            << "camera_pos 0 0 -2.2\nlook_at 0 0 0\nsize 320 240\nobj obj/sphere.obj\nobj_end\n";
        std::ofstream(root / "obj" / "sphere.mtl") << "newmtl clay\nKd 0.7 0.6 0.5\n";
        std::ofstream obj(root / "obj" / "sphere.obj");
        const int rings = 70;
        const int segments = 2 * rings;
        obj << "mtllib sphere.mtl\nusemtl clay\n";
        for (int j = 0; j <= rings; ++j) {
            for (int i = 0; i < segments; ++i) {
                double theta = M_PI * j / rings;
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
        return obj ? root.string() : std::string();
    }();
    return folder;
}

}  // namespace lumeno::bench
