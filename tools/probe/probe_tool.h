// lumeno-probe: turns an environment (an equirectangular or angular-map HDR
// image, or the built-in sky) into the renderer's light probe, the angular map
// "grace_probe.pfm" and the light list "grace.txt".
//
// Exposure: the renderer divides environment values by 255 and its display
// curve turns a mean radiance of about 0.025 (a file value of about 6.5) into
// white. The map therefore holds the source's radiance times an exposure
// factor chosen so that the environment's mean luminance over the sphere is
// kTargetMeanLuminance in file values: a white diffuse surface under it shows
// mid-grey. An explicit exposure replaces that choice.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>

#include "light/light_probe.h"
#include "probe/environment.h"

namespace lumeno::probe {

inline constexpr int kDefaultMapSize = 512;
inline constexpr int kMinMapSize = 16;
inline constexpr int kMaxMapSize = 4096;
inline constexpr int kDefaultLightCount = 64;
// The renderer's selection table cannot give more lights than this a share.
inline constexpr int kMaxLightCount = LightProbe::kMaxLights;
inline constexpr double kTargetMeanLuminance = 3.0;

struct ProbeOptions {
    std::string input;  // empty with useSky
    bool useSky = false;
    SkyParameters sky;
    std::string outputDirectory;
    std::optional<int> size;  // default: an angular-map input's own size, else 512
    int lightCount = kDefaultLightCount;
    std::optional<double> exposure;
};

// Builds the probe and writes its files. Reports progress and warnings on
// diagnostics and a one-line summary on report; returns false with the reason
// in error, leaving the output directory as it was.
bool RunProbeTool(const ProbeOptions& options, std::ostream& report, std::ostream& diagnostics,
                  std::string& error);

}  // namespace lumeno::probe
