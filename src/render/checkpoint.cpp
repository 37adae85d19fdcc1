#include "render/checkpoint.h"

#include <xxhash.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unordered_map>

#include "base/file_io.h"
#include "base/working_folder.h"
#include "scene/material.h"
#include "scene/scene.h"

namespace lumeno {
namespace {

constexpr char kMagic[8] = {'L', 'U', 'M', 'E', 'N', 'O', 'C', 'P'};

// Feeds a 64-bit hash in large blocks, so that hashing many small fields
// costs little more than hashing one long buffer.
class Hasher {
  public:
    Hasher() : state_(XXH3_createState()) { XXH3_64bits_reset(state_.get()); }

    template <typename T>
    void Add(const T& value) {
        static_assert(std::is_trivially_copyable_v<T>);
        Bytes(&value, sizeof value);
    }
    void Add(Vec3 v) {
        Add(v.x);
        Add(v.y);
        Add(v.z);
    }
    void Bytes(const void* data, std::size_t size) {
        if (used_ + size > sizeof buffer_) {
            Flush();
        }
        if (size > sizeof buffer_) {
            XXH3_64bits_update(state_.get(), data, size);
            return;
        }
        std::memcpy(buffer_ + used_, data, size);
        used_ += size;
    }
    std::uint64_t Digest() {
        Flush();
        return XXH3_64bits_digest(state_.get());
    }

  private:
    void Flush() {
        XXH3_64bits_update(state_.get(), buffer_, used_);
        used_ = 0;
    }
    struct StateFree {
        void operator()(XXH3_state_t* state) const { XXH3_freeState(state); }
    };
    std::unique_ptr<XXH3_state_t, StateFree> state_;
    unsigned char buffer_[65536];
    std::size_t used_ = 0;
};

void AddPlane(Hasher& hasher, const FloatPlane* plane) {
    if (plane == nullptr || plane->Empty()) {
        hasher.Add(0);
        return;
    }
    hasher.Add(plane->width);
    hasher.Add(plane->height);
    for (int y = 0; y < plane->height; ++y) {
        hasher.Bytes(plane->Row(y), sizeof(float) * static_cast<std::size_t>(plane->width));
    }
}

// The hash of a file's bytes; a missing or unreadable file hashes its reason.
std::uint64_t FileHash(const char* path) {
    Hasher hasher;
    RegularFile file;
    if (!file.Open(path)) {
        hasher.Bytes(file.Why().data(), file.Why().size());
        return hasher.Digest();
    }
    std::vector<unsigned char> block(1 << 20);
    for (std::int64_t left = file.Size(); left > 0;) {
        std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(left, 1 << 20));
        std::size_t got = std::fread(block.data(), 1, want, file.Stream());
        if (got == 0) {
            break;
        }
        hasher.Bytes(block.data(), got);
        left -= static_cast<std::int64_t>(got);
    }
    return hasher.Digest();
}

class ByteWriter {
  public:
    template <typename T>
    void Put(T value) {
        static_assert(std::is_integral_v<T> || std::is_floating_point_v<T>);
        using U = std::conditional_t<
            sizeof(T) == 1, std::uint8_t,
            std::conditional_t<sizeof(T) == 2, std::uint16_t,
                               std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>>>;
        U bits = std::bit_cast<U>(value);
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            bytes.push_back(static_cast<char>(bits >> (8 * i)));
        }
    }
    void PutText(const std::string& text) {
        Put(static_cast<std::uint32_t>(text.size()));
        bytes += text;
    }
    template <typename T>
    void PutArray(std::span<const T> values) {
        Put(static_cast<std::uint64_t>(values.size()));
        if constexpr (std::endian::native == std::endian::little) {
            bytes.append(reinterpret_cast<const char*>(values.data()), values.size_bytes());
        } else {
            for (T v : values) {
                Put(v);
            }
        }
    }
    std::string bytes;
};

class ByteReader {
  public:
    ByteReader(const char* data, std::size_t size) : data_(data), size_(size) {}

    template <typename T>
    bool Get(T& value) {
        using U = std::conditional_t<
            sizeof(T) == 1, std::uint8_t,
            std::conditional_t<sizeof(T) == 2, std::uint16_t,
                               std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>>>;
        if (size_ - at_ < sizeof(T)) {
            return false;
        }
        U bits = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            bits |= static_cast<U>(static_cast<unsigned char>(data_[at_ + i])) << (8 * i);
        }
        at_ += sizeof(T);
        value = std::bit_cast<T>(bits);
        return true;
    }
    bool GetText(std::string& text) {
        std::uint32_t length = 0;
        if (!Get(length) || size_ - at_ < length) {
            return false;
        }
        text.assign(data_ + at_, length);
        at_ += length;
        return true;
    }
    template <typename T>
    bool GetArray(std::vector<T>& values, std::uint64_t expected) {
        std::uint64_t count = 0;
        if (!Get(count) || count != expected || (size_ - at_) / sizeof(T) < count) {
            return false;
        }
        values.resize(static_cast<std::size_t>(count));
        for (T& v : values) {
            Get(v);
        }
        return true;
    }
    bool AtEnd() const { return at_ == size_; }

  private:
    const char* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

}  // namespace

static_assert(offsetof(Triangle, p0) == 0 &&
              offsetof(Triangle, bumpV) == offsetof(Triangle, bumpU) + sizeof(Vec3));

Fingerprint GeometryFingerprint(const Scene& scene) {
    Fingerprint fingerprint;
    // Materials in the order the triangles first use them; the triangles
    // refer to them by that number.
    std::unordered_map<const Material*, std::uint32_t> materialNumbers;
    std::vector<const Material*> materials;
    Hasher triangles;
    triangles.Add(static_cast<std::uint64_t>(scene.objectTriangles.size()));
    for (const Triangle* t : scene.objectTriangles) {
        auto [entry, added] =
            materialNumbers.try_emplace(t->material, static_cast<std::uint32_t>(materials.size()));
        if (added) {
            materials.push_back(t->material);
        }
        // The corners, normals, texture coordinates and face frame lie side
        // by side as floats, and so do the two bump vectors.
        triangles.Bytes(&t->p0, offsetof(Triangle, bitangent) + sizeof(Vec3));
        triangles.Bytes(&t->bumpU,
                        offsetof(Triangle, bumpV) + sizeof(Vec3) - offsetof(Triangle, bumpU));
        triangles.Add(static_cast<std::uint8_t>(t->hasBumpFrame));
        triangles.Add(entry->second);
    }
    fingerprint.items.push_back({"the triangles", triangles.Digest()});

    Hasher materialHash;
    Hasher mapHash;
    for (const Material* m : materials) {
        if (m == nullptr) {
            materialHash.Add(std::uint8_t{0xFF});
            continue;
        }
        materialHash.Add(static_cast<std::int32_t>(m->kind));
        materialHash.Add(static_cast<std::uint8_t>(m->hasTexture));
        materialHash.Bytes(m->sssTable.data(), sizeof(float) * m->sssTable.size());
        materialHash.Add(m->ks);
        materialHash.Add(m->refraction);
        materialHash.Add(m->ke);
        materialHash.Add(m->sigmaS);
        materialHash.Add(m->sigmaA);
        const DiffuseLayer* layer = m->diffuse.get();
        materialHash.Add(static_cast<std::uint8_t>(layer != nullptr));
        if (layer != nullptr) {
            materialHash.Add(layer->kd);
            materialHash.Add(static_cast<std::uint8_t>(layer->hasMap));
            materialHash.Add(static_cast<std::uint8_t>(layer->hasBump));
            for (const FloatPlane* plane : {layer->mapR, layer->mapG, layer->mapB, layer->bump}) {
                AddPlane(mapHash, plane);
            }
        }
    }
    fingerprint.items.push_back({"the materials", materialHash.Digest()});
    fingerprint.items.push_back({"the texture and bump maps", mapHash.Digest()});
    return fingerprint;
}

Fingerprint CameraFingerprint(const Camera& c) {
    Fingerprint fingerprint;
    Hasher camera;
    for (Vec3 v : {c.position, c.lookAt, c.up, c.ex, c.ey, c.ez}) {
        camera.Add(v);
    }
    camera.Add(c.focus);
    fingerprint.items.push_back({"the camera", camera.Digest()});
    return fingerprint;
}

Fingerprint ProbeFingerprint() {
    Fingerprint fingerprint;
    fingerprint.items.push_back({"the probe image", FileHash(kProbeImagePath)});
    fingerprint.items.push_back({"the probe's light list", FileHash(kProbeLightsPath)});
    return fingerprint;
}

std::string EncodeFingerprint(const Fingerprint& fingerprint) {
    std::string text;
    for (const Fingerprint::Item& item : fingerprint.items) {
        text += item.label + '\t' + std::to_string(item.hash) + '\n';
    }
    return text;
}

Fingerprint DecodeFingerprint(const std::string& text) {
    Fingerprint fingerprint;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t tab = text.find('\t', at);
        std::size_t end = text.find('\n', at);
        if (tab == std::string::npos || end == std::string::npos || tab > end) {
            break;
        }
        fingerprint.items.push_back(
            {text.substr(at, tab - at), std::strtoull(text.c_str() + tab + 1, nullptr, 10)});
        at = end + 1;
    }
    return fingerprint;
}

std::string DescribeDifferences(const Fingerprint& saved, const Fingerprint& current) {
    std::string text;
    auto add = [&](const std::string& label) { text += (text.empty() ? "" : ", ") + label; };
    for (const Fingerprint::Item& item : current.items) {
        bool same = false;
        bool known = false;
        for (const Fingerprint::Item& old : saved.items) {
            if (old.label == item.label) {
                known = true;
                same = old.hash == item.hash;
            }
        }
        if (!known || !same) {
            add(item.label);
        }
    }
    for (const Fingerprint::Item& old : saved.items) {
        bool present = false;
        for (const Fingerprint::Item& item : current.items) {
            present = present || item.label == old.label;
        }
        if (!present) {
            add(old.label);
        }
    }
    return text;
}

Status WriteCheckpoint(const std::string& path, const Checkpoint& checkpoint) {
    if (checkpoint.schedule.passCounter > kMaxCheckpointPass) {
        return Status::Error(path + ": a render of more than " +
                             std::to_string(kMaxCheckpointPass) +
                             " passes cannot be saved to continue later");
    }
    ByteWriter out;
    out.bytes.append(kMagic, sizeof kMagic);
    out.Put(kCheckpointVersion);
    out.Put(std::uint32_t{0});
    std::size_t lengthAt = out.bytes.size();
    out.Put(std::uint64_t{0});  // payload length, filled in below

    out.Put(static_cast<std::uint8_t>(checkpoint.exact ? 1 : 0));
    out.Put(static_cast<std::int32_t>(checkpoint.width));
    out.Put(static_cast<std::int32_t>(checkpoint.height));
    out.Put(static_cast<std::int32_t>(checkpoint.schedule.passCounter));
    out.Put(checkpoint.schedule.offsetX);
    out.Put(checkpoint.schedule.offsetY);
    out.Put(static_cast<std::uint32_t>(checkpoint.fingerprint.items.size()));
    for (const Fingerprint::Item& item : checkpoint.fingerprint.items) {
        out.PutText(item.label);
        out.Put(item.hash);
    }
    if (checkpoint.exact) {
        for (std::uint32_t word : checkpoint.random) {
            out.Put(word);
        }
        out.Put(checkpoint.queryCounter);
        out.PutArray(checkpoint.stamps);
        out.PutArray(checkpoint.floatSums);
    } else {
        out.PutArray(checkpoint.fixedSums);
    }
    std::uint64_t payload = out.bytes.size() - lengthAt - 8;
    for (int i = 0; i < 8; ++i) {
        out.bytes[lengthAt + static_cast<std::size_t>(i)] = static_cast<char>(payload >> (8 * i));
    }
    out.Put(static_cast<std::uint64_t>(XXH3_64bits(out.bytes.data(), out.bytes.size())));
    return WriteFileAtomically(path, out.bytes);
}

Status ReadCheckpoint(const std::string& path, std::uint64_t maxBytes, Checkpoint& checkpoint) {
    auto fail = [&](const std::string& why) { return Status::Error(path + ": " + why); };
    RegularFile file;
    if (!file.Open(path)) {
        bool missing = !file.WasNotRegular() && file.Why() == std::strerror(ENOENT);
        return fail(missing ? "there is no checkpoint" : file.Why());
    }
    if (static_cast<std::uint64_t>(file.Size()) > maxBytes) {
        return fail("too large to be a checkpoint of this scene");
    }
    std::string bytes(static_cast<std::size_t>(file.Size()), '\0');
    if (std::fread(bytes.data(), 1, bytes.size(), file.Stream()) != bytes.size()) {
        return fail("read error");
    }
    if (bytes.size() < 32 || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) {
        return fail("not a checkpoint");
    }
    ByteReader head(bytes.data() + 8, 16);
    std::uint32_t version = 0;
    std::uint32_t reserved = 0;
    std::uint64_t payload = 0;
    head.Get(version);
    head.Get(reserved);
    head.Get(payload);
    if (version != kCheckpointVersion) {
        return fail("a checkpoint of version " + std::to_string(version) +
                    ", which this program cannot read (it reads version " +
                    std::to_string(kCheckpointVersion) + ")");
    }
    if (payload != bytes.size() - 32) {
        return fail("damaged (its length does not match; the file may be cut short)");
    }
    std::uint64_t stored = 0;
    ByteReader tail(bytes.data() + bytes.size() - 8, 8);
    tail.Get(stored);
    if (stored != XXH3_64bits(bytes.data(), bytes.size() - 8)) {
        return fail("damaged (its checksum does not match)");
    }

    ByteReader in(bytes.data() + 24, bytes.size() - 32);
    std::uint8_t exact = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint32_t items = 0;
    bool ok = in.Get(exact) && in.Get(width) && in.Get(height) &&
              in.Get(checkpoint.schedule.passCounter) && in.Get(checkpoint.schedule.offsetX) &&
              in.Get(checkpoint.schedule.offsetY) && in.Get(items);
    if (!ok || exact > 1 || width < 1 || height < 1 || checkpoint.schedule.passCounter < 1 ||
        checkpoint.schedule.passCounter > kMaxCheckpointPass || items > 1024) {
        return fail("damaged (impossible values in its header)");
    }
    // The stratum offsets follow from the pass number; a pair that does not
    // was not written by a render.
    const PassSchedule::State expected = PassSchedule::StateAtPass(checkpoint.schedule.passCounter);
    if (!(checkpoint.schedule.offsetX == expected.offsetX &&
          checkpoint.schedule.offsetY == expected.offsetY)) {
        return fail("damaged (its pass and stratum do not match)");
    }
    checkpoint.exact = exact == 1;
    checkpoint.width = width;
    checkpoint.height = height;
    checkpoint.fingerprint.items.resize(items);
    for (Fingerprint::Item& item : checkpoint.fingerprint.items) {
        if (!in.GetText(item.label) || !in.Get(item.hash)) {
            return fail("damaged (its fingerprint is cut short)");
        }
    }
    const std::uint64_t values = 3 * std::uint64_t(width) * std::uint64_t(height);
    if (checkpoint.exact) {
        for (std::uint32_t& word : checkpoint.random) {
            ok = ok && in.Get(word);
        }
        std::uint64_t stampCount = 0;
        ok = ok && in.Get(checkpoint.queryCounter);
        // The stamp count is whatever the file says, bounded by its size.
        ByteReader peek = in;
        ok = ok && peek.Get(stampCount) && in.GetArray(checkpoint.stampStore, stampCount) &&
             in.GetArray(checkpoint.floatStore, values);
    } else {
        ok = in.GetArray(checkpoint.fixedStore, values);
    }
    if (!ok || !in.AtEnd()) {
        return fail("damaged (its sums do not match its image size)");
    }
    checkpoint.stamps = checkpoint.stampStore;
    checkpoint.floatSums = checkpoint.floatStore;
    checkpoint.fixedSums = checkpoint.fixedStore;
    return Status::Ok();
}

}  // namespace lumeno
