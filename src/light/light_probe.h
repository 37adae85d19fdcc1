// LightProbe: the scene's only source of light. An environment image in the
// angular-map layout answers rays that leave the scene (LookupEnvironment),
// and a list of directional lights standing for the same environment is
// sampled once per shading point (PickProbeLight), each light chosen with a
// probability proportional to its colour sum through a 10000-entry table.
//
// Files: the image is a PFM ("PF", width, height, scale, then rows of
// red-green-blue floats, bottom row first); the light list is text: a count
// and one ignored integer, then per light nine numbers: direction x y z,
// three ignored numbers, colour r g b.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/float_plane.h"
#include "light/random.h"
#include "scene/diagnostics.h"
#include "scene/vec3.h"

namespace lumeno {

struct ProbeLight {
    Vec3 direction;  // toward the light, the file's (x, −y, −z); not normalized
    Vec3 colour;
    float probability = 0.0f;  // colour sum over the sum of all colour sums
};

// One light pick: the light's direction and colour and the estimator weight
// 1 / (n · p). With no lights, all three are zero.
struct ProbeLightSample {
    Vec3 direction;
    Vec3 colour;
    float weight = 0.0f;
};

class LightProbe {
  public:
    static constexpr int kTableSize = 10000;
    // The most lights that can all own an entry of the table: what the probe
    // tool writes at most. Longer lists are read too; their later lights
    // get no entry.
    static constexpr int kMaxLights = kTableSize;
    // Largest environment image side accepted.
    static constexpr int kMaxImageSide = 16384;

    // Reads the environment image. On any failure (missing, malformed or
    // short file, impossible size) the probe's image is left empty, so the
    // environment is black, and a diagnostic says why.
    bool LoadProbeImage(const std::string& path, Diagnostics& diagnostics);

    // Reads the light list and builds the selection table. Numbers are read
    // as a stream extracts them (StreamScanner): the end of the file or the
    // first number that cannot be read ends the list, and the complete
    // records before it are kept. A missing file or one that is not a
    // regular file, an empty list or one whose colours sum to 0 (or to no
    // finite number) leaves no lights.
    bool LoadProbeLights(const std::string& path, Diagnostics& diagnostics);

    // Radiance arriving from direction d: the image value there divided by 255.
    // Hot path: samples all three planes in one pass and allocates nothing.
    Vec3 LookupEnvironment(Vec3 d) const;

    // Consumes one draw, always (so the sequence of draws does not depend on
    // the light list).
    ProbeLightSample PickProbeLight(Random& random) const;

    int LightCount() const { return static_cast<int>(lights.size()); }

    FloatPlane red;
    FloatPlane green;
    FloatPlane blue;
    int width = 0;
    int height = 0;
    std::vector<ProbeLight> lights;
    std::vector<std::uint16_t> selectionTable;
    int tableSize = 0;

  private:
    void ClearImage();
    void ClearLights();
};

// Cubic convolution (a = −1) of a plane at (x, y), indices reflected at the
// borders, without normalization by the weights. Coordinates are clamped into
// the plane and indices never leave it, whatever its size.
float SampleBicubic(const FloatPlane& plane, float x, float y);

// The same for three planes of one size at once (the probe's red, green and
// blue): weights and indices are found once, and each channel gets exactly
// the bits the one-plane sampler gives it.
Vec3 SampleBicubic(const FloatPlane& red, const FloatPlane& green, const FloatPlane& blue, float x,
                   float y);

}  // namespace lumeno
