// A scene loaded from files written into a scratch directory, the way the
// scene-load command does it: lists emptied, then the scene file read.
#pragma once

#include <string>

#include "scene/diagnostics.h"
#include "scene/obj_reader.h"
#include "scene/scene.h"
#include "scene/scene_file.h"
#include "test_support.h"

namespace lumeno::testing {

// One triangle with texture coordinates and normals; its first corner is the
// OBJ vertex (1, 1, 1).
inline constexpr const char* kOneTriangleObj =
    "v 1 1 1\nv 2 1 1\nv 1 2 1\nvt 0 0\nvt 1 0\nvt 0 1\nvn 0 0 1\nf 1/1/1 2/2/1 3/3/1\n";

struct LoadedScene {
    Scene scene;
    SceneFileReader sceneReader;
    ObjReader objReader;
    Diagnostics diagnostics;

    // Loads dir/scene/scene.txt with dir as the working directory.
    bool Load(const TempDir& dir) {
        ScopedWorkingDirectory cwd(dir.Root());
        scene.ClearTriangles();
        return sceneReader.LoadScene("./scene/scene.txt", scene, objReader, diagnostics);
    }
};

}  // namespace lumeno::testing
