// Checkpoint: a render saved so that it can go on after the program ends
// (closed window, Ctrl-C, a reboot, a killed process) with the same bits as
// if it had never stopped. The session writes one into "./out" at every
// periodic save and whenever rendering stops.
//
// It holds the sums (their exact bits), the pass schedule, the image size and
// the mode, and for the exact mode the generator, the query counter and the
// triangles' ray stamps. A fingerprint of everything the image depends on
// (the triangles and their materials and maps, the probe's two files, the
// camera, the size, the mode) says whether a checkpoint belongs to the scene
// at hand; when it does not, the differing items are named.
//
// Format: little-endian; the magic "LUMENOCP", a version, the payload's
// length, the payload, and a 64-bit checksum of all that precedes it. Files
// of an unknown version or with a wrong checksum are refused, never read.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/status.h"
#include "render/pass_schedule.h"

namespace lumeno {

struct Camera;
struct Scene;

inline constexpr std::uint32_t kCheckpointVersion = 1;

// Named hashes of what an image depends on, in a fixed order.
struct Fingerprint {
    struct Item {
        std::string label;  // "triangles", "material lacquer", "map wood.bmp", ...
        std::uint64_t hash = 0;
        bool operator==(const Item&) const = default;
    };
    std::vector<Item> items;
    bool operator==(const Fingerprint&) const = default;
};

// The scene's part of the fingerprint: the hittable triangles, and each
// material and map they use. Costly for large scenes (it reads every
// triangle): computed once per scene.
Fingerprint GeometryFingerprint(const Scene& scene);
// The camera: position, look-at point, up, basis and focus.
Fingerprint CameraFingerprint(const Camera& camera);
// The probe's files, "./ibl/grace_probe.pfm" and "./ibl/grace.txt", as they
// are on disk (a missing file has a hash of its own).
Fingerprint ProbeFingerprint();

// A fingerprint as text ("label\thash\n" per item) and back, to send it to
// another process.
std::string EncodeFingerprint(const Fingerprint& fingerprint);
Fingerprint DecodeFingerprint(const std::string& text);

// Which items differ, in words ("the triangles", "the camera", "map
// wood.bmp"); empty when they agree.
std::string DescribeDifferences(const Fingerprint& saved, const Fingerprint& current);

// The most passes a checkpoint may hold: far beyond any real render, and
// small enough that resuming can check the schedule's state by replaying it.
inline constexpr int kMaxCheckpointPass = 1 << 24;

// A checkpoint's content. When writing, the spans refer to the session's own
// state; when reading, they refer into the vectors below them.
struct Checkpoint {
    bool exact = false;
    int width = 0;
    int height = 0;
    PassSchedule::State schedule;
    Fingerprint fingerprint;
    // Exact mode only.
    std::uint32_t random[4] = {};
    std::int32_t queryCounter = 0;
    std::span<const std::uint16_t> stamps;
    // Float sums (exact: red plane, green plane, blue plane) or fixed ones
    // (parallel: red, green, blue per pixel).
    std::span<const float> floatSums;
    std::span<const std::int64_t> fixedSums;

    std::vector<std::uint16_t> stampStore;
    std::vector<float> floatStore;
    std::vector<std::int64_t> fixedStore;
};

Status WriteCheckpoint(const std::string& path, const Checkpoint& checkpoint);

// Reads and verifies a checkpoint. maxBytes bounds what is read (the size a
// checkpoint of the scene at hand can have), so a foreign file never costs
// more memory than the render itself.
Status ReadCheckpoint(const std::string& path, std::uint64_t maxBytes, Checkpoint& checkpoint);

}  // namespace lumeno
