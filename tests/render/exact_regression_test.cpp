// The exact mode is reproducible bit for bit: a small fixed scene rendered
// for 16 passes must give the same file today as when this guard was
// recorded, and two runs must agree with each other. A change of any
// operation order, constant or random draw on the way shows up here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>

#include "base/pfm_file.h"
#include "render/render_session.h"
#include "scene/obj_reader.h"
#include "scene/scene_file.h"
#include "test_support.h"

namespace lumeno {
namespace {

using testing::ReadFile;
using testing::ScopedWorkingDirectory;
using testing::TempDir;

class NullDisplay : public DisplaySink {
  public:
    void SetTitle(const std::string&) override {}
    void ShowImage(const DibImage&) override {}
};

std::uint64_t Fnv1a(const std::string& bytes) {
    std::uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : bytes) {
        hash = (hash ^ c) * 1099511628211ull;
    }
    return hash;
}

// A floor, a coated cube, a glass slab and a translucent block, lit by a
// graded environment and three lights; returns the PFM after 16 passes.
std::string RenderFixedScene() {
    TempDir dir;
    ScopedWorkingDirectory cwd(dir.Root());
    dir.Write("scene/scene.txt",
              "camera_pos 0 -1.5 -4\nlook_at 0 -0.5 1\nsize 16 12\n"
              "obj m/floor.obj\nobj_end\nobj m/things.obj\nrot_y 0.4\nobj_end\n");
    dir.Write("m/floor.obj",
              "mtllib look.mtl\nusemtl floor\nv -4 0 -4\nv 4 0 -4\nv 4 0 4\nv -4 0 4\n"
              "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nvn 0 1 0\nf 1/1/1 2/2/1 3/3/1 4/4/1\n");
    std::string things = "mtllib look.mtl\n";
    const char* materials[] = {"coat", "glass", "jade"};
    int base = 0;
    for (int k = 0; k < 3; ++k) {
        float x = -1.2f + 1.2f * k;
        things += std::string("usemtl ") + materials[k] + "\n";
        for (int corner = 0; corner < 8; ++corner) {
            things += "v " + std::to_string(x + ((corner & 1) ? 0.4f : -0.4f)) + " " +
                      std::to_string((corner & 2) ? 0.8f : 0.0f) + " " +
                      std::to_string((corner & 4) ? 0.4f : -0.4f) + "\n";
        }
        things += "vn 0 0 1\n";
        const int faces[6][4] = {{0, 1, 3, 2}, {4, 6, 7, 5}, {0, 4, 5, 1},
                                 {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 5, 7, 3}};
        for (const auto& face : faces) {
            things += "f";
            for (int i : face) {
                things += " " + std::to_string(base + i + 1) + "//" + std::to_string(k + 1);
            }
            things += "\n";
        }
        base += 8;
    }
    dir.Write("m/things.obj", things);
    dir.Write("m/look.mtl",
              "newmtl floor\nKd 0.7 0.6 0.5\nnewmtl coat\nKd 0.2 0.3 0.8\nKs 1 1 1\n"
              "refraction 1.5\nnewmtl glass\nKs 0.9 0.9 0.9\nrefraction -1\n"
              "newmtl jade\nsigma_a 0.1 0.05 0.2\nsigma_s 2 3 1.5\nrefraction 1.3\nsss\n");
    FloatPlane r, g, b;
    r.Create(16, 16);
    g.Create(16, 16);
    b.Create(16, 16);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            r.At(x, y) = 10.0f * x;
            g.At(x, y) = 8.0f * y;
            b.At(x, y) = 90.0f;
        }
    }
    std::filesystem::create_directories("ibl");
    EXPECT_TRUE(WritePfm("ibl/grace_probe.pfm", r, g, b, 1.0f));
    dir.Write("ibl/grace.txt",
              "3 0\n0 1 0 0 0 0 2 2 1.5\n0.5 0.7 -0.5 0 0 0 0.5 0.4 0.3\n"
              "-0.6 0.6 0.5 0 0 0 0.2 0.3 0.6\n");

    Scene scene;
    SceneFileReader sceneReader;
    ObjReader objReader;
    Diagnostics diagnostics;
    EXPECT_TRUE(sceneReader.LoadScene("./scene/scene.txt", scene, objReader, diagnostics));
    EXPECT_TRUE(diagnostics.Empty());
    EXPECT_EQ(scene.objectTriangles.size(), 2u + 3u * 12u);
    NullDisplay display;
    RenderSession session(scene, display);
    session.SetMode(RenderMode::Exact);
    EXPECT_TRUE(session.SetImageSize(scene.camera.width, scene.camera.height));
    EXPECT_EQ(session.Run(15), RunEnd::LastPassDone);
    return ReadFile("out/path_trace_16.pfm");
}

TEST(ExactMode, SixteenPassesOfAFixedSceneKeepTheirChecksum) {
    std::string first = RenderFixedScene();
    ASSERT_EQ(first.size(), std::string("PF\n16\n12\n-1.000000\n").size() + 16u * 12u * 12u);
    EXPECT_EQ(RenderFixedScene(), first);
    // The picture is not trivially empty: some pixels are lit, none is NaN.
    std::size_t header = first.size() - 16u * 12u * 12u;
    float maximum = 0.0f;
    for (std::size_t at = header; at < first.size(); at += 4) {
        float value = 0.0f;
        std::memcpy(&value, first.data() + at, 4);
        ASSERT_TRUE(std::isfinite(value));
        maximum = std::max(maximum, value);
    }
    EXPECT_GT(maximum, 0.01f);
    EXPECT_EQ(Fnv1a(first), 0xe8a13a6e7480d072ull) << std::hex << Fnv1a(first);
}

}  // namespace
}  // namespace lumeno
