// The working folder: every file the program reads or writes lies at a fixed
// place relative to it. The desktop application and the command-line renderer
// make the folder current (-C, File → Open), and everything below uses these
// names and nothing else.
#pragma once

#include <string_view>

namespace lumeno {

// The scene description, which names the meshes it places.
inline constexpr const char* kScenePath = "./scene/scene.txt";

// The light probe: an angular-map environment image and its light list,
// written together by the probe tool into kProbeFolder.
inline constexpr const char* kProbeFolder = "./ibl";
inline constexpr const char* kProbeImageName = "grace_probe.pfm";
inline constexpr const char* kProbeLightsName = "grace.txt";
inline constexpr const char* kProbeImagePath = "./ibl/grace_probe.pfm";
inline constexpr const char* kProbeLightsPath = "./ibl/grace.txt";

// Everything the program writes: the running mean as
// "path_trace_<n>.pfm" (or .exr), the saved viewpoint and the checkpoint.
inline constexpr const char* kOutputFolder = "./out";
inline constexpr const char* kViewpointPath = "./out/view.txt";
// The render saved so that it can go on later.
inline constexpr const char* kCheckpointPath = "./out/render.checkpoint";

// Whether name (without folder) is one the program writes into kOutputFolder.
inline bool IsOutputFileName(std::string_view name) {
    if (name == "view.txt" || name == "render.checkpoint") {
        return true;
    }
    constexpr std::string_view prefix = "path_trace_";
    for (std::string_view suffix : {std::string_view(".pfm"), std::string_view(".exr")}) {
        if (name.size() > prefix.size() + suffix.size() && name.starts_with(prefix) &&
            name.ends_with(suffix)) {
            std::string_view digits =
                name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
            return digits.find_first_not_of("0123456789") == std::string_view::npos;
        }
    }
    return false;
}

}  // namespace lumeno
