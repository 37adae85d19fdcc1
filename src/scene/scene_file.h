// SceneFileReader: reads a scene description file ("./scene/scene.txt"). The
// file sets the camera and places OBJ meshes in "obj" and "light" blocks;
// each finished block hands its OBJ file and placement to the OBJ reader.
// The block state outlives a load: rotations persist from block to block
// within a file, and a closing keyword without an opening line reads the
// current file name again.
#pragma once

#include <atomic>
#include <string>

#include "scene/diagnostics.h"
#include "scene/line_reader.h"
#include "scene/matrix4.h"
#include "scene/obj_reader.h"
#include "scene/scene.h"

namespace lumeno {

inline constexpr int kMaxImageSide = 16384;

class SceneFileReader {
  public:
    // Reads path into scene, whose triangle lists the caller has emptied.
    // Every line until the end (or a line starting with "EOF") takes effect;
    // afterwards the camera basis is derived. Returns whether the file could
    // be opened; either way the basis is derived.
    bool LoadScene(const std::string& path, Scene& scene, ObjReader& objReader,
                   Diagnostics& diagnostics);

    // Calls a load off once *cancel is set (see LineReader): the lines read
    // until then take effect, and a diagnostic says the scene is incomplete.
    void SetCancelFlag(const std::atomic<bool>* cancel) { reader_.SetCancelFlag(cancel); }

    // The block state, as the last load left it.
    std::string fileName;
    Vec3 pos;
    Vec3 ex{1.0f, 0.0f, 0.0f};
    Vec3 ey{0.0f, 1.0f, 0.0f};
    Vec3 ez{0.0f, 0.0f, 1.0f};
    float scale = 1.0f;
    Matrix4 rotX = Matrix4::Identity();
    Matrix4 rotY = Matrix4::Identity();
    Matrix4 rotZ = Matrix4::Identity();

  private:
    void FinishBlock(const std::string& path, TriangleList list, Scene& scene, ObjReader& objReader,
                     Diagnostics& diagnostics);
    Vec3 ArgVec3() const;

    LineReader reader_;
};

}  // namespace lumeno
