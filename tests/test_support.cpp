#include "test_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "base/pfm_file.h"
#include "bmp_bytes.h"

namespace lumeno::testing {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lumeno-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary directory");
    }
    root_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

std::string TempDir::Path(std::string_view relative) const {
    return root_ + "/" + std::string(relative);
}

std::string TempDir::Write(std::string_view relative, std::string_view bytes) const {
    std::string path = Path(relative);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

ScopedWorkingDirectory::ScopedWorkingDirectory(const std::string& directory)
    : previous_(std::filesystem::current_path().string()) {
    std::filesystem::current_path(directory);
}

ScopedWorkingDirectory::~ScopedWorkingDirectory() {
    std::filesystem::current_path(previous_);
}

void WriteEveryMaterialScene(const TempDir& dir, int width, int height) {
    dir.Write("scene/scene.txt", "camera_pos 0 -1 -4\nlook_at 0 -0.4 0\nsize " +
                                     std::to_string(width) + " " + std::to_string(height) +
                                     "\nobj obj/things.obj\nobj_end\n");
    // Five upright unit quads in a row (each two triangles with texture
    // coordinates and normals along their counter-clockwise winding, towards
    // the camera), one per material, standing on a floor. The OBJ's y and z
    // are negated in the scene, whose y therefore runs down the picture.
    std::string obj = "mtllib things.mtl\n";
    const char* materials[] = {"paint", "lacquer", "glass", "jade", "lamp"};
    int v = 0;
    for (int i = 0; i < 5; ++i) {
        float x0 = -2.6f + 1.05f * static_cast<float>(i);
        float x1 = x0 + 1.0f;
        char quad[512];
        std::snprintf(quad, sizeof quad, "v %g 0 -%g\nv %g 0 -%g\nv %g 1 -%g\nv %g 1 -%g\n", x0,
                      0.1 * i, x1, 0.1 * i, x1, 0.1 * i, x0, 0.1 * i);
        obj += quad;
        obj += "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nvn 0 0 1\nvn 0.2 0 1\nvn 0 0.2 1\nvn 0 0 1\n";
        obj += std::string("usemtl ") + materials[i] + "\n";
        std::snprintf(quad, sizeof quad, "f %d/%d/%d %d/%d/%d %d/%d/%d %d/%d/%d\n", v + 1, v + 1,
                      v + 1, v + 2, v + 2, v + 2, v + 3, v + 3, v + 3, v + 4, v + 4, v + 4);
        obj += quad;
        v += 4;
    }
    obj += "v -6 -0.02 -6\nv 6 -0.02 -6\nv 6 -0.02 6\nv -6 -0.02 6\nvn 0 1 0\n";
    obj += "usemtl floor\n";
    char floor[256];
    std::snprintf(floor, sizeof floor, "f %d//21 %d//21 %d//21 %d//21\n", v + 4, v + 3, v + 2,
                  v + 1);
    obj += floor;
    dir.Write("scene/obj/things.obj", obj);
    dir.Write("scene/obj/things.mtl",
              "newmtl paint\nKd 0.8 0.8 0.8\nmap_Kd wood.bmp\nmap_Bump bumps.bmp\n"
              "newmtl lacquer\nKd 0.6 0.1 0.1\nKs 0.5 0.5 0.5\nrefraction 1.5\n"
              "newmtl glass\nKd 0.9 0.9 0.9\nKs 1 1 1\nrefraction -1\n"
              "newmtl jade\nKd 0.3 0.7 0.4\nsigma_a 0.03 0.01 0.04\nsigma_s 0.8 1.1 0.9\n"
              "refraction 1.3\nmap_Kd wood.bmp\nsss\n"
              "newmtl lamp\nKd 1 1 1\nKe 5\n"
              "newmtl floor\nKd 0.5 0.5 0.45\n");
    std::vector<std::vector<Bgr>> wood(4, std::vector<Bgr>(4));
    std::vector<std::vector<Bgr>> bumps(4, std::vector<Bgr>(4));
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            auto c = static_cast<std::uint8_t>(40 + 50 * x + 10 * y);
            wood[y][x] = {static_cast<std::uint8_t>(c / 2), c,
                          static_cast<std::uint8_t>(200 - c / 3)};
            bumps[y][x] = {static_cast<std::uint8_t>((x * 97 + y * 61) % 256), 0, 0};
        }
    }
    dir.Write("scene/obj/wood.bmp", Bmp24(wood));
    dir.Write("scene/obj/bumps.bmp", Bmp24(bumps));
    // The scene file names "obj/things.obj" relative to the working folder.
    std::filesystem::rename(dir.Path("scene/obj"), dir.Path("obj"));

    FloatPlane r, g, b;
    r.Create(16, 16);
    g.Create(16, 16);
    b.Create(16, 16);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            r.At(x, y) = 0.2f * static_cast<float>(x) + 0.5f;
            g.At(x, y) = 0.15f * static_cast<float>(y) + 0.6f;
            b.At(x, y) = 2.5f;
        }
    }
    std::filesystem::create_directories(dir.Path("ibl"));
    if (!WritePfm(dir.Path("ibl/grace_probe.pfm"), r, g, b, 1.0f)) {
        throw std::runtime_error("cannot write the probe image");
    }
    dir.Write("ibl/grace.txt",
              "3 0\n0 1 0 0 0 0 0.3 0.3 0.25\n0.5 0.7 -0.5 0 0 0 0.1 0.08 0.06\n"
              "-0.6 0.6 0.5 0 0 0 0.04 0.06 0.12\n");
}

}  // namespace lumeno::testing
