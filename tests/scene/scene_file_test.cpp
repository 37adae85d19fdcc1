#include <gtest/gtest.h>

#include <atomic>

#include "scene/scene_file.h"
#include "scene_test_support.h"

namespace lumeno {
namespace {

using testing::ExpectNear;

using testing::kOneTriangleObj;
using testing::LoadedScene;
using testing::TempDir;

TEST(SceneFile, WorkedExampleSetsCameraAndFillsBothLists) {
    TempDir dir;
    dir.Write("obj/room.obj", kOneTriangleObj);
    dir.Write("obj/panel.obj", kOneTriangleObj);
    dir.Write("scene/scene.txt",
              "# a room and a ceiling panel\ncamera_pos 0 1.5 -4\nlook_at 0 1 0\nfocus 1\n"
              "size 400 300\nobj obj/room.obj\nscale 0.1\nobj_end\nlight obj/panel.obj\n"
              "pos 0 2.9 0\nlight_end\nEOF\n");
    LoadedScene loaded;
    ASSERT_TRUE(loaded.Load(dir));
    const Camera& camera = loaded.scene.camera;
    EXPECT_EQ(camera.position, (Vec3{0.0f, 1.5f, -4.0f}));
    EXPECT_EQ(camera.lookAt, (Vec3{0.0f, 1.0f, 0.0f}));
    EXPECT_EQ(camera.focus, 1.0f);
    EXPECT_EQ(camera.width, 400);
    EXPECT_EQ(camera.height, 300);
    ASSERT_EQ(loaded.scene.objectTriangles.size(), 1u);
    ASSERT_EQ(loaded.scene.lightTriangles.size(), 1u);
    ExpectNear(loaded.scene.objectTriangles[0]->p0, {0.1f, -0.1f, -0.1f}, 1e-5f);
    ExpectNear(loaded.scene.lightTriangles[0]->p0, {1.0f, 1.9f, -1.0f}, 1e-5f);
    EXPECT_TRUE(loaded.diagnostics.Empty());
}

TEST(SceneFile, KeywordsAreCaseInsensitiveButOnlyUpperCaseEofEndsTheFile) {
    TempDir dir;
    dir.Write("scene/scene.txt", "Camera_Pos 0 1 -5\neof\nFOCUS 2\nEOF\nfocus 3\n");
    LoadedScene loaded;
    loaded.Load(dir);
    EXPECT_EQ(loaded.scene.camera.position, (Vec3{0, 1, -5}));
    EXPECT_EQ(loaded.scene.camera.focus, 2.0f);
}

TEST(SceneFile, MissingNumbersReadAsZeroAndCommentsCutTouchingTokens) {
    TempDir dir;
    dir.Write("scene/scene.txt", "camera_pos 1 2\nlook_at 1 2 3# comment\n");
    LoadedScene loaded;
    loaded.Load(dir);
    EXPECT_EQ(loaded.scene.camera.position, (Vec3{1, 2, 0}));
    EXPECT_EQ(loaded.scene.camera.lookAt, (Vec3{1, 2, 0}));
    dir.Write("scene/scene.txt", "camera_pos 1 2 3 # comment\n");
    loaded.Load(dir);
    EXPECT_EQ(loaded.scene.camera.position, (Vec3{1, 2, 3}));
}

TEST(SceneFile, SizeIsTruncatedAndImpossibleSizesAreIgnored) {
    TempDir dir;
    LoadedScene loaded;
    dir.Write("scene/scene.txt", "size 640.9 480.2\n");
    loaded.Load(dir);
    EXPECT_EQ(loaded.scene.camera.width, 640);
    EXPECT_EQ(loaded.scene.camera.height, 480);
    for (const char* bad : {"size 0 100\n", "size 100 -5\n", "size 20000 100\n", "size nan 5\n",
                            "size 1e999 5\n", "size\n"}) {
        loaded.diagnostics.Clear();
        dir.Write("scene/scene.txt", bad);
        loaded.Load(dir);
        EXPECT_EQ(loaded.scene.camera.width, 640) << bad;
        EXPECT_EQ(loaded.scene.camera.height, 480) << bad;
        EXPECT_EQ(loaded.diagnostics.Entries().size(), 1u) << bad;
    }
}

TEST(SceneFile, PlacementScalesShiftsAndNegatesYAndZ) {
    TempDir dir;
    dir.Write("m.obj", kOneTriangleObj);
    dir.Write("scene/scene.txt", "obj m.obj\npos 10 0 0\nscale 2\nobj_end\n");
    LoadedScene loaded;
    loaded.Load(dir);
    ASSERT_EQ(loaded.scene.objectTriangles.size(), 1u);
    EXPECT_EQ(loaded.scene.objectTriangles[0]->p0, (Vec3{12, -2, -2}));
}

TEST(SceneFile, RotationsPersistIntoLaterBlocks) {
    TempDir dir;
    dir.Write("m.obj", kOneTriangleObj);
    dir.Write("scene/scene.txt",
              "obj m.obj\nrot_y 1.5707963\nobj_end\nobj m.obj\nobj_end\n"
              "obj m.obj\nrot_y 0\nobj_end\n");
    LoadedScene loaded;
    loaded.Load(dir);
    ASSERT_EQ(loaded.scene.objectTriangles.size(), 3u);
    // The quarter turn maps ex to (0, 0, −1) and ez to (1, 0, 0): the OBJ
    // vertex (1, 1, 1) lands at (0, 0, −1) + (0, −1, 0) − (1, 0, 0).
    ExpectNear(loaded.scene.objectTriangles[0]->p0, {-1, -1, -1}, 1e-5f);
    ExpectNear(loaded.scene.objectTriangles[1]->p0, {-1, -1, -1}, 1e-5f);
    ExpectNear(loaded.scene.objectTriangles[2]->p0, {1, -1, -1}, 1e-5f);
    ExpectNear(loaded.sceneReader.ex, {1, 0, 0}, 1e-5f);
}

TEST(SceneFile, BlockAxesStayRotatedAfterTheBlock) {
    TempDir dir;
    dir.Write("m.obj", kOneTriangleObj);
    dir.Write("scene/scene.txt", "obj m.obj\nrot_y 1.5707963\nobj_end\n");
    LoadedScene loaded;
    loaded.Load(dir);
    ExpectNear(loaded.sceneReader.ex, {0, 0, -1}, 1e-5f);
    ExpectNear(loaded.sceneReader.ey, {0, 1, 0}, 1e-5f);
    ExpectNear(loaded.sceneReader.ez, {1, 0, 0}, 1e-5f);
}

TEST(SceneFile, TheClosingKeywordChoosesTheList) {
    TempDir dir;
    dir.Write("a.obj", kOneTriangleObj);
    dir.Write("scene/scene.txt", "obj a.obj\nlight_end\nlight \"a.obj\"\nobj_end\nobj_end\n");
    LoadedScene loaded;
    loaded.Load(dir);
    EXPECT_EQ(loaded.scene.lightTriangles.size(), 1u);
    // The second block and the bare closing line read a.obj again.
    EXPECT_EQ(loaded.scene.objectTriangles.size(), 2u);
}

TEST(SceneFile, LoadingTwiceGivesTheSameTrianglesAnew) {
    TempDir dir;
    dir.Write("a.obj", kOneTriangleObj);
    dir.Write("scene/scene.txt", "obj a.obj\nobj_end\nlight a.obj\nlight_end\n");
    LoadedScene loaded;
    loaded.Load(dir);
    Triangle first = *loaded.scene.objectTriangles[0];
    std::shared_ptr<TriangleStore> firstStore = loaded.scene.triangleStore;
    loaded.Load(dir);
    ASSERT_EQ(loaded.scene.objectTriangles.size(), 1u);
    ASSERT_EQ(loaded.scene.lightTriangles.size(), 1u);
    EXPECT_NE(loaded.scene.triangleStore, firstStore);
    EXPECT_EQ(loaded.scene.objectTriangles[0]->p1, first.p1);
    // The earlier triangles stay alive for whoever still holds their store.
    EXPECT_EQ(firstStore->At(0).p1, first.p1);
}

TEST(SceneFile, CameraBasisIsDerivedAfterTheLastLine) {
    TempDir dir;
    dir.Write("scene/scene.txt", "camera_pos 0 0 0\nlook_at 0 0 1\n");
    LoadedScene loaded;
    loaded.scene.camera.ex = {9, 9, 9};
    loaded.Load(dir);
    ExpectNear(loaded.scene.camera.ez, {0, 0, 1}, 1e-5f);
    ExpectNear(loaded.scene.camera.ey, {0, 1, 0}, 1e-5f);
    ExpectNear(loaded.scene.camera.ex, {1, 0, 0}, 1e-5f);
}

TEST(SceneFile, ACancelledLoadStopsAtOnceAndSaysSo) {
    TempDir dir;
    std::string mesh;
    for (int i = 0; i < 20000; ++i) {
        mesh += "v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\nf -3//1 -2//1 -1//1\n";
    }
    dir.Write("m.obj", mesh);
    dir.Write("scene/scene.txt", "size 8 6\nobj m.obj\nobj_end\nobj m.obj\nobj_end\n");
    std::atomic<bool> cancel{true};
    LoadedScene loaded;
    loaded.sceneReader.SetCancelFlag(&cancel);
    loaded.objReader.SetCancelFlag(&cancel);
    EXPECT_TRUE(loaded.Load(dir));
    EXPECT_TRUE(loaded.scene.objectTriangles.empty());
    ASSERT_EQ(loaded.diagnostics.Entries().size(), 1u);
    EXPECT_NE(loaded.diagnostics.Entries()[0].message.find("stopped on request"),
              std::string::npos);
}

TEST(SceneFile, MissingFilesAreReportedAndLeaveTheCameraAsItWas) {
    TempDir dir;
    LoadedScene loaded;
    loaded.scene.camera.width = 123;
    EXPECT_FALSE(loaded.Load(dir));
    EXPECT_EQ(loaded.scene.camera.width, 123);
    EXPECT_FALSE(loaded.diagnostics.Empty());

    loaded.diagnostics.Clear();
    dir.Write("scene/scene.txt", "obj nowhere.obj\nobj_end\nbogus 1 2\n");
    EXPECT_TRUE(loaded.Load(dir));
    ASSERT_EQ(loaded.diagnostics.Entries().size(), 2u);
    EXPECT_EQ(loaded.diagnostics.Entries()[0].line, 2);
    EXPECT_NE(loaded.diagnostics.Entries()[0].message.find("nowhere.obj"), std::string::npos);
    EXPECT_EQ(loaded.diagnostics.Entries()[1].line, 3);
}

}  // namespace
}  // namespace lumeno
