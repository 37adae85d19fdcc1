#include "probe/hdr_image.h"

#include <sys/stat.h>

#include <ImfArray.h>
#include <ImfRgbaFile.h>
#include <stb_image.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>

#include "base/pfm_file.h"
#include "base/status.h"

namespace lumeno::probe {
namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

bool Fail(std::string& error, const std::string& path, const std::string& why) {
    error = path + ": " + why;
    return false;
}

bool IsRegularFile(const std::string& path, std::int64_t* size) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    *size = info.st_size;
    return true;
}

std::string SizeText(std::int64_t width, std::int64_t height) {
    return std::to_string(width) + " × " + std::to_string(height);
}

bool CheckSize(std::int64_t width, std::int64_t height, const std::string& path,
               std::string& error) {
    if (width < 1 || height < 1 || width > HdrImage::kMaxSide || height > HdrImage::kMaxSide ||
        width * height > HdrImage::kMaxPixels) {
        return Fail(error, path,
                    "the image size " + SizeText(width, height) + " is not supported (at most " +
                        std::to_string(HdrImage::kMaxSide) + " per side and " +
                        SizeText(16384, 8192) + " pixels in all)");
    }
    return true;
}

bool AllocationFailed(const std::string& path, std::string& error) {
    return Fail(error, path, "not enough memory for the image");
}

// Refuses an image holding NaN or infinite values: they would poison every
// light and the exposure, and no radiance is infinite.
bool CheckFinite(const HdrImage& image, const std::string& path, std::string& error) {
    std::int64_t bad = std::count_if(image.rgb.begin(), image.rgb.end(),
                                     [](float v) { return !std::isfinite(v); });
    if (bad > 0) {
        return Fail(error, path,
                    "the image holds " + std::to_string(bad) +
                        " values that are not finite numbers (NaN or infinity)");
    }
    return true;
}

bool HasExtension(const std::string& path, const char* extension) {
    std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) {
        return false;
    }
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == extension;
}

}  // namespace

bool HdrImage::Resize(int newWidth, int newHeight) {
    width = 0;
    height = 0;
    rgb.clear();
    rgb.shrink_to_fit();
    if (newWidth < 1 || newHeight < 1 || newWidth > kMaxSide || newHeight > kMaxSide ||
        std::int64_t{newWidth} * newHeight > kMaxPixels) {
        return false;
    }
    try {
        rgb.assign(static_cast<std::size_t>(newWidth) * static_cast<std::size_t>(newHeight) * 3,
                   0.0f);
    } catch (const std::bad_alloc&) {
        return false;
    }
    width = newWidth;
    height = newHeight;
    return true;
}

ImageFormat DetectImageFormat(const std::string& path) {
    std::int64_t size = 0;
    if (!IsRegularFile(path, &size)) {
        return ImageFormat::Unknown;
    }
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        return ImageFormat::Unknown;
    }
    unsigned char head[10] = {};
    std::size_t got = std::fread(head, 1, sizeof head, file.get());
    if (got >= 4 && head[0] == 0x76 && head[1] == 0x2f && head[2] == 0x31 && head[3] == 0x01) {
        return ImageFormat::OpenExr;
    }
    if (got >= 6 && (std::memcmp(head, "#?RADIANCE", std::min<std::size_t>(got, 10)) == 0 ||
                     std::memcmp(head, "#?RGBE", 6) == 0)) {
        return ImageFormat::Radiance;
    }
    if (got >= 3 && head[0] == 'P' && (head[1] == 'F' || head[1] == 'f') && std::isspace(head[2])) {
        return ImageFormat::Pfm;
    }
    // Radiance files written without their "#?" line are recognised only by name.
    if (HasExtension(path, "hdr") || HasExtension(path, "pic")) {
        return ImageFormat::Radiance;
    }
    if (HasExtension(path, "exr")) {
        return ImageFormat::OpenExr;
    }
    if (HasExtension(path, "pfm")) {
        return ImageFormat::Pfm;
    }
    return ImageFormat::Unknown;
}

bool ReadHdrImage(const std::string& path, HdrImage& image, std::string& error) {
    std::int64_t size = 0;
    if (!IsRegularFile(path, &size)) {
        return Fail(error, path, "cannot open the file (missing, unreadable or not a file)");
    }
    switch (DetectImageFormat(path)) {
        case ImageFormat::Pfm:
            return ReadPfm(path, image, error);
        case ImageFormat::Radiance:
            return ReadRadiance(path, image, error);
        case ImageFormat::OpenExr:
            return ReadOpenExr(path, image, error);
        case ImageFormat::Unknown:
            break;
    }
    return Fail(error, path,
                "not a Radiance .hdr, OpenEXR .exr or PFM image (the content names no known "
                "format and neither does the extension)");
}

bool ReadPfm(const std::string& path, HdrImage& image, std::string& error) {
    image.Resize(0, 0);
    PfmLimits limits;
    limits.maxSide = HdrImage::kMaxSide;
    limits.maxPixels = HdrImage::kMaxPixels;
    Status read = lumeno::ReadPfm(
        path, limits, [&](int width, int height) { return image.Resize(width, height); },
        [&](int y, const float* rgb) {
            std::copy_n(rgb, static_cast<std::size_t>(image.width) * 3, image.Pixel(0, y));
        });
    if (!read) {
        image.Resize(0, 0);
        error = read.Message();
        return false;
    }
    if (!CheckFinite(image, path, error)) {
        image.Resize(0, 0);
        return false;
    }
    return true;
}

bool ReadRadiance(const std::string& path, HdrImage& image, std::string& error) {
    image.Resize(0, 0);
    int width = 0;
    int height = 0;
    int components = 0;
    if (stbi_info(path.c_str(), &width, &height, &components) == 0) {
        const char* reason = stbi_failure_reason();
        return Fail(error, path,
                    std::string("not a readable Radiance image: ") +
                        (reason != nullptr ? reason : "unknown reason"));
    }
    if (!CheckSize(width, height, path, error)) {
        return false;
    }
    struct Freer {
        void operator()(float* p) const { stbi_image_free(p); }
    };
    std::unique_ptr<float, Freer> pixels(stbi_loadf(path.c_str(), &width, &height, &components, 3));
    if (!pixels) {
        const char* reason = stbi_failure_reason();
        return Fail(error, path,
                    std::string("cannot decode the Radiance image: ") +
                        (reason != nullptr ? reason : "unknown reason"));
    }
    if (!CheckSize(width, height, path, error)) {
        return false;
    }
    if (!image.Resize(width, height)) {
        return AllocationFailed(path, error);
    }
    std::copy_n(pixels.get(), image.rgb.size(), image.rgb.begin());
    if (!CheckFinite(image, path, error)) {
        image.Resize(0, 0);
        return false;
    }
    return true;
}

bool ReadOpenExr(const std::string& path, HdrImage& image, std::string& error) {
    image.Resize(0, 0);
    try {
        Imf::RgbaInputFile file(path.c_str());
        if ((file.channels() & (Imf::WRITE_RGB | Imf::WRITE_Y)) == 0) {
            return Fail(error, path, "the OpenEXR image has no colour or luminance channels");
        }
        const Imath::Box2i window = file.dataWindow();
        std::int64_t width = std::int64_t{window.max.x} - window.min.x + 1;
        std::int64_t height = std::int64_t{window.max.y} - window.min.y + 1;
        if (!CheckSize(width, height, path, error)) {
            return false;
        }
        if (!image.Resize(static_cast<int>(width), static_cast<int>(height))) {
            return AllocationFailed(path, error);
        }
        std::vector<Imf::Rgba> row(static_cast<std::size_t>(width));
        // One scan line at a time (y stride 0) keeps the half-float buffer to
        // a single row whatever the image's size.
        file.setFrameBuffer(row.data() - window.min.x, 1, 0);
        for (int y = window.min.y; y <= window.max.y; ++y) {
            file.readPixels(y, y);
            float* out = image.Pixel(0, y - window.min.y);
            for (const Imf::Rgba& pixel : row) {
                *out++ = static_cast<float>(pixel.r);
                *out++ = static_cast<float>(pixel.g);
                *out++ = static_cast<float>(pixel.b);
            }
        }
    } catch (const std::bad_alloc&) {
        image.Resize(0, 0);
        return AllocationFailed(path, error);
    } catch (const std::exception& e) {
        image.Resize(0, 0);
        return Fail(error, path, std::string("cannot read the OpenEXR image: ") + e.what());
    }
    if (!CheckFinite(image, path, error)) {
        image.Resize(0, 0);
        return false;
    }
    return true;
}

std::int64_t ClampNegative(HdrImage& image) {
    std::int64_t count = 0;
    for (float& v : image.rgb) {
        if (v < 0.0f) {
            v = 0.0f;
            ++count;
        }
    }
    return count;
}

}  // namespace lumeno::probe
