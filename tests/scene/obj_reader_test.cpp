#include "scene/obj_reader.h"

#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>

#include "test_support.h"

namespace lumeno {
namespace {

using testing::TempDir;

// Reads one OBJ file with the identity placement into the object list.
struct ObjFixture {
    TempDir dir;
    Scene scene;
    ObjReader reader;
    Diagnostics diagnostics;

    const std::vector<Triangle*>& Read(const std::string& content) {
        scene.ClearTriangles();
        std::string path = dir.Write("mesh.obj", content);
        EXPECT_TRUE(reader.ReadObj(path, {}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, scene,
                                   TriangleList::Object, diagnostics));
        return scene.objectTriangles;
    }
};

const char* kFourVertices =
    "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0 0 1\n"
    "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nvt 0.5 0.5\n"
    "vn 0 0 1\nvn 0 0 1\nvn 0 0 1\nvn 0 0 1\nvn 0 0 1\n";

TEST(ObjReader, DegenerateTrianglesAreKeptAndCountedOncePerFile) {
    ObjFixture f;
    // Corners that coincide and corners on one line; then a proper triangle.
    const auto& triangles = f.Read(
        "v 0 0 0\nv 1 0 0\nv 2 0 0\nv 0 1 0\nvn 0 0 1\n"
        "f 1//1 1//1 1//1\nf 1//1 2//1 3//1\nf 3//1 2//1 1//1 4//1\n");
    EXPECT_EQ(triangles.size(), 4u);
    const auto& entries = f.diagnostics.Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].line, 6);
    EXPECT_EQ(entries[0].message.rfind("3 × degenerate triangle kept: it has zero area", 0), 0u)
        << entries[0].message;
}

TEST(ObjReader, PositionsNegateYAndZ) {
    ObjFixture f;
    auto& tris = f.Read("v 1 2 3\nv 1 0 0\nv 0 1 0\nvn 0 0 1\nf 1//1 2//1 3//1\n");
    ASSERT_EQ(tris.size(), 1u);
    EXPECT_EQ(tris[0]->p0, (Vec3{1, -2, -3}));
    EXPECT_EQ(tris[0]->normal0, (Vec3{0, 0, -1}));
}

TEST(ObjReader, FacesWithoutTextureOrNormalIndicesGiveNothing) {
    ObjFixture f;
    EXPECT_TRUE(f.Read("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n").empty());
    EXPECT_EQ(f.diagnostics.Entries().size(), 1u);
}

TEST(ObjReader, QuadsMakeTwoFanTrianglesAndLaterVerticesAreIgnored) {
    ObjFixture f;
    auto& quad = f.Read(std::string(kFourVertices) + "f 1/1/1 2/2/2 3/3/3 4/4/4\n");
    ASSERT_EQ(quad.size(), 2u);
    EXPECT_EQ(quad[0]->p1, (Vec3{1, 0, 0}));
    EXPECT_EQ(quad[0]->p2, (Vec3{1, -1, 0}));
    EXPECT_EQ(quad[1]->p1, (Vec3{1, -1, 0}));
    EXPECT_EQ(quad[1]->p2, (Vec3{0, -1, 0}));
    EXPECT_EQ(f.Read(std::string(kFourVertices) + "f 1/1 2/2 3/3 4/4 5/5\n").size(), 2u);
    // A triangle after a quad yields one triangle only.
    EXPECT_EQ(f.Read(std::string(kFourVertices) + "f 1/1 2/2 3/3 4/4\nf 1/1 2/2 3/3\n").size(), 3u);
}

TEST(ObjReader, AttributeKindsFollowTheFirstVertex) {
    ObjFixture f;
    auto& normalsOnly = f.Read(std::string(kFourVertices) + "f 1//1 2//2 3//3\n");
    ASSERT_EQ(normalsOnly.size(), 1u);
    EXPECT_EQ(normalsOnly[0]->normal0, (Vec3{0, 0, -1}));
    EXPECT_FALSE(normalsOnly[0]->hasBumpFrame);

    auto& textureOnly = f.Read(std::string(kFourVertices) + "f 1/1 2/2 3/4\n");
    ASSERT_EQ(textureOnly.size(), 1u);
    EXPECT_EQ(textureOnly[0]->normal0.x, -1000.0f);
    EXPECT_EQ(textureOnly[0]->uv2.u, 0.0f);
    EXPECT_EQ(textureOnly[0]->uv2.v, 1.0f);
    EXPECT_FALSE(textureOnly[0]->hasBumpFrame);

    auto& full = f.Read(std::string(kFourVertices) + "f 1/1/1 2/2/2 4/4/4\n");
    ASSERT_EQ(full.size(), 1u);
    EXPECT_TRUE(full[0]->hasBumpFrame);
}

TEST(ObjReader, EveryTriangleCarriesItsFaceFrame) {
    ObjFixture f;
    auto& tris = f.Read(std::string(kFourVertices) + "f 1/1/1 2/2/2 4/4/4\n");
    ASSERT_EQ(tris.size(), 1u);
    // Corners (0,0,0), (1,0,0), (0,−1,0): cross(p2 − p0, p1 − p0) = (0, 0, 1).
    EXPECT_EQ(tris[0]->faceNormal, (Vec3{0, 0, 1}));
    EXPECT_NEAR(Dot(tris[0]->tangent, tris[0]->faceNormal), 0.0f, 1e-6f);
}

TEST(ObjReader, RelativeAndOutOfRangeIndicesSkipTheTriangle) {
    ObjFixture f;
    EXPECT_TRUE(f.Read(std::string(kFourVertices) + "f -3/-3/-3 -2/-2/-2 -1/-1/-1\n").empty());
    // A face may only use vertices defined above it.
    EXPECT_TRUE(f.Read("vn 0 0 1\nv 0 0 0\nv 1 0 0\nf 1//1 2//1 3//1\nv 0 1 0\n").empty());
    EXPECT_TRUE(f.Read(std::string(kFourVertices) + "f 1/9/1 2/2/2 3/3/3\n").empty());
    EXPECT_TRUE(f.Read(std::string(kFourVertices) + "f 1/1/1 2/2/9 3/3/3\n").empty());
    EXPECT_TRUE(f.Read(std::string(kFourVertices) + "f 1/0/1 2/2/2 3/3/3\n").empty());
    // Present on the first vertex but missing on a later one.
    EXPECT_TRUE(f.Read(std::string(kFourVertices) + "f 1/1/1 2 3/3/3\n").empty());
    EXPECT_TRUE(f.Read(std::string(kFourVertices) + "f 1/1/1 2//2 3/3/3\n").empty());
    EXPECT_TRUE(
        f.Read(std::string(kFourVertices) + "f 1/1/1 99999999999999999999 3/3/3\n").empty());
}

// A mesh of vertexCount vertices whose only face has its first vertex 5 units
// from its second (|e1|² = 25).
std::string MeshWithLongEdge(int vertexCount) {
    std::string content;
    for (int i = 0; i < vertexCount - 2; ++i) {
        content += "v 0 0 0\n";
    }
    content += "v 0 0 0\nv 5 0 0\nvn 0 0 1\n";
    content += "f " + std::to_string(vertexCount - 1) + "//1 " + std::to_string(vertexCount) +
               "//1 1//1\n";
    return content;
}

TEST(ObjReader, SizeFilterAppliesFromTheHundredthVertexOn) {
    ObjFixture f;
    EXPECT_EQ(f.Read(MeshWithLongEdge(99)).size(), 1u);
    EXPECT_TRUE(f.Read(MeshWithLongEdge(100)).empty());
}

TEST(ObjReader, UsemtlSelectsByExactNameAndFallsBackToTheDefault) {
    ObjFixture f;
    Material* red = f.reader.Mtl().Materials().Append("red");
    red->diffuse = std::make_unique<DiffuseLayer>();
    red->diffuse->kd = {1, 0, 0};
    std::string face = "f 1//1 2//1 3//1\n";
    auto& tris = f.Read("v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\n" + face + "usemtl red\n" + face +
                        "usemtl Red\n" + face);
    ASSERT_EQ(tris.size(), 3u);
    const Material* grey = &f.reader.Mtl().Materials().Default();
    EXPECT_EQ(tris[0]->material, grey);
    EXPECT_EQ(tris[1]->material, red);
    EXPECT_EQ(tris[2]->material, grey);
}

TEST(ObjReader, ANegativeRedDiffuseValueHidesEveryFaceOfItsMaterial) {
    ObjFixture f;
    for (float red : {-1.0f, std::nanf("")}) {
        Material* hidden = f.reader.Mtl().Materials().Append("hidden");
        hidden->diffuse = std::make_unique<DiffuseLayer>();
        hidden->diffuse->kd = {red, 0, 0};
        EXPECT_TRUE(f.Read("v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\nusemtl hidden\n"
                           "f 1//1 2//1 3//1\n")
                        .empty());
    }
}

TEST(ObjReader, MissingFileGivesNothingAndLeavesTheWorkingDirectory) {
    ObjFixture f;
    auto before = std::filesystem::current_path();
    EXPECT_FALSE(f.reader.ReadObj(f.dir.Path("none/m.obj"), {}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1},
                                  f.scene, TriangleList::Object, f.diagnostics));
    f.Read(std::string(kFourVertices) + "mtllib m.mtl\nf 1//1 2//2 3//3\n");
    EXPECT_EQ(std::filesystem::current_path(), before);
}

TEST(ObjReader, NumbersIgnoreTheProcessLocale) {
    const char* german = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"}) {
        if (std::setlocale(LC_NUMERIC, name) != nullptr) {
            german = name;
            break;
        }
    }
    if (german == nullptr) {
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    }
    ObjFixture f;
    auto& tris = f.Read("v 0.5 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\nf 1//1 2//1 3//1\n");
    std::setlocale(LC_NUMERIC, "C");
    ASSERT_EQ(tris.size(), 1u);
    EXPECT_EQ(tris[0]->p0.x, 0.5f);
}

TEST(ObjReader, MtllibReadsTheLibraryBesideTheObjFile) {
    TempDir dir;
    dir.Write("obj/a/m.mtl", "newmtl red\nKd 1 0 0\n");
    std::string path = dir.Write("obj/a/m.obj",
                                 "usemtl red\nmtllib m.mtl\n"
                                 "v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\n"
                                 "f 1//1 2//1 3//1\nusemtl red\nf 1//1 2//1 3//1\n");
    Scene scene;
    ObjReader reader;
    Diagnostics diagnostics;
    auto before = std::filesystem::current_path();
    ASSERT_TRUE(reader.ReadObj(path, {}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, scene,
                               TriangleList::Object, diagnostics));
    EXPECT_EQ(std::filesystem::current_path(), before);
    EXPECT_TRUE(diagnostics.Empty());
    ASSERT_EQ(scene.objectTriangles.size(), 2u);
    // A usemtl before its library was read finds nothing: the default grey.
    EXPECT_EQ(scene.objectTriangles[0]->material, &reader.Mtl().Materials().Default());
    const Material* red = scene.objectTriangles[1]->material;
    EXPECT_EQ(red, reader.Mtl().Materials().Find("red"));
    EXPECT_EQ(red->diffuse->kd, (Vec3{1, 0, 0}));
}

TEST(ObjReader, MtllibUsesItsFirstArgumentAsWrittenQuotesIncluded) {
    ObjFixture f;
    f.dir.Write("\"q.mtl\"", "newmtl quoted\n");
    f.dir.Write("plain.mtl", "newmtl plain\n");
    f.Read("mtllib \"q.mtl\"\nmtllib plain.mtl other.mtl\n");
    EXPECT_NE(f.reader.Mtl().Materials().Find("quoted"), nullptr);
    EXPECT_NE(f.reader.Mtl().Materials().Find("plain"), nullptr);
    EXPECT_TRUE(f.diagnostics.Empty());
}

TEST(ObjReader, ANegativeRedKdFromALibraryHidesItsFaces) {
    ObjFixture f;
    f.dir.Write("m.mtl", "newmtl hidden\nKd -1 0 0\n");
    EXPECT_TRUE(f.Read("mtllib m.mtl\nusemtl hidden\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\n"
                       "f 1//1 2//1 3//1\n")
                    .empty());
}

}  // namespace
}  // namespace lumeno
