#include "render/viewpoint_file.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include "base/file_io.h"
#include "scene/paths.h"

namespace lumeno {

namespace {

constexpr int kVectorCount = 5;
constexpr const char* kKeys[kVectorCount] = {"camera_pos", "camera_ex", "camera_ey", "camera_ez",
                                             "look_at"};
const char* const kVectorNames[kVectorCount] = {"camera position", "right axis ex", "down axis ey",
                                                "view axis ez", "look-at point"};

// Longer words cannot be a number written by the viewpoint file (or anyone
// sensible); they are skipped without being stored.
constexpr std::size_t kMaxNumberText = 64;

void AppendNumber(std::string& text, float value) {
    char buffer[32];
    // A basis derived from the scene file often holds negative zeros; they
    // read back the same as 0, so they are written as 0 (adding +0 turns −0
    // into +0 and leaves every other value as it is).
    value = value + 0.0f;
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

std::string ErrnoText(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

bool IsBlank(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Reads blank-delimited words one character at a time, so that a word of
// any length costs no memory beyond kMaxNumberText.
class WordReader {
  public:
    explicit WordReader(std::FILE* file) : file_(file) {}

    // Skips the next word whatever it says. False at the end of the file.
    bool SkipWord() {
        int c = SkipBlanks();
        if (c == EOF) {
            return false;
        }
        while (c != EOF && !IsBlank(c)) {
            c = std::getc(file_);
        }
        return true;
    }

    // Reads the next word as a finite 32-bit float. False at the end of the
    // file or when the word is not wholly such a number.
    bool ReadNumber(float& value, bool& atEnd) {
        int c = SkipBlanks();
        atEnd = c == EOF;
        if (atEnd) {
            return false;
        }
        char text[kMaxNumberText + 1];
        std::size_t length = 0;
        bool tooLong = false;
        while (c != EOF && !IsBlank(c)) {
            if (length < kMaxNumberText) {
                text[length++] = static_cast<char>(c);
            } else {
                tooLong = true;
            }
            c = std::getc(file_);
        }
        return !tooLong && ParseNumber(text, text + length, value);
    }

  private:
    int SkipBlanks() {
        int c = std::getc(file_);
        while (c != EOF && IsBlank(c)) {
            c = std::getc(file_);
        }
        return c;
    }

    static bool ParseNumber(const char* first, const char* last, float& value) {
        if (first != last && *first == '+' && last - first > 1 && first[1] != '-') {
            ++first;  // a leading plus sign, as stream input accepts it
        }
        float parsed = 0.0f;
        auto result = std::from_chars(first, last, parsed, std::chars_format::general);
        if (result.ec == std::errc::result_out_of_range) {
            // Too small for a normal float: read as a double, which then
            // rounds to a subnormal or zero. Too large stays unreadable.
            double wide = 0.0;
            result = std::from_chars(first, last, wide, std::chars_format::general);
            if (result.ec != std::errc() ||
                !(std::fabs(wide) <= std::numeric_limits<float>::max())) {
                return false;
            }
            parsed = static_cast<float>(wide);
        }
        if (result.ec != std::errc() || result.ptr != last || !std::isfinite(parsed)) {
            return false;
        }
        value = parsed;
        return true;
    }

    std::FILE* file_;
};

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
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "r"));
    if (file == nullptr) {
        result.error = ErrnoText("cannot open", path);
        return result;
    }
    result.opened = true;
    Vec3* targets[kVectorCount] = {&camera.position, &camera.ex, &camera.ey, &camera.ez,
                                   &camera.lookAt};
    WordReader reader(file.get());
    for (int i = 0; i < kVectorCount; ++i) {
        if (!reader.SkipWord()) {
            result.error = path + ": the file ends after " + std::to_string(i) + " of " +
                           std::to_string(kVectorCount) + " entries";
            return result;
        }
        float values[3] = {};
        for (float& value : values) {
            bool atEnd = false;
            if (!reader.ReadNumber(value, atEnd)) {
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
