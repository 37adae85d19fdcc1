// MtlReader: reads the material libraries that OBJ files name into the
// material table, and the bitmaps those materials name into the two texture
// tables. It owns the tables, which keep their entries for the program's life:
// a later load finds its materials and textures again by name, so reading the
// same library twice rewrites its materials in place and loads no bitmap twice.
//
// A bitmap is loaded once per file, whatever spelling names it: "tex.bmp",
// "./tex.bmp" and a link to it share one texture (each table still finds it by
// the name as written). All maps together stay within a memory budget, a
// quarter of the physical memory unless set otherwise; a map past it is
// refused with a diagnostic naming the MTL file and line.
//
// Keys: "newmtl", "Kd", "Ke", "Ks", "sigma_a", "sigma_s", "refraction",
// "map_Kd", "map_Bump" and "sss"; every other key is ignored, and so is every
// key before the file's first "newmtl". A material's kind follows whichever of
// "Kd" (Diffuse), "Ke" (Emissive), "refraction" (Coated when > 0, else Glass)
// and "sss" (Subsurface) comes last in its block.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <string>

#include "scene/diagnostics.h"
#include "scene/line_reader.h"
#include "scene/material.h"

namespace lumeno {

class MtlReader {
  public:
    // Reads one MTL file. fileName is resolved against directory, the
    // directory of the OBJ file that named it; so are the bitmaps it names.
    // A file that cannot be opened changes nothing.
    void ReadMtl(const std::string& fileName, const std::string& directory,
                 Diagnostics& diagnostics);

    MaterialTable& Materials() { return materials_; }
    TextureTable& DiffuseTextures() { return diffuseTextures_; }
    TextureTable& BumpTextures() { return bumpTextures_; }

    // Lets *cancel call reading off (see LineReader); null: none.
    void SetCancelFlag(const std::atomic<bool>* cancel) { reader_.SetCancelFlag(cancel); }

    // A quarter of the physical memory (4 GiB when it cannot be told).
    static std::int64_t DefaultTextureBudget();
    // The bytes all maps may take together; maps already loaded stay.
    void SetTextureBudget(std::int64_t bytes) { maps_.budget = bytes; }
    // The bytes the loaded maps take (their planes).
    std::int64_t TextureBytes() const { return maps_.used; }

    // The loaded bitmaps by resolved path, per table, and their memory.
    // A file named again under another spelling is not loaded again: the
    // spelling becomes an alias of its entry, found by name from then on and
    // counted against the table's capacity as an entry of its own would be.
    struct MapMemory {
        std::map<std::string, Texture*> diffuseByPath;
        std::map<std::string, Texture*> bumpByPath;
        std::map<std::string, Texture*, std::less<>> diffuseAliases;
        std::map<std::string, Texture*, std::less<>> bumpAliases;
        std::int64_t budget = DefaultTextureBudget();
        std::int64_t used = 0;
    };

  private:
    LineReader reader_;
    MaterialTable materials_;
    TextureTable diffuseTextures_;
    TextureTable bumpTextures_;
    MapMemory maps_;
};

// Fills table[i], i = 0 … 254, with the reduced albedo whose total diffuse
// reflectance under the dipole model is i / 255, for the index of refraction
// eta, by bisection in 32-bit floats. When eta gives no positive finite
// boundary term A = (1 + Fdr) / (1 − Fdr) (eta = 0, below about 0.732, above
// about 3.85, NaN), the table is built for eta = 1 instead and false is
// returned.
bool BuildSssTable(float eta, std::array<float, kSssTableSize>& table);

}  // namespace lumeno
