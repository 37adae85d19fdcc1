#include "scene/mtl_reader.h"

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <utility>

#include "base/dib_image.h"
#include "scene/number_parse.h"
#include "scene/paths.h"

namespace lumeno {
namespace {

// Total diffuse reflectance of the dipole model for reduced albedo alpha and
// boundary term a: 0 at alpha = 0, 1 at alpha = 1.
float DiffuseReflectance(float alpha, float a) {
    return 0.5f * alpha * std::exp(-std::sqrt(3.0f * (1.0f - alpha))) *
           (1.0f + std::exp(-4.0f * a * std::sqrt((1.0f - alpha) / 3.0f)));
}

// The boundary term A = (1 + Fdr) / (1 − Fdr) for index of refraction eta.
float BoundaryTerm(float eta) {
    float fdr = 0.7099f / eta - 1.4399f / (eta * eta) + 0.0636f * eta + 0.6681f;
    return (1.0f + fdr) / (1.0f - fdr);
}

// The reduced albedo whose reflectance is target. The bisection keeps
// Rd(lo) < target ≤ Rd(hi) and stops as soon as a midpoint breaks that, so a
// target of 0 stops at once with 0.5.
float SolveAlbedo(float target, float a) {
    constexpr float kTolerance = 1e-6f;
    float lo = 0.0f;
    float hi = 1.0f;
    float rlo = 0.0f;
    float rhi = 1.0f;
    for (int step = 0; step < 100; ++step) {
        float m = (lo + hi) * 0.5f;
        float r = DiffuseReflectance(m, a);
        if (rlo < target && r - kTolerance > target) {
            hi = m;
            rhi = r;
        } else if (r < target + kTolerance && target <= rhi) {
            lo = m;
            rlo = r;
        } else {
            break;
        }
    }
    return (lo + hi) * 0.5f;
}

// The file's path with links and "." and ".." resolved, or empty text when
// it names no file.
std::string CanonicalPath(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return {};
    }
    std::string canonical(resolved);
    std::free(resolved);
    return canonical;
}

std::string Mebibytes(std::int64_t bytes) {
    return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MiB";
}

bool IsPositiveFinite(float value) {
    return value > 0.0f && std::isfinite(value);
}

// Which texture table a map key fills and what it takes from the bitmap.
enum class MapKind { Diffuse, Bump };

// One MTL file being read: the current material and the key handlers.
class MtlFile {
  public:
    MtlFile(LineReader& reader, MaterialTable& materials, TextureTable& diffuseTextures,
            TextureTable& bumpTextures, MtlReader::MapMemory& maps, std::string path,
            std::string directory, Diagnostics& diagnostics)
        : reader_(reader),
          materials_(materials),
          diffuseTextures_(diffuseTextures),
          bumpTextures_(bumpTextures),
          maps_(maps),
          path_(std::move(path)),
          directory_(std::move(directory)),
          diagnostics_(diagnostics) {}

    void Read() {
        for (std::string_view key = reader_.ReadLine(); key != LineReader::kEndOfFile;
             key = reader_.ReadLine()) {
            if (key == "newmtl") {
                NewMaterial(reader_.ArgView(1));
            } else if (material_ != nullptr) {
                ApplyKey(key);
            }
            if (reader_.TokenTruncated()) {
                Report("a token longer than 65536 characters was cut short");
            }
        }
    }

  private:
    float Arg(int i) const { return ParseFloat(reader_.Arg(i)); }
    Vec3 Arg3() const { return {Arg(1), Arg(2), Arg(3)}; }

    void Report(std::string message) {
        diagnostics_.Add(path_, reader_.LineNumber(), std::move(message));
    }

    // An existing material of this name becomes current as it is; a new name
    // gets the next free record with its own grey diffuse layer.
    void NewMaterial(std::string_view name) {
        material_ = materials_.Find(name);
        if (material_ != nullptr) {
            return;
        }
        material_ = materials_.Append(name);
        if (material_ == nullptr) {
            Report("material \"" + std::string(name) +
                   "\" not added: the material table is full (" +
                   std::to_string(MaterialTable::kCapacity) +
                   " materials); the lines of its block are ignored");
            return;
        }
        material_->diffuse = MakeLayer(kDefaultDiffuse);
        material_->kind = MaterialKind::Diffuse;
    }

    static std::unique_ptr<DiffuseLayer> MakeLayer(Vec3 kd) {
        auto layer = std::make_unique<DiffuseLayer>();
        layer->kd = kd;
        return layer;
    }

    void ApplyKey(std::string_view key) {
        Material& m = *material_;
        if (key == "Kd") {
            // A fresh layer: maps attached to the old one are dropped with it.
            m.diffuse = MakeLayer(Arg3());
            m.kind = MaterialKind::Diffuse;
        } else if (key == "Ke") {
            m.ke = Arg(1);
            m.kind = MaterialKind::Emissive;
        } else if (key == "Ks") {
            m.ks = Arg3();
        } else if (key == "sigma_a") {
            m.sigmaA = Arg3();
        } else if (key == "sigma_s") {
            m.sigmaS = Arg3();
        } else if (key == "refraction") {
            m.refraction = Arg(1);
            m.kind = m.refraction > 0.0f ? MaterialKind::Coated : MaterialKind::Glass;
        } else if (key == "map_Kd") {
            AttachMap(m, MapKind::Diffuse, reader_.ArgView(1));
        } else if (key == "map_Bump") {
            AttachMap(m, MapKind::Bump, reader_.ArgView(1));
        } else if (key == "sss") {
            m.kind = MaterialKind::Subsurface;
            if (!BuildSssTable(m.refraction, m.sssTable)) {
                Report("sss: refraction " + std::to_string(m.refraction) +
                       " gives no positive finite boundary term; the reflectance table is built "
                       "for refraction 1 (the shading keeps the material's refraction)");
            }
        }
    }

    void AttachMap(Material& m, MapKind kind, std::string_view name) {
        const Texture* texture = FindOrLoad(kind, name);
        if (texture == nullptr) {
            return;
        }
        if (m.diffuse == nullptr) {
            // Only materials made outside an MTL file can lack a layer.
            m.diffuse = MakeLayer(kDefaultDiffuse);
        }
        DiffuseLayer& layer = *m.diffuse;
        if (kind == MapKind::Diffuse) {
            layer.mapR = &texture->r;
            layer.mapG = &texture->g;
            layer.mapB = &texture->b;
            layer.mapWidth = static_cast<float>(texture->r.width);
            layer.mapHeight = static_cast<float>(texture->r.height);
            layer.hasMap = true;
            layer.mapName = std::string(name);
            m.hasTexture = true;
        } else {
            layer.bump = &texture->g;
            layer.bumpWidth = static_cast<float>(texture->g.width);
            layer.bumpHeight = static_cast<float>(texture->g.height);
            layer.hasBump = true;
        }
    }

    // The table entry for the file name as written: found, the entry of the
    // same file under another spelling, or loaded into the next free entry.
    // Nothing (and a report) when the table is full, the bitmap cannot be
    // read or it does not fit the memory budget; no entry is taken then.
    const Texture* FindOrLoad(MapKind kind, std::string_view name) {
        TextureTable& table = kind == MapKind::Diffuse ? diffuseTextures_ : bumpTextures_;
        const char* key = kind == MapKind::Diffuse ? "map_Kd" : "map_Bump";
        if (Texture* found = table.Find(name)) {
            return found;
        }
        auto& aliases = kind == MapKind::Diffuse ? maps_.diffuseAliases : maps_.bumpAliases;
        if (auto alias = aliases.find(name); alias != aliases.end()) {
            return alias->second;
        }
        std::string ignored = std::string(key) + " \"" + std::string(name) + "\" ignored: ";
        if (table.Count() + static_cast<int>(aliases.size()) >= TextureTable::kCapacity) {
            Report(ignored + "the " + (kind == MapKind::Diffuse ? "diffuse" : "bump") +
                   " texture table is full (" + std::to_string(TextureTable::kCapacity) +
                   " textures)");
            return nullptr;
        }
        std::string bitmapPath = LocatePath(ResolvePath(directory_, name));
        std::map<std::string, Texture*>& byPath =
            kind == MapKind::Diffuse ? maps_.diffuseByPath : maps_.bumpByPath;
        std::string resolved = CanonicalPath(bitmapPath);
        if (auto same = byPath.find(resolved); !resolved.empty() && same != byPath.end()) {
            aliases.emplace(std::string(name), same->second);
            return same->second;
        }
        // What the kept planes cost per pixel: three for a diffuse map, the
        // blue channel alone for a bump map.
        const std::int64_t bytesPerPixel =
            static_cast<std::int64_t>(sizeof(float)) * (kind == MapKind::Diffuse ? 3 : 1);
        std::int64_t mapBytes = 0;
        auto withinBudget = [&](int width, int height) -> std::string {
            mapBytes = std::int64_t{width} * height * bytesPerPixel;
            if (mapBytes <= maps_.budget - maps_.used) {
                return {};
            }
            return std::to_string(width) + " x " + std::to_string(height) + " pixels need " +
                   Mebibytes(mapBytes) + " and the maps' memory budget of " +
                   Mebibytes(maps_.budget) + " has " + Mebibytes(maps_.budget - maps_.used) +
                   " left";
        };
        DibImage image;
        std::string reason;
        if (!image.LoadFromFile(bitmapPath, &reason, withinBudget)) {
            Report(ignored + bitmapPath + ": " + reason);
            return nullptr;
        }
        // A bump map keeps the blue channel only, in its g plane.
        FloatPlane r;
        FloatPlane g;
        FloatPlane b;
        bool split = kind == MapKind::Diffuse ? image.ToPlanes(r, g, b) : image.ToPlanes(g, g, g);
        if (!split) {
            Report(ignored + bitmapPath + ": out of memory for its planes");
            return nullptr;
        }
        Texture* entry = table.Append(name);
        entry->r = std::move(r);
        entry->g = std::move(g);
        entry->b = std::move(b);
        maps_.used += mapBytes;
        if (!resolved.empty()) {
            byPath.emplace(std::move(resolved), entry);
        }
        return entry;
    }

    LineReader& reader_;
    MaterialTable& materials_;
    TextureTable& diffuseTextures_;
    TextureTable& bumpTextures_;
    MtlReader::MapMemory& maps_;
    std::string path_;
    std::string directory_;
    Diagnostics& diagnostics_;
    // Keys apply to this material; none before the first "newmtl" and after
    // a "newmtl" the full table refused.
    Material* material_ = nullptr;
};

}  // namespace

std::int64_t MtlReader::DefaultTextureBudget() {
    long pages = sysconf(_SC_PHYS_PAGES);
    long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) {
        return std::int64_t{4} << 30;
    }
    return std::int64_t{pages} * pageSize / 4;
}

bool BuildSssTable(float eta, std::array<float, kSssTableSize>& table) {
    float a = BoundaryTerm(eta);
    bool usable = IsPositiveFinite(a);
    if (!usable) {
        a = BoundaryTerm(1.0f);
    }
    for (int i = 0; i < kSssTableSize; ++i) {
        auto target = static_cast<float>(i * 0.00392156862745098);
        table[static_cast<std::size_t>(i)] = SolveAlbedo(target, a);
    }
    return usable;
}

void MtlReader::ReadMtl(const std::string& fileName, const std::string& directory,
                        Diagnostics& diagnostics) {
    std::string path = LocatePath(ResolvePath(directory, fileName));
    if (!reader_.Open(path)) {
        diagnostics.Add(path, 0, "cannot open the material library: " + reader_.OpenFailure());
        return;
    }
    MtlFile file(reader_, materials_, diffuseTextures_, bumpTextures_, maps_, path, directory,
                 diagnostics);
    file.Read();
    reader_.Close();
}

}  // namespace lumeno
