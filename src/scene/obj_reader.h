// ObjReader: turns one OBJ file into placed world-space triangles and appends
// them to one of the scene's lists. It reads positions, texture coordinates,
// normals, faces of three or four vertices, "mtllib" and "usemtl"; every
// other keyword is ignored. It owns the MTL reader and so the material tables.
// Faces it cannot use are skipped and reported once per file and reason with
// a count; degenerate (zero-area) triangles are kept as written and counted
// the same way, since they explain a slow octree.
#pragma once

#include <atomic>
#include <string>

#include "scene/diagnostics.h"
#include "scene/line_reader.h"
#include "scene/mtl_reader.h"
#include "scene/scene.h"
#include "scene/vec3.h"

namespace lumeno {

class ObjReader {
  public:
    // Reads fileName (relative to the working directory) and places its
    // vertex (x, y, z) at ((x·ax + pos) − y·ay) − z·az, the axes already
    // rotated and scaled by the scene block. Names in the file resolve against
    // the OBJ file's directory. A file that cannot be opened adds nothing.
    // Returns whether the file was opened.
    bool ReadObj(const std::string& fileName, Vec3 pos, Vec3 ax, Vec3 ay, Vec3 az, Scene& scene,
                 TriangleList destination, Diagnostics& diagnostics);

    MtlReader& Mtl() { return mtl_; }

    // Why the last ReadObj could not open its file.
    const std::string& OpenFailure() const { return reader_.OpenFailure(); }
    // Lets *cancel call reading off, here and in the MTL reader (see
    // LineReader); null: none.
    void SetCancelFlag(const std::atomic<bool>* cancel) {
        reader_.SetCancelFlag(cancel);
        mtl_.SetCancelFlag(cancel);
    }

  private:
    LineReader reader_;
    MtlReader mtl_;
};

}  // namespace lumeno
