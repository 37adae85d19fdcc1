#include "render/viewpoint_file.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include "base/file_io.h"
#include "scene/number_parse.h"
#include "scene/paths.h"

namespace lumeno {

namespace {

constexpr int kVectorCount = 5;
constexpr const char* kKeys[kVectorCount] = {"camera_pos", "camera_ex", "camera_ey", "camera_ez",
                                             "look_at"};
const char* const kVectorNames[kVectorCount] = {"camera position", "right axis ex", "down axis ey",
                                                "view axis ez", "look-at point"};

void AppendNumber(std::string& text, float value) {
    char buffer[32];
    // A negative zero (common in a basis derived from the scene file) is
    // written "-0", as the stream text form has it, and reads back as −0.
    // Every written file must read back: a look-at point one unit ahead of
    // an eye near the float limit overflows to infinity, and no reader takes
    // "inf" or "nan". Such values are written as the nearest readable one,
    // the largest float (whose 6-digit text, 3.40282e+38, stays in range),
    // and NaN, which has none, as 0.
    if (std::isnan(value)) {
        value = 0.0f;
    } else if (std::isinf(value)) {
        value = std::copysign(std::numeric_limits<float>::max(), value);
    }
    // to_chars with a precision formats as printf's "%.6g" in the "C"
    // locale, whatever locale the program runs under.
    auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 6);
    text.append(buffer, result.ptr);
}

void AppendLine(std::string& text, const char* key, Vec3 v) {
    text += key;
    text += ' ';
    AppendNumber(text, v.x);
    text += ' ';
    AppendNumber(text, v.y);
    text += ' ';
    AppendNumber(text, v.z);
    text += '\n';
}

}  // namespace

std::string FormatViewpoint(const Camera& camera) {
    std::string text;
    AppendLine(text, kKeys[0], camera.position);
    AppendLine(text, kKeys[1], camera.ex);
    AppendLine(text, kKeys[2], camera.ey);
    AppendLine(text, kKeys[3], camera.ez);
    // The point one unit ahead of the eye, not the lookAt the scene file set.
    AppendLine(text, kKeys[4], camera.position + camera.ez);
    return text;
}

Status SaveViewpoint(const Camera& camera, const std::string& path) {
    if (Status folder = EnsureFolder(DirectoryOf(path)); !folder) {
        return folder;
    }
    return WriteFileAtomically(path, FormatViewpoint(camera));
}

ViewpointLoadResult LoadViewpoint(Camera& camera, const std::string& path) {
    ViewpointLoadResult result;
    RegularFile file;
    if (!file.Open(path)) {
        result.error = "cannot open " + path + ": " + file.Why();
        return result;
    }
    result.opened = true;
    Vec3* targets[kVectorCount] = {&camera.position, &camera.ex, &camera.ey, &camera.ez,
                                   &camera.lookAt};
    StreamScanner reader(file.Stream(), file.Size());
    for (int i = 0; i < kVectorCount; ++i) {
        if (!reader.SkipWord()) {
            result.error = path + ": the file ends after " + std::to_string(i) + " of " +
                           std::to_string(kVectorCount) + " entries";
            return result;
        }
        float values[3] = {};
        for (float& value : values) {
            StreamScanner::Result read = reader.ReadFloat(value);
            if (read != StreamScanner::Result::kValue) {
                bool atEnd = read == StreamScanner::Result::kEnd;
                result.error =
                    path + ": " + (atEnd ? "the file ends inside" : "an unreadable number in") +
                    " the entry for the " + kVectorNames[i] + " (" + std::to_string(i + 1) +
                    " of " + std::to_string(kVectorCount) + "); reading stopped there";
                return result;
            }
        }
        *targets[i] = {values[0], values[1], values[2]};
        result.vectorsRead = i + 1;
    }
    return result;
}

}  // namespace lumeno
