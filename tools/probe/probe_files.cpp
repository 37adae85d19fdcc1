#include "probe/probe_files.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "render/image_output.h"
#include "scene/float_plane.h"

namespace lumeno::probe {
namespace {

bool WriteText(const std::string& path, const std::string& text, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    int savedErrno = errno;
    if (std::fflush(file) != 0) {
        ok = false;
        savedErrno = errno;
    }
    if (std::fclose(file) != 0) {
        ok = false;
        savedErrno = errno;
    }
    if (!ok) {
        error = "cannot write " + path + ": " + std::strerror(savedErrno);
    }
    return ok;
}

}  // namespace

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
    std::string suffix = ".partial" + std::to_string(getpid());
    std::string imagePath = (fs::path(directory) / kProbeImageName).string();
    std::string lightsPath = (fs::path(directory) / kProbeLightsName).string();
    std::string imageTemporary = imagePath + suffix;
    std::string lightsTemporary = lightsPath + suffix;
    auto cleanUp = [&] {
        std::remove(imageTemporary.c_str());
        std::remove(lightsTemporary.c_str());
    };
    if (!WritePfm(imageTemporary, red, green, blue, 1.0f, &error) ||
        !WriteText(lightsTemporary, FormatLightList(lights, map.width), error)) {
        cleanUp();
        return false;
    }
    if (std::rename(imageTemporary.c_str(), imagePath.c_str()) != 0) {
        error = "cannot replace " + imagePath + ": " + std::strerror(errno);
        cleanUp();
        return false;
    }
    if (std::rename(lightsTemporary.c_str(), lightsPath.c_str()) != 0) {
        error = "cannot replace " + lightsPath + ": " + std::strerror(errno);
        cleanUp();
        return false;
    }
    return true;
}

}  // namespace lumeno::probe
