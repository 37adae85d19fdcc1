#include "probe/probe_files.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "base/file_io.h"
#include "base/float_plane.h"
#include "base/pfm_file.h"
#include "base/working_folder.h"

namespace lumeno::probe {

bool WriteProbeFiles(const std::string& directory, const HdrImage& map,
                     const std::vector<ProbeLightRecord>& lights, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code code;
    fs::create_directories(directory, code);
    if (code || !fs::is_directory(directory, code)) {
        error = "cannot create the directory " + directory +
                (code ? ": " + code.message() : ": a file of that name is in the way");
        return false;
    }
    FloatPlane red;
    FloatPlane green;
    FloatPlane blue;
    if (!red.Create(map.width, map.height) || !green.Create(map.width, map.height) ||
        !blue.Create(map.width, map.height)) {
        error = "not enough memory for the angular map";
        return false;
    }
    for (int y = 0; y < map.height; ++y) {
        for (int x = 0; x < map.width; ++x) {
            const float* p = map.Pixel(x, y);
            red.At(x, y) = p[0];
            green.At(x, y) = p[1];
            blue.At(x, y) = p[2];
        }
    }
    // Both files are written whole under temporary names before either
    // replaces its predecessor, so a failure leaves the pair as it was.
    std::string imagePath = (fs::path(directory) / kProbeImageName).string();
    std::string lightsPath = (fs::path(directory) / kProbeLightsName).string();
    std::string staged = imagePath + ".staged" + std::to_string(getpid());
    Status written = WritePfm(staged, red, green, blue, 1.0f);
    if (written) {
        written = WriteFileAtomically(lightsPath, FormatLightList(lights, map.width));
    }
    if (written && std::rename(staged.c_str(), imagePath.c_str()) != 0) {
        written = Status::Error("cannot replace " + imagePath + ": " + std::strerror(errno));
    }
    std::remove(staged.c_str());
    if (!written) {
        error = written.Message();
        return false;
    }
    return true;
}

}  // namespace lumeno::probe
