// MtlReader: reads the material libraries that OBJ files name into the
// material table, and the bitmaps those materials name into the two texture
// tables. It owns the tables, which keep their entries for the program's life.
#pragma once

#include <string>

#include "scene/diagnostics.h"
#include "scene/line_reader.h"
#include "scene/material.h"

namespace lumeno {

class MtlReader {
  public:
    // Reads one MTL file. fileName is resolved against directory, the
    // directory of the OBJ file that named it; so are the bitmaps it names.
    void ReadMtl(const std::string& fileName, const std::string& directory,
                 Diagnostics& diagnostics);

    MaterialTable& Materials() { return materials_; }
    TextureTable& DiffuseTextures() { return diffuseTextures_; }
    TextureTable& BumpTextures() { return bumpTextures_; }

  private:
    LineReader reader_;
    MaterialTable materials_;
    TextureTable diffuseTextures_;
    TextureTable bumpTextures_;
};

}  // namespace lumeno
