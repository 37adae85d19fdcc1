#include "base/pfm_file.h"

#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "base/file_io.h"

namespace lumeno {
namespace {

void StoreLittleEndian(float value, unsigned char* out) {
    std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
    out[0] = static_cast<unsigned char>(bits);
    out[1] = static_cast<unsigned char>(bits >> 8);
    out[2] = static_cast<unsigned char>(bits >> 16);
    out[3] = static_cast<unsigned char>(bits >> 24);
}

float LoadFloat(const unsigned char* bytes, bool bigEndian) {
    std::uint32_t bits = 0;
    for (int i = 0; i < 4; ++i) {
        bits = (bits << 8) | bytes[bigEndian ? i : 3 - i];
    }
    return std::bit_cast<float>(bits);
}

bool IsHeaderSpace(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Header tokens are short; anything longer is not a PFM header.
constexpr std::size_t kMaxHeaderToken = 64;

}  // namespace

std::string ReadHeaderToken(std::FILE* file, std::size_t maxLength) {
    int c = std::fgetc(file);
    while (c != EOF && IsHeaderSpace(c)) {
        c = std::fgetc(file);
    }
    std::string token;
    while (c != EOF && !IsHeaderSpace(c)) {
        if (token.size() >= maxLength) {
            return {};
        }
        token += static_cast<char>(c);
        c = std::fgetc(file);
    }
    if (c != EOF) {
        std::ungetc(c, file);
    }
    return token;
}

std::int64_t ParseImageSide(const std::string& token) {
    if (token.empty() || token.size() > 9) {
        return -1;
    }
    std::int64_t value = 0;
    for (char c : token) {
        if (c < '0' || c > '9') {
            return -1;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

Status WritePfm(const std::string& path, const FloatPlane& red, const FloatPlane& green,
                const FloatPlane& blue, float n) {
    int width = red.width;
    int height = red.height;
    if (width <= 0 || height <= 0 || green.width < width || green.height < height ||
        blue.width < width || blue.height < height) {
        return Status::Error("cannot write " + path + ": the image is empty");
    }
    AtomicFile file;
    if (Status opened = file.Open(path); !opened) {
        return opened;
    }
    std::FILE* out = file.Stream();
    bool ok = std::fprintf(out, "PF\n%d\n%d\n-1.000000\n", width, height) > 0;
    float r = 1.0f / n;
    std::vector<unsigned char> row(static_cast<std::size_t>(width) * 12);
    for (int i = height - 1; ok && i >= 0; --i) {
        const float* rr = red.Row(i);
        const float* gg = green.Row(i);
        const float* bb = blue.Row(i);
        unsigned char* p = row.data();
        for (int j = 0; j < width; ++j, p += 12) {
            StoreLittleEndian(r * rr[j], p);
            StoreLittleEndian(r * gg[j], p + 4);
            StoreLittleEndian(r * bb[j], p + 8);
        }
        ok = std::fwrite(row.data(), 1, row.size(), out) == row.size();
    }
    if (!ok) {
        int error = errno;
        return Status::Error("cannot write " + path + ": " + std::strerror(error));
    }
    return file.Commit();
}

Status ReadPfm(const std::string& path, const PfmLimits& limits,
               const std::function<bool(int width, int height)>& start,
               const std::function<void(int y, const float* rgb)>& row) {
    auto fail = [&](const std::string& why) { return Status::Error(path + ": " + why); };
    RegularFile opened;
    if (!opened.Open(path)) {
        return fail(opened.WasNotRegular() ? opened.Why()
                                           : "cannot open the file: " + opened.Why());
    }
    std::FILE* const file = opened.Stream();
    const std::int64_t fileSize = opened.Size();
    std::string identifier = ReadHeaderToken(file, kMaxHeaderToken);
    int channels = identifier == "PF" ? 3 : (identifier == "Pf" ? 1 : 0);
    if (channels == 0) {
        return fail("not a PFM file: it must start with \"PF\" or \"Pf\"");
    }
    std::int64_t width = ParseImageSide(ReadHeaderToken(file, kMaxHeaderToken));
    std::int64_t height = ParseImageSide(ReadHeaderToken(file, kMaxHeaderToken));
    if (width < 0 || height < 0) {
        return fail("malformed header: the width and height must be decimal numbers without sign");
    }
    if (width < 1 || height < 1 || width > limits.maxSide || height > limits.maxSide ||
        width * height > limits.maxPixels) {
        return fail("the image size " + std::to_string(width) + " x " + std::to_string(height) +
                    " is not supported (at most " + std::to_string(limits.maxSide) +
                    " per side and " + std::to_string(limits.maxPixels) + " pixels)");
    }
    std::string scaleText = ReadHeaderToken(file, kMaxHeaderToken);
    if (scaleText.empty()) {
        return fail("malformed header: no scale after the size");
    }
    if (!IsHeaderSpace(std::fgetc(file))) {
        return fail("malformed header: no white space after the scale");
    }
    // The scale's magnitude means nothing; a positive one marks big-endian
    // data, a negative one (the usual "-1.000000") little-endian. Read
    // without the process's locale, which may want a decimal comma.
    const char* first = scaleText.data();
    const char* const last = first + scaleText.size();
    if (*first == '+') {
        ++first;
    }
    double scale = 0.0;
    auto [stop, error] = std::from_chars(first, last, scale);
    const bool number =
        error == std::errc{} && stop == last && std::isfinite(scale) && scale != 0.0;
    if (!number && limits.requireScale) {
        return fail("malformed header: the scale must be a non-zero number");
    }
    const bool bigEndian = number && scale > 0.0;
    long offset = std::ftell(file);
    std::int64_t rowBytes = width * channels * 4;
    if (offset < 0 || fileSize - offset < rowBytes * height) {
        return fail("the file is shorter than its header announces (" +
                    std::to_string(rowBytes * height) + " bytes of pixels expected, " +
                    std::to_string(offset < 0 ? 0 : fileSize - offset) + " present)");
    }
    if (!start(static_cast<int>(width), static_cast<int>(height))) {
        return fail("not enough memory for a " + std::to_string(width) + " x " +
                    std::to_string(height) + " image");
    }
    std::vector<unsigned char> bytes(static_cast<std::size_t>(rowBytes));
    std::vector<float> rgb(static_cast<std::size_t>(width) * 3);
    for (std::int64_t i = 0; i < height; ++i) {
        if (std::fread(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
            return fail("read error");
        }
        const unsigned char* in = bytes.data();
        float* out = rgb.data();
        for (std::int64_t j = 0; j < width; ++j, in += 4 * channels, out += 3) {
            float r = LoadFloat(in, bigEndian);
            out[0] = r;
            out[1] = channels == 3 ? LoadFloat(in + 4, bigEndian) : r;
            out[2] = channels == 3 ? LoadFloat(in + 8, bigEndian) : r;
        }
        // The first stored row is the bottom of the image.
        row(static_cast<int>(height - 1 - i), rgb.data());
    }
    return Status::Ok();
}

}  // namespace lumeno
