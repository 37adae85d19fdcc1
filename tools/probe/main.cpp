// lumeno-probe: makes the renderer's light probe from an HDR environment image
// or the built-in sky. See probe_tool.h for the conventions.
#include <CLI/CLI.hpp>

#include <iostream>
#include <string>

#include "probe/probe_tool.h"

int main(int argc, char** argv) {
    using namespace lumeno::probe;
    ProbeOptions options;
    CLI::App app{
        "Makes the renderer's light probe, DIR/grace_probe.pfm (an angular map) and DIR/grace.txt "
        "(median-cut directional lights), from an environment image or a built-in sky.\n\n"
        "INPUT is an equirectangular (latitude-longitude) image, twice as wide as high, in "
        "Radiance .hdr, OpenEXR .exr or PFM; or a square angular map, used as it stands unless "
        "--size asks for another size. The image's top row is overhead, its middle row the "
        "horizon, and its middle column faces forward: the scene's +z, where the default "
        "camera looks (OBJ -z).",
        "lumeno-probe"};
    app.add_option("INPUT", options.input, "environment image (.hdr, .exr or .pfm)");
    auto* sky = app.add_flag("--sky", options.useSky,
                             "use the built-in sky (gradient, ground, sun disk) instead of INPUT");
    app.get_option("INPUT")->excludes(sky);
    app.add_option("-o,--output", options.outputDirectory,
                   "directory for grace_probe.pfm and grace.txt (created when missing)")
        ->required();
    app.add_option("--size", options.size,
                   "side of the angular map in pixels (default 512, or an angular map's own)")
        ->check(CLI::Range(kMinMapSize, kMaxMapSize));
    app.add_option("--lights", options.lightCount, "number of lights")
        ->default_val(kDefaultLightCount)
        ->check(CLI::Range(1, kMaxLightCount));
    app.add_option("--exposure", options.exposure,
                   "factor from source radiance to map values (default: the one that makes the "
                   "mean luminance over the sphere 3)")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                double value = 0.0;
                if (CLI::detail::lexical_cast(text, value) && value > 0.0) {
                    return {};
                }
                return "must be a number above 0, not " + text;
            },
            "POSITIVE"));
    app.add_option("--sun-elevation", options.sky.sunElevation,
                   "with --sky: the sun's height above the horizon in degrees")
        ->default_val(options.sky.sunElevation)
        ->check(CLI::Range(-90.0, 90.0));
    app.add_option("--sun-azimuth", options.sky.sunAzimuth,
                   "with --sky: the sun's direction in degrees from forward, turning right")
        ->default_val(options.sky.sunAzimuth)
        ->check(CLI::Range(-360.0, 360.0));

    CLI11_PARSE(app, argc, argv);
    if (!options.useSky && options.input.empty()) {
        std::cerr << "lumeno-probe: give an input image or --sky (see --help)\n";
        return 2;
    }
    std::string error;
    if (!RunProbeTool(options, std::cout, std::cerr, error)) {
        std::cerr << "lumeno-probe: " << error << "\n";
        return 1;
    }
    return 0;
}
