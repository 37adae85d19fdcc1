#include "scene/paths.h"

#include <sys/stat.h>

#include <algorithm>

namespace lumeno {

std::string DirectoryOf(std::string_view fileName) {
    std::size_t last = fileName.find_last_of("/\\");
    if (last == std::string_view::npos) {
        return {};
    }
    if (last == 0) {
        return "/";  // a file in the root directory
    }
    return std::string(fileName.substr(0, last));
}

std::string ResolvePath(std::string_view directory, std::string_view fileName) {
    if (directory.empty() || (!fileName.empty() && fileName.front() == '/')) {
        return std::string(fileName);
    }
    std::string path(directory);
    if (path.back() != '/') {
        path += '/';
    }
    path += fileName;
    return path;
}

std::string LocatePath(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 || path.find('\\') == std::string::npos) {
        return path;
    }
    std::string converted = path;
    std::replace(converted.begin(), converted.end(), '\\', '/');
    return converted;
}

}  // namespace lumeno
