// WorkingScene: the scene of the working folder together with the readers
// whose state outlives a load (the scene file's block state, the material
// and texture tables). The desktop application's form view and the
// command-line renderer each hold one and load through it, so both read a
// folder the same way.
#pragma once

#include <atomic>

#include "scene/diagnostics.h"
#include "scene/obj_reader.h"
#include "scene/scene.h"
#include "scene/scene_file.h"

namespace lumeno {

struct WorkingScene {
    // Empties the triangle lists and reads "./scene/scene.txt". Returns false
    // when that file cannot be opened (a diagnostic says so); the camera basis
    // is derived either way, so the camera stays usable.
    bool Load(Diagnostics& diagnostics);

    // Lets *cancel call a load off (see LineReader); null: none.
    void SetCancelFlag(const std::atomic<bool>* cancel) {
        sceneReader.SetCancelFlag(cancel);
        objReader.SetCancelFlag(cancel);
    }

    SceneFileReader sceneReader;
    ObjReader objReader;
    Scene scene;
};

}  // namespace lumeno
