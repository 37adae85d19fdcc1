#include "probe/probe_tool.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <ostream>

#include "probe/median_cut.h"
#include "probe/probe_files.h"

namespace lumeno::probe {
namespace {

// Images at least this large report their progress.
constexpr std::int64_t kLargeSourcePixels = std::int64_t{2048} * 2048;
constexpr int kLargeMapSize = 1024;
constexpr std::uintmax_t kLargeFileBytes = std::uintmax_t{64} << 20;

std::string SizeText(int width, int height) {
    return std::to_string(width) + " × " + std::to_string(height);
}

// A progress line that rewrites itself on a terminal and prints every tenth
// otherwise.
ProgressCallback MakeProgress(std::ostream& out, std::string label) {
    bool terminal = isatty(STDERR_FILENO) != 0;
    auto lastTenth = std::make_shared<int>(-1);
    return [&out, label = std::move(label), terminal, lastTenth](double fraction) {
        int percent = static_cast<int>(fraction * 100.0);
        if (terminal) {
            out << "\rlumeno-probe: " << label << ": " << percent << "%"
                << (fraction >= 1.0 ? "\n" : "") << std::flush;
        } else if (percent / 10 != *lastTenth) {
            *lastTenth = percent / 10;
            out << "lumeno-probe: " << label << ": " << percent << "%\n" << std::flush;
        }
    };
}

bool Refuse(std::string& error, std::string message) {
    error = std::move(message);
    return false;
}

}  // namespace

bool RunProbeTool(const ProbeOptions& options, std::ostream& report, std::ostream& diagnostics,
                  std::string& error) {
    if (options.useSky == !options.input.empty()) {
        return Refuse(error, "give either an input image or --sky");
    }
    if (options.outputDirectory.empty()) {
        return Refuse(error, "no output directory given (-o DIR)");
    }
    if (options.size && (*options.size < kMinMapSize || *options.size > kMaxMapSize)) {
        return Refuse(error, "the map size must lie between " + std::to_string(kMinMapSize) +
                                 " and " + std::to_string(kMaxMapSize));
    }
    if (options.lightCount < 1 || options.lightCount > kMaxLightCount) {
        return Refuse(
            error, "the number of lights must lie between 1 and " + std::to_string(kMaxLightCount));
    }
    if (options.exposure && !(std::isfinite(*options.exposure) && *options.exposure > 0.0)) {
        return Refuse(error, "the exposure must be a positive number");
    }

    HdrImage map;
    try {
        int size = options.size.value_or(kDefaultMapSize);
        std::unique_ptr<Environment> environment;
        std::string label;
        bool largeSource = false;
        if (options.useSky) {
            environment = std::make_unique<SkyEnvironment>(options.sky);
            label = "sky";
        } else {
            std::error_code code;
            if (std::filesystem::file_size(options.input, code) >= kLargeFileBytes && !code) {
                diagnostics << "lumeno-probe: reading " << options.input << "\n" << std::flush;
            }
            HdrImage source;
            if (!ReadHdrImage(options.input, source, error)) {
                return false;
            }
            if (std::int64_t negative = ClampNegative(source); negative > 0) {
                diagnostics << "lumeno-probe: warning: " << options.input << ": " << negative
                            << " negative values read as 0\n";
            }
            label = options.input + " (" + SizeText(source.width, source.height) + ")";
            largeSource = std::int64_t{source.width} * source.height >= kLargeSourcePixels;
            if (source.width == source.height) {
                // An angular map: taken as it stands unless another size is asked for.
                if (!options.size || *options.size == source.width) {
                    if (source.width < kMinMapSize || source.width > kMaxMapSize) {
                        return Refuse(error, options.input + ": an angular map must be between " +
                                                 std::to_string(kMinMapSize) + " and " +
                                                 std::to_string(kMaxMapSize) +
                                                 " pixels wide to be used as it stands; give "
                                                 "--size to resample it");
                    }
                    map = std::move(source);
                } else {
                    environment = std::make_unique<AngularMapEnvironment>(std::move(source));
                }
            } else if (source.width == 2 * source.height) {
                environment = std::make_unique<EquirectEnvironment>(std::move(source));
            } else {
                return Refuse(error, options.input + ": cannot tell the layout of a " +
                                         SizeText(source.width, source.height) +
                                         " image: an equirectangular image is twice as wide as "
                                         "high, an angular map square");
            }
        }
        if (environment) {
            ProgressCallback progress;
            if (size >= kLargeMapSize || largeSource) {
                progress = MakeProgress(diagnostics,
                                        "resampling " + label + " into " + SizeText(size, size));
            }
            if (!RenderAngularMap(*environment, size, map, 4, progress)) {
                return Refuse(error, "not enough memory for a " + SizeText(size, size) + " map");
            }
        }
    } catch (const std::bad_alloc&) {
        return Refuse(error, "not enough memory");
    }

    double mean = MeanLuminance(map);
    if (!(mean > 0.0) || !std::isfinite(mean)) {
        return Refuse(error, "the environment is black: it has nothing to light a scene with");
    }
    double exposure = options.exposure.value_or(kTargetMeanLuminance / mean);
    for (float& v : map.rgb) {
        v = static_cast<float>(v * exposure);
        if (!std::isfinite(v)) {
            return Refuse(error, "the exposure makes the environment overflow single precision");
        }
    }

    std::vector<ProbeLightRecord> lights = MedianCutLights(map, options.lightCount);
    if (lights.empty()) {
        return Refuse(error, "the environment is black after exposure: no lights can be made");
    }
    // The renderer reads the colours as floats and adds them all up in float;
    // a list whose sum overflows would give it no lights at all.
    float colourSum = 0.0f;
    for (const ProbeLightRecord& light : lights) {
        colourSum += static_cast<float>(light.colour[2]) + static_cast<float>(light.colour[1]) +
                     static_cast<float>(light.colour[0]);
    }
    if (!std::isfinite(colourSum)) {
        return Refuse(error,
                      "the exposure makes the lights' colours overflow single precision together");
    }
    if (static_cast<int>(lights.size()) < options.lightCount) {
        diagnostics << "lumeno-probe: warning: the environment has light in too few pixels for "
                    << options.lightCount << " lights; writing " << lights.size() << "\n";
    }
    if (!WriteProbeFiles(options.outputDirectory, map, lights, error)) {
        return false;
    }
    namespace fs = std::filesystem;
    char exposureText[64];
    std::snprintf(exposureText, sizeof exposureText, "%.6g", exposure);
    char meanText[64];
    std::snprintf(meanText, sizeof meanText, "%.4g", mean * exposure);
    report << "lumeno-probe: wrote "
           << (fs::path(options.outputDirectory) / kProbeImageName).string() << " ("
           << SizeText(map.width, map.height) << ") and "
           << (fs::path(options.outputDirectory) / kProbeLightsName).string() << " ("
           << lights.size() << " lights); exposure " << exposureText << ", mean luminance "
           << meanText << "\n";
    return true;
}

}  // namespace lumeno::probe
