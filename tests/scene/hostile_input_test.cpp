// The readers must survive any byte sequence: no crash, no read outside a
// buffer, no unbounded allocation, no hang. The sanitizer build runs these.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "scene_test_support.h"

namespace lumeno {
namespace {

using testing::LoadedScene;
using testing::TempDir;

std::string RandomBytes(std::mt19937& engine, std::size_t size, std::string_view alphabet = {}) {
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        if (alphabet.empty()) {
            c = static_cast<char>(engine() & 0xFF);
        } else {
            c = alphabet[engine() % alphabet.size()];
        }
    }
    return bytes;
}

// Every triangle that a load produced has finite-or-not corners but a valid
// material and a usable frame flag; the lists refer into the scene's store.
void ExpectSane(const Scene& scene) {
    for (const Triangle* t : scene.objectTriangles) {
        ASSERT_NE(t, nullptr);
        EXPECT_NE(t->material, nullptr);
        if (t->hasBumpFrame) {
            EXPECT_TRUE(IsFinite(t->bumpU) && IsFinite(t->bumpV));
        }
    }
}

TEST(HostileInput, RandomBytesAndRandomObjLikeTextLoadWithoutHarm) {
    std::mt19937 engine(1234);
    const std::string objAlphabet = "vtnf/ -0123456789.e#\r\n\t\0x+";
    for (int round = 0; round < 40; ++round) {
        TempDir dir;
        std::string bytes =
            round % 2 == 0 ? RandomBytes(engine, 4096) : RandomBytes(engine, 20000, objAlphabet);
        dir.Write("m.obj", bytes);
        dir.Write("scene/scene.txt", "obj m.obj\nobj_end\n" + RandomBytes(engine, 2048));
        LoadedScene loaded;
        loaded.Load(dir);
        ExpectSane(loaded.scene);
    }
}

TEST(HostileInput, NulBytesAndMissingFinalNewline) {
    TempDir dir;
    std::string obj("v 0 0 0\nv 1\0 0 0\nv 0 1 0\nvn 0 0 1\nf 1//1 2//1 3//1", 51);
    dir.Write("m.obj", obj);
    dir.Write("scene/scene.txt", std::string("obj m.obj\0junk\nobj_end", 22));
    LoadedScene loaded;
    loaded.Load(dir);
    ASSERT_EQ(loaded.scene.objectTriangles.size(), 1u);
    // "1\0" reads as 1: the conversion stops at the NUL.
    EXPECT_EQ(loaded.scene.objectTriangles[0]->p1.x, 1.0f);
}

TEST(HostileInput, ExtremeNumbersNeverCrash) {
    TempDir dir;
    dir.Write("m.obj",
              "v 1e999 -1e999 nan\nv -0 0 0\nv 0 1 0\nv inf 0 0\nvn nan nan nan\nvn 0 0 0\n"
              "vt 1e999 nan\nvt 0 0\nvt 1 1\n"
              "f 1/1/1 2/2/2 3/3/2\nf 2/2/2 3/3/2 4/1/1\nf 2/2/2 3/3/2 1/1/1\n"
              "f 2147483648/1/1 2/2/2 3/3/3\nf -9223372036854775808/1/1 1 2\n"
              "f 1/1/1\nf 1/1/1 2/2/2\nf\n");
    dir.Write("scene/scene.txt",
              "obj m.obj\nscale 1e999\nobj_end\nobj m.obj\nrot_x nan\nobj_end\nfocus nan\n"
              "camera_pos 1e999 0 0\nsize 1e30 1e30\n");
    LoadedScene loaded;
    loaded.Load(dir);
    ExpectSane(loaded.scene);
    EXPECT_EQ(loaded.scene.camera.width, 320);
}

TEST(HostileInput, AMillionVertexFaceReadsOnlyItsFirstFour) {
    TempDir dir;
    std::string face = "f";
    for (int i = 0; i < 1000000; ++i) {
        face += " 1/1/1";
    }
    dir.Write("m.obj", "v 0 0 0\nvt 0 0\nvn 0 0 1\n" + face + "\n");
    dir.Write("scene/scene.txt", "obj m.obj\nobj_end\n");
    LoadedScene loaded;
    loaded.Load(dir);
    // Two degenerate fan triangles, kept as written.
    EXPECT_EQ(loaded.scene.objectTriangles.size(), 2u);
}

TEST(HostileInput, HugeTokensAndLinesAreBounded) {
    TempDir dir;
    dir.Write("m.obj", "v " + std::string(3 << 20, '1') + " 0 0\n# " + std::string(1 << 20, 'x') +
                           "\nv 0 0 0\nv 0 1 0\nvn 0 0 1\nf 1//1 2//1 3//1\n");
    dir.Write("scene/scene.txt", "obj m.obj\nobj_end\n");
    LoadedScene loaded;
    loaded.Load(dir);
    ASSERT_EQ(loaded.scene.objectTriangles.size(), 1u);
    EXPECT_TRUE(std::isinf(loaded.scene.objectTriangles[0]->p0.x));
    bool reported = false;
    for (const Diagnostic& d : loaded.diagnostics.Entries()) {
        reported = reported || d.message.find("cut short") != std::string::npos;
    }
    EXPECT_TRUE(reported);
}

TEST(HostileInput, ManyBadLinesKeepTheDiagnosticListBounded) {
    TempDir dir;
    std::string scene;
    for (std::size_t i = 0; i < Diagnostics::kMaxEntries + 50; ++i) {
        scene += "unknown_keyword\n";
    }
    dir.Write("scene/scene.txt", scene);
    LoadedScene loaded;
    loaded.Load(dir);
    EXPECT_EQ(loaded.diagnostics.Entries().size(), Diagnostics::kMaxEntries);
    EXPECT_EQ(loaded.diagnostics.Dropped(), 50u);
}

}  // namespace
}  // namespace lumeno
