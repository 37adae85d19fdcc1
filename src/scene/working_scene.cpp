#include "scene/working_scene.h"

#include "base/working_folder.h"

namespace lumeno {

bool WorkingScene::Load(Diagnostics& diagnostics) {
    scene.ClearTriangles();
    return sceneReader.LoadScene(kScenePath, scene, objReader, diagnostics);
}

}  // namespace lumeno
