// Materials and textures as the MTL reader leaves them and the shading code
// reads them. Triangles refer to materials; a material owns its diffuse layer;
// a diffuse layer refers into the texture tables. The tables have fixed
// capacity and are never emptied while the program runs, so references into
// them stay valid for its whole life.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/float_plane.h"
#include "scene/vec3.h"

namespace lumeno {

// One decoded bitmap file. A bump texture uses only its g plane.
struct Texture {
    FloatPlane r;
    FloatPlane g;
    FloatPlane b;
    std::string fileName;  // as written after the MTL key; the lookup key
};

// The diffuse colour of a material, with its optional diffuse and bump maps.
// Refers into the texture tables and owns nothing.
struct DiffuseLayer {
    Vec3 kd;
    bool hasMap = false;
    bool hasBump = false;
    float mapWidth = 0.0f;
    float mapHeight = 0.0f;
    float bumpWidth = 0.0f;
    float bumpHeight = 0.0f;
    std::string mapName;
    const FloatPlane* mapR = nullptr;
    const FloatPlane* mapG = nullptr;
    const FloatPlane* mapB = nullptr;
    const FloatPlane* bump = nullptr;
};

// Set by whichever of the MTL keys Kd, Ke, refraction and sss comes last.
enum class MaterialKind : std::int32_t {
    Diffuse = 0,
    Emissive = 2,
    Coated = 3,
    Glass = 4,
    Subsurface = 5,
};

inline constexpr int kSssTableSize = 255;

struct Material {
    bool hasTexture = false;
    // Entry i: the reduced albedo whose total diffuse reflectance is i / 255.
    std::array<float, kSssTableSize> sssTable{};
    std::unique_ptr<DiffuseLayer> diffuse;
    Vec3 ks;
    float refraction = 1.0f;
    float ke = 0.0f;
    Vec3 sigmaS;
    Vec3 sigmaA;
    MaterialKind kind = MaterialKind::Diffuse;
};

// A fixed table of named materials plus the default grey material, which is
// not in the table and which no MTL key changes.
class MaterialTable {
  public:
    static constexpr int kCapacity = 100;

    MaterialTable();

    // First material whose name matches exactly, or nullptr.
    Material* Find(std::string_view name);
    // Appends a material under name; nullptr when the table is full.
    Material* Append(std::string_view name);

    Material& Default() { return defaultMaterial_; }
    const Material& Default() const { return defaultMaterial_; }
    int Count() const { return count_; }
    Material& At(int i) { return materials_[static_cast<std::size_t>(i)]; }
    const std::string& NameAt(int i) const { return names_[static_cast<std::size_t>(i)]; }

  private:
    std::array<Material, kCapacity> materials_;
    std::array<std::string, kCapacity> names_;
    int count_ = 0;
    Material defaultMaterial_;
};

// A fixed table of textures keyed by file name, filled in order.
class TextureTable {
  public:
    static constexpr int kCapacity = 100;

    Texture* Find(std::string_view fileName);
    // The next free entry with fileName set; nullptr when the table is full.
    // The caller fills its planes.
    Texture* Append(std::string_view fileName);

    int Count() const { return count_; }
    Texture& At(int i) { return textures_[static_cast<std::size_t>(i)]; }

  private:
    std::array<Texture, kCapacity> textures_;
    int count_ = 0;
};

// The default diffuse colour: the default material's, and that of every
// material a "newmtl" line starts.
inline constexpr Vec3 kDefaultDiffuse{0.7f, 0.7f, 0.7f};

}  // namespace lumeno
