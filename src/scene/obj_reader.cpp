#include "scene/obj_reader.h"

#include <array>
#include <cstdint>
#include <limits>
#include <string_view>
#include <vector>

#include "scene/number_parse.h"
#include "scene/paths.h"

namespace lumeno {
namespace {

constexpr std::int64_t kNone = -1;

// The three indices of one face vertex token, as written (1-based), or kNone.
struct VertexIndices {
    std::int64_t position = kNone;
    std::int64_t texCoord = kNone;
    std::int64_t normal = kNone;
};

bool IsBlankOrSlash(char c) {
    return c == ' ' || c == '/' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads a vertex token as if every '/' were a blank and up to three signed
// decimal integers were scanned from it, stopping at the first text that is
// no integer. "7", "7/3", "7/3/5" and "7//5" give (7, none, none),
// (7, 3, none), (7, 3, 5) and (7, none, 5). A written -1 also means none.
// Values saturate instead of overflowing.
VertexIndices ParseAnyVertexToken(std::string_view token) {
    std::array<std::int64_t, 3> values{kNone, kNone, kNone};
    bool doubleSlash = false;
    const char* p = token.data();
    const char* const end = p + token.size();
    for (int read = 0; read < 3; ++read) {
        while (p < end && IsBlankOrSlash(*p)) {
            doubleSlash = doubleSlash || (*p == '/' && p + 1 < end && p[1] == '/');
            ++p;
        }
        bool negative = false;
        if (p < end && (*p == '+' || *p == '-')) {
            negative = *p == '-';
            ++p;
        }
        if (p == end || *p < '0' || *p > '9') {
            break;
        }
        std::int64_t magnitude = 0;
        constexpr std::int64_t kLimit = std::numeric_limits<std::int64_t>::max() / 10 - 1;
        for (; p < end && *p >= '0' && *p <= '9'; ++p) {
            if (magnitude < kLimit) {
                magnitude = magnitude * 10 + (*p - '0');
            }
        }
        values[static_cast<std::size_t>(read)] = negative ? -magnitude : magnitude;
    }
    if (!doubleSlash && p < end) {
        doubleSlash = std::string_view(p, static_cast<std::size_t>(end - p)).find("//") !=
                      std::string_view::npos;
    }
    VertexIndices indices;
    indices.position = values[0];
    if (doubleSlash) {
        indices.normal = values[1];
    } else {
        indices.texCoord = values[1];
        indices.normal = values[2];
    }
    return indices;
}

// Reads the unsigned decimal at p, of at most 18 digits (too few to saturate),
// and moves p past it; false when there is no such number there.
bool ReadShortIndex(const char*& p, const char* end, std::int64_t& value) {
    const char* const start = p;
    std::uint64_t magnitude = 0;  // wraps harmlessly on runs too long to take
    for (; p < end && static_cast<unsigned char>(*p - '0') < 10; ++p) {
        magnitude = magnitude * 10 + static_cast<std::uint64_t>(*p - '0');
    }
    value = static_cast<std::int64_t>(magnitude);
    return p != start && p - start <= 18;
}

// ParseAnyVertexToken, with a shortcut for the usual forms "7/3/5", "7//5",
// "7/3" and "7" written with plain unsigned numbers.
VertexIndices ParseVertexToken(std::string_view token) {
    const char* p = token.data();
    const char* const end = p + token.size();
    VertexIndices indices;
    if (ReadShortIndex(p, end, indices.position)) {
        if (p == end) {
            return indices;
        }
        if (*p++ == '/') {
            if (p < end && *p == '/') {
                ++p;
                if (ReadShortIndex(p, end, indices.normal) && p == end) {
                    return indices;
                }
            } else if (ReadShortIndex(p, end, indices.texCoord)) {
                if (p == end) {
                    return indices;
                }
                if (*p++ == '/' && ReadShortIndex(p, end, indices.normal) && p == end) {
                    return indices;
                }
            }
        }
    }
    return ParseAnyVertexToken(token);
}

// A 0-based index into a list of count entries, or -1 when the written
// index (1-based, kNone for none) does not name an entry.
std::int64_t ToListIndex(std::int64_t written, std::size_t count) {
    if (written == kNone) {
        return -1;
    }
    std::int64_t index = written - 1;
    if (index < 0 || static_cast<std::uint64_t>(index) >= count) {
        return -1;
    }
    return index;
}

// Why a face, or one of its fan triangles, made no triangle, and the one
// kind of triangle kept but worth a word. Reported once per file and reason,
// with a count and the first line.
enum SkipReason {
    kHiddenByMaterial,
    kTooFewVertices,
    kPositionOutOfRange,
    kNoAttributes,
    kTexCoordOutOfRange,
    kNormalOutOfRange,
    kSizeFilter,
    kDegenerate,  // not skipped: kept and counted
    kSkipReasonCount
};

constexpr std::array<const char*, kSkipReasonCount> kSkipMessages{
    "face ignored: its material has a negative red diffuse value",
    "face ignored: fewer than three vertices",
    "triangle skipped: a position index is missing or does not refer to a vertex defined above",
    "triangle skipped: its first vertex has neither a texture coordinate nor a normal",
    "triangle skipped: a texture coordinate index is missing or out of range",
    "triangle skipped: a normal index is missing or out of range",
    "triangle skipped: an edge from its first vertex has squared length 10 or more (mesh of 100 "
    "vertices or more)",
    "degenerate triangle kept: it has zero area (its corners coincide or lie on one line)",
};

struct SkipCounter {
    std::int64_t count = 0;
    int firstLine = 0;
};

class ObjFile {
  public:
    ObjFile(LineReader& reader, MtlReader& mtl, Scene& scene, TriangleList destination, Vec3 pos,
            Vec3 ax, Vec3 ay, Vec3 az, std::string fileName, Diagnostics& diagnostics)
        : reader_(reader),
          mtl_(mtl),
          scene_(scene),
          destination_(destination),
          pos_(pos),
          ax_(ax),
          ay_(ay),
          az_(az),
          fileName_(std::move(fileName)),
          directory_(DirectoryOf(fileName_)),
          diagnostics_(diagnostics),
          material_(&mtl.Materials().Default()) {}

    void Read() {
        try {
            ReadLines();
        } catch (...) {
            // Out of memory: the triangles kept so far stay, each complete.
            FinishFrames();
            throw;
        }
        FinishFrames();
        for (int reason = 0; reason < kSkipReasonCount; ++reason) {
            const SkipCounter& counter = skips_[static_cast<std::size_t>(reason)];
            if (counter.count > 0) {
                Report(counter.firstLine, std::to_string(counter.count) + " × " +
                                              kSkipMessages[static_cast<std::size_t>(reason)]);
            }
        }
    }

  private:
    void ReadLines() {
        for (std::string_view keyword = reader_.ReadLine(); keyword != LineReader::kEndOfFile;
             keyword = reader_.ReadLine()) {
            if (keyword == "v") {
                positions_.push_back(Place(Arg(1), Arg(2), Arg(3)));
            } else if (keyword == "vn") {
                normals_.push_back(Normalize(Direction(Arg(1), Arg(2), Arg(3))));
            } else if (keyword == "vt") {
                texCoords_.push_back({Arg(1), Arg(2)});
            } else if (keyword == "f") {
                ReadFace();
            } else if (keyword == "usemtl") {
                Material* found = mtl_.Materials().Find(reader_.ArgView(1));
                material_ = found != nullptr ? found : &mtl_.Materials().Default();
            } else if (keyword == "mtllib") {
                mtl_.ReadMtl(reader_.Arg(1), directory_, diagnostics_);
            }
            if (reader_.TokenTruncated()) {
                Report(reader_.LineNumber(), "a token longer than 65536 characters was cut short");
            }
        }
    }

    float Arg(int i) const { return ParseFloat(reader_.Arg(i)); }

    // ((x·ax + pos) − y·ay) − z·az: the OBJ y and z axes run against ay, az.
    Vec3 Place(float x, float y, float z) const { return ((x * ax_ + pos_) - y * ay_) - z * az_; }
    Vec3 Direction(float x, float y, float z) const { return (x * ax_ - y * ay_) - z * az_; }

    void Report(int line, std::string message) {
        diagnostics_.Add(fileName_, line, std::move(message));
    }

    void Tally(SkipReason reason) {
        SkipCounter& counter = skips_[static_cast<std::size_t>(reason)];
        if (counter.count++ == 0) {
            counter.firstLine = reader_.LineNumber();
        }
    }

    void ReadFace() {
        const DiffuseLayer* layer = material_->diffuse.get();
        if (layer != nullptr && !(layer->kd.x >= 0.0f)) {
            Tally(kHiddenByMaterial);
            return;
        }
        int vertexCount = reader_.Count() - 1;
        if (vertexCount < 3) {
            Tally(kTooFewVertices);
            return;
        }
        // Tokens beyond the fourth are never used.
        std::array<VertexIndices, 4> vertices;
        int used = vertexCount < 4 ? vertexCount : 4;
        for (int i = 0; i < used; ++i) {
            vertices[static_cast<std::size_t>(i)] = ParseVertexToken(reader_.ArgView(i + 1));
        }
        for (int k = 0; k + 3 <= used; ++k) {
            MakeFanTriangle(vertices[0], vertices[static_cast<std::size_t>(k + 1)],
                            vertices[static_cast<std::size_t>(k + 2)]);
        }
    }

    void MakeFanTriangle(const VertexIndices& v0, const VertexIndices& v1,
                         const VertexIndices& v2) {
        std::int64_t p0 = ToListIndex(v0.position, positions_.size());
        std::int64_t p1 = ToListIndex(v1.position, positions_.size());
        std::int64_t p2 = ToListIndex(v2.position, positions_.size());
        if (p0 < 0 || p1 < 0 || p2 < 0) {
            Tally(kPositionOutOfRange);
            return;
        }
        const Vec3& q0 = positions_[static_cast<std::size_t>(p0)];
        const Vec3& q1 = positions_[static_cast<std::size_t>(p1)];
        const Vec3& q2 = positions_[static_cast<std::size_t>(p2)];

        Vec3 e1 = q0 - q1;
        Vec3 e2 = q0 - q2;
        if (!((Dot(e1, e1) < 10.0f && Dot(e2, e2) < 10.0f) || positions_.size() < 100)) {
            Tally(kSizeFilter);
            return;
        }

        bool hasTexCoords = v0.texCoord != kNone;
        bool hasNormals = v0.normal != kNone;
        if (!hasTexCoords && !hasNormals) {
            Tally(kNoAttributes);
            return;
        }
        std::array<std::int64_t, 3> texCoord{};
        if (hasTexCoords) {
            texCoord = {ToListIndex(v0.texCoord, texCoords_.size()),
                        ToListIndex(v1.texCoord, texCoords_.size()),
                        ToListIndex(v2.texCoord, texCoords_.size())};
            if (texCoord[0] < 0 || texCoord[1] < 0 || texCoord[2] < 0) {
                Tally(kTexCoordOutOfRange);
                return;
            }
        }
        std::array<std::int64_t, 3> normal{};
        if (hasNormals) {
            normal = {ToListIndex(v0.normal, normals_.size()),
                      ToListIndex(v1.normal, normals_.size()),
                      ToListIndex(v2.normal, normals_.size())};
            if (normal[0] < 0 || normal[1] < 0 || normal[2] < 0) {
                Tally(kNormalOutOfRange);
                return;
            }
        }
        Vec3 across = Cross(q1 - q0, q2 - q0);
        if (Dot(across, across) == 0.0f) {
            Tally(kDegenerate);
        }

        // Filled in where it is stored: building it aside and copying it in
        // cost more than the rest of this function.
        Triangle* stored = scene_.AppendDefault(destination_);
        Triangle& t = *stored;
        t.p0 = q0;
        t.p1 = q1;
        t.p2 = q2;
        if (hasTexCoords) {
            t.uv0 = texCoords_[static_cast<std::size_t>(texCoord[0])];
            t.uv1 = texCoords_[static_cast<std::size_t>(texCoord[1])];
            t.uv2 = texCoords_[static_cast<std::size_t>(texCoord[2])];
        }
        if (hasNormals) {
            t.normal0 = normals_[static_cast<std::size_t>(normal[0])];
            t.normal1 = normals_[static_cast<std::size_t>(normal[1])];
            t.normal2 = normals_[static_cast<std::size_t>(normal[2])];
        } else {
            t.normal0.x = kNoVertexNormals;
        }
        t.material = material_;
        unframed_[unframedCount_++] = stored;
        if (hasTexCoords && hasNormals) {
            unbumped_[unbumpedCount_++] = stored;
        }
        if (unframedCount_ == unframed_.size()) {
            FinishFrames();
        }
    }

    // The frames of the triangles appended since the last call, worked out a
    // batch at a time (see ComputeFaceFrames).
    void FinishFrames() {
        ComputeFaceFrames(unframed_.data(), unframedCount_);
        ComputeBumpFrames(unbumped_.data(), unbumpedCount_);
        unframedCount_ = 0;
        unbumpedCount_ = 0;
    }

    LineReader& reader_;
    MtlReader& mtl_;
    Scene& scene_;
    TriangleList destination_;
    Vec3 pos_, ax_, ay_, az_;
    std::string fileName_;
    std::string directory_;
    Diagnostics& diagnostics_;
    const Material* material_;
    std::vector<Vec3> positions_;
    std::vector<Vec3> normals_;
    std::vector<TexCoord> texCoords_;
    std::array<SkipCounter, kSkipReasonCount> skips_{};
    // Appended triangles still without their face frame, and those of them
    // still without their bump frame.
    std::array<Triangle*, 64> unframed_{};
    std::size_t unframedCount_ = 0;
    std::array<Triangle*, 64> unbumped_{};
    std::size_t unbumpedCount_ = 0;
};

}  // namespace

bool ObjReader::ReadObj(const std::string& fileName, Vec3 pos, Vec3 ax, Vec3 ay, Vec3 az,
                        Scene& scene, TriangleList destination, Diagnostics& diagnostics) {
    std::string path = LocatePath(fileName);
    if (!reader_.Open(path)) {
        return false;
    }
    ObjFile file(reader_, mtl_, scene, destination, pos, ax, ay, az, path, diagnostics);
    file.Read();
    reader_.Close();
    return true;
}

}  // namespace lumeno
