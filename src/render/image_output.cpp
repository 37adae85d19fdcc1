#include "render/image_output.h"

#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace lumeno {
namespace {

void StoreLittleEndian(float value, unsigned char* out) {
    std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
    out[0] = static_cast<unsigned char>(bits);
    out[1] = static_cast<unsigned char>(bits >> 8);
    out[2] = static_cast<unsigned char>(bits >> 16);
    out[3] = static_cast<unsigned char>(bits >> 24);
}

bool Fail(std::string* error, const std::string& message) {
    if (error != nullptr) {
        *error = message;
    }
    return false;
}

bool IsHeaderSpace(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

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

bool WritePfm(const std::string& path, const FloatPlane& red, const FloatPlane& green,
              const FloatPlane& blue, float n, std::string* error) {
    int width = red.width;
    int height = red.height;
    if (width <= 0 || height <= 0 || green.width < width || green.height < height ||
        blue.width < width || blue.height < height) {
        return Fail(error, "cannot write " + path + ": the image is empty");
    }
    std::string temporary = path + ".tmp" + std::to_string(getpid());
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        return Fail(error, "cannot create " + temporary + ": " + std::strerror(errno));
    }
    bool ok = std::fprintf(file, "PF\n%d\n%d\n-1.000000\n", width, height) > 0;
    float r = 1.0f / n;
    std::vector<unsigned char> row(static_cast<std::size_t>(width) * 12);
    for (int i = height - 1; ok && i >= 0; --i) {
        const float* rr = red.Row(i);
        const float* gg = green.Row(i);
        const float* bb = blue.Row(i);
        unsigned char* out = row.data();
        for (int j = 0; j < width; ++j, out += 12) {
            StoreLittleEndian(r * rr[j], out);
            StoreLittleEndian(r * gg[j], out + 4);
            StoreLittleEndian(r * bb[j], out + 8);
        }
        ok = std::fwrite(row.data(), 1, row.size(), file) == row.size();
    }
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
        std::remove(temporary.c_str());
        return Fail(error, "cannot write " + path + ": " + std::strerror(savedErrno));
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        savedErrno = errno;
        std::remove(temporary.c_str());
        return Fail(error, "cannot replace " + path + ": " + std::strerror(savedErrno));
    }
    return true;
}

}  // namespace lumeno
