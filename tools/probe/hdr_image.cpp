#include "probe/hdr_image.h"

#include <Iex.h>
#include <ImfHeader.h>
#include <ImfIO.h>
#include <ImfRgbaFile.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>

#include "base/file_io.h"
#include "base/pfm_file.h"
#include "base/status.h"

namespace lumeno::probe {
namespace {

bool Fail(std::string& error, const std::string& path, const std::string& why) {
    error = path + ": " + why;
    return false;
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

// The first bytes of each accepted format.
bool StartsWith(const unsigned char* head, std::size_t length, std::string_view signature) {
    return length >= signature.size() && std::memcmp(head, signature.data(), signature.size()) == 0;
}

constexpr unsigned char kExrMagic[4] = {0x76, 0x2f, 0x31, 0x01};

bool CannotOpen(const RegularFile& file, const std::string& path, std::string& error) {
    return Fail(error, path, "cannot open the file: " + file.Why());
}

// Reads a regular file's bytes one run at a time, never past the size the
// file had when it was opened; running out is a truncated file.
class ByteSource {
  public:
    explicit ByteSource(const RegularFile& file) : file_(file.Stream()), left_(file.Size()) {}

    std::int64_t Left() const { return left_; }

    bool Read(unsigned char* out, std::size_t count) {
        if (static_cast<std::int64_t>(count) > left_ || std::fread(out, 1, count, file_) != count) {
            left_ = 0;
            return false;
        }
        left_ -= static_cast<std::int64_t>(count);
        return true;
    }

    bool Byte(unsigned char& out) { return Read(&out, 1); }

    // One header line without its line feed; false at the end of the file or
    // for a line longer than maxLength.
    bool Line(std::string& line, std::size_t maxLength) {
        line.clear();
        unsigned char c = 0;
        while (Byte(c)) {
            if (c == '\n') {
                return true;
            }
            if (line.size() >= maxLength) {
                return false;
            }
            line += static_cast<char>(c);
        }
        return false;
    }

  private:
    std::FILE* file_;
    std::int64_t left_;
};

// OpenEXR's input, read from a file already opened as a regular file and no
// further than its size.
class ExrInput : public Imf::IStream {
  public:
    ExrInput(const RegularFile& file, const std::string& path)
        : Imf::IStream(path.c_str()), file_(file.Stream()), size_(file.Size()) {}

    bool read(char c[], int n) override {
        if (n < 0 || static_cast<std::int64_t>(position_) + n > size_ ||
            std::fread(c, 1, static_cast<std::size_t>(n), file_) != static_cast<std::size_t>(n)) {
            throw Iex::InputExc("unexpected end of file");
        }
        position_ += static_cast<std::uint64_t>(n);
        return static_cast<std::int64_t>(position_) < size_;
    }
    std::uint64_t tellg() override { return position_; }
    void seekg(std::uint64_t position) override {
        if (position > static_cast<std::uint64_t>(size_) ||
            fseeko(file_, static_cast<off_t>(position), SEEK_SET) != 0) {
            throw Iex::InputExc("seek beyond the end of the file");
        }
        position_ = position;
    }
    void clear() override { std::clearerr(file_); }

  private:
    std::FILE* file_;
    std::int64_t size_;
    std::uint64_t position_ = 0;
};

// Walks an OpenEXR file's header (or, in a multi-part file, its headers)
// and checks that every attribute fits in the file. OpenEXR allocates an
// attribute's announced size before reading it, so a file of a few bytes
// could otherwise make it reserve gigabytes. Empty text when the header is
// sound as far as sizes go; the library checks the rest.
std::string ExrHeaderProblem(std::FILE* file, std::int64_t size) {
    unsigned char start[8];
    if (std::fread(start, 1, 8, file) != 8) {
        return "the file ends inside its version field";
    }
    const bool multipart = (start[5] & 0x10) != 0;
    std::int64_t position = 8;
    auto readName = [&](std::string& name) {
        name.clear();
        for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
            ++position;
            if (c == 0) {
                return true;
            }
            if (name.size() == 255) {
                return false;
            }
            name += static_cast<char>(c);
        }
        return false;
    };
    for (int part = 0;; ++part) {
        std::string name;
        std::string type;
        int attributes = 0;
        for (;;) {
            if (!readName(name)) {
                return "an attribute name is cut short or too long";
            }
            if (name.empty()) {
                break;
            }
            unsigned char length[4];
            if (!readName(type) || std::fread(length, 1, 4, file) != 4) {
                return "the attribute \"" + name + "\" is cut short";
            }
            position += 4;
            std::int64_t bytes = std::int64_t{length[0]} | (std::int64_t{length[1]} << 8) |
                                 (std::int64_t{length[2]} << 16) | (std::int64_t{length[3]} << 24);
            if (bytes > size - position) {
                return "the attribute \"" + name + "\" announces " + std::to_string(bytes) +
                       " bytes, more than the file holds";
            }
            if (fseeko(file, static_cast<off_t>(bytes), SEEK_CUR) != 0) {
                return "cannot read past the attribute \"" + name + "\"";
            }
            position += bytes;
            ++attributes;
        }
        // A multi-part file ends its list of headers with an empty one.
        if (!multipart || attributes == 0) {
            return {};
        }
        if (part > 10000) {
            return "too many parts";
        }
    }
}

// RGBE to floats as the Radiance convention has it: the shared exponent
// scales each 8-bit mantissa; an exponent byte of 0 is black.
void DecodeRgbe(const unsigned char* rgbe, float* out) {
    if (rgbe[3] == 0) {
        out[0] = out[1] = out[2] = 0.0f;
        return;
    }
    float scale = std::ldexp(1.0f, static_cast<int>(rgbe[3]) - (128 + 8));
    out[0] = static_cast<float>(rgbe[0]) * scale;
    out[1] = static_cast<float>(rgbe[1]) * scale;
    out[2] = static_cast<float>(rgbe[2]) * scale;
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
    RegularFile file;
    if (!file.Open(path)) {
        return ImageFormat::Unknown;
    }
    unsigned char head[10] = {};
    std::size_t got = std::fread(head, 1, sizeof head, file.Stream());
    if (StartsWith(head, got, std::string_view(reinterpret_cast<const char*>(kExrMagic), 4))) {
        return ImageFormat::OpenExr;
    }
    if (StartsWith(head, got, "#?RADIANCE") || StartsWith(head, got, "#?RGBE")) {
        return ImageFormat::Radiance;
    }
    if (got >= 3 && head[0] == 'P' && (head[1] == 'F' || head[1] == 'f') &&
        std::isspace(head[2]) != 0) {
        return ImageFormat::Pfm;
    }
    return ImageFormat::Unknown;
}

bool ReadHdrImage(const std::string& path, HdrImage& image, std::string& error) {
    RegularFile file;
    if (!file.Open(path)) {
        return CannotOpen(file, path, error);
    }
    file.Close();
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
                "not a Radiance .hdr, OpenEXR .exr or PFM image: it starts with neither "
                "\"#?RADIANCE\" nor \"#?RGBE\", the OpenEXR signature, \"PF\" nor \"Pf\"");
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
    RegularFile file;
    if (!file.Open(path)) {
        return CannotOpen(file, path, error);
    }
    auto refuse = [&](const std::string& why) {
        image.Resize(0, 0);
        return Fail(error, path, "not a readable Radiance image: " + why);
    };
    ByteSource in(file);
    constexpr std::size_t kMaxHeaderLine = 4096;
    constexpr int kMaxHeaderLines = 1024;
    std::string line;
    if (!in.Line(line, kMaxHeaderLine) ||
        !(line.starts_with("#?RADIANCE") || line.starts_with("#?RGBE"))) {
        return refuse("it does not start with \"#?RADIANCE\" or \"#?RGBE\"");
    }
    // Header lines up to an empty one; only the pixel format matters.
    for (int count = 0;; ++count) {
        if (count == kMaxHeaderLines || !in.Line(line, kMaxHeaderLine)) {
            return refuse("the header ends before its empty line");
        }
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty()) {
            break;
        }
        if (line.starts_with("FORMAT=") && line != "FORMAT=32-bit_rle_rgbe") {
            return refuse("pixel format " + line.substr(7) + " (only 32-bit_rle_rgbe is read)");
        }
    }
    if (!in.Line(line, kMaxHeaderLine)) {
        return refuse("the file ends before the resolution line");
    }
    int height = 0;
    int width = 0;
    char tail = 0;
    if (std::sscanf(line.c_str(), "-Y %9d +X %9d%c", &height, &width, &tail) != 2) {
        return refuse("resolution line \"" + line.substr(0, 64) +
                      "\" (only the standard orientation \"-Y <height> +X <width>\" is read)");
    }
    if (!CheckSize(width, height, path, error)) {
        return false;
    }
    // Every scan line takes at least its run-length header and two bytes
    // per 127 values of each of its four components, or four bytes per
    // pixel unencoded: a file too short for that is cut short, known before
    // anything is allocated.
    const bool encodable = width >= 8 && width < 0x8000;
    const std::int64_t minLine = encodable ? 4 + 4 * 2 * ((width + 126) / 127) : 4 * width;
    if (in.Left() < minLine * height) {
        return refuse("the file is cut short: " + SizeText(width, height) +
                      " pixels need at least " + std::to_string(minLine * height) +
                      " bytes of scan lines, " + std::to_string(in.Left()) + " follow the header");
    }
    if (!image.Resize(width, height)) {
        return AllocationFailed(path, error);
    }
    std::vector<unsigned char> scan(static_cast<std::size_t>(width) * 4);
    for (int y = 0; y < height; ++y) {
        auto truncated = [&] {
            return refuse("the file is cut short in scan line " + std::to_string(y + 1) + " of " +
                          std::to_string(height));
        };
        unsigned char* rgbe = scan.data();
        if (!in.Read(rgbe, 4)) {
            return truncated();
        }
        if (!encodable || rgbe[0] != 2 || rgbe[1] != 2 || (rgbe[2] & 0x80) != 0) {
            // Unencoded: those four bytes were the first pixel.
            if (!in.Read(rgbe + 4, scan.size() - 4)) {
                return truncated();
            }
        } else {
            if (((rgbe[2] << 8) | rgbe[3]) != width) {
                return refuse("scan line " + std::to_string(y + 1) +
                              " is encoded for another width");
            }
            // Each component in turn, as runs (count above 128: one value
            // repeated count − 128 times) or literal spans (count values).
            for (int component = 0; component < 4; ++component) {
                int x = 0;
                while (x < width) {
                    unsigned char count = 0;
                    if (!in.Byte(count)) {
                        return truncated();
                    }
                    bool run = count > 128;
                    int length = run ? count - 128 : count;
                    if (length == 0 || length > width - x) {
                        return refuse("scan line " + std::to_string(y + 1) +
                                      " holds a run that does not fit the line");
                    }
                    unsigned char value = 0;
                    for (int i = 0; i < length; ++i, ++x) {
                        if ((!run || i == 0) && !in.Byte(value)) {
                            return truncated();
                        }
                        scan[static_cast<std::size_t>(x) * 4 +
                             static_cast<std::size_t>(component)] = value;
                    }
                }
            }
        }
        float* out = image.Pixel(0, y);
        for (int x = 0; x < width; ++x, out += 3) {
            DecodeRgbe(scan.data() + static_cast<std::size_t>(x) * 4, out);
        }
    }
    return true;
}

bool ReadOpenExr(const std::string& path, HdrImage& image, std::string& error) {
    image.Resize(0, 0);
    RegularFile opened;
    if (!opened.Open(path)) {
        return CannotOpen(opened, path, error);
    }
    unsigned char magic[4] = {};
    if (std::fread(magic, 1, 4, opened.Stream()) != 4 || std::memcmp(magic, kExrMagic, 4) != 0 ||
        std::fseek(opened.Stream(), 0, SEEK_SET) != 0) {
        return Fail(error, path,
                    "not an OpenEXR image: it does not start with the OpenEXR signature");
    }
    if (std::string problem = ExrHeaderProblem(opened.Stream(), opened.Size());
        !problem.empty() || std::fseek(opened.Stream(), 0, SEEK_SET) != 0) {
        return Fail(error, path, "cannot read the OpenEXR image: " + problem);
    }
    // The library checks every header against these before it allocates.
    static std::once_flag limitsSet;
    std::call_once(limitsSet, [] {
        Imf::Header::setMaxImageSize(HdrImage::kMaxSide, HdrImage::kMaxSide);
        Imf::Header::setMaxTileSize(HdrImage::kMaxSide, HdrImage::kMaxSide);
    });
    try {
        ExrInput input(opened, path);
        Imf::RgbaInputFile file(input);
        if ((file.channels() & (Imf::WRITE_RGB | Imf::WRITE_Y)) == 0) {
            return Fail(error, path, "the OpenEXR image has no colour or luminance channels");
        }
        const Imath::Box2i window = file.dataWindow();
        std::int64_t width = std::int64_t{window.max.x} - window.min.x + 1;
        std::int64_t height = std::int64_t{window.max.y} - window.min.y + 1;
        if (!CheckSize(width, height, path, error)) {
            return false;
        }
        // No compression OpenEXR offers packs a pixel's half floats into less
        // than 1/1032 of a byte (deflate's limit), so a header announcing
        // more pixels than that is cut short or lying; it is refused before
        // the image is allocated. The lossy DWA schemes first reduce a flat
        // block of 8 x 8 pixels to one coefficient, so they reach 64 times
        // further.
        const Imf::Compression compression = file.header().compression();
        const bool dwa =
            compression == Imf::DWAA_COMPRESSION || compression == Imf::DWAB_COMPRESSION;
        if (width * height > (dwa ? 64 : 1) * 1032 * opened.Size()) {
            return Fail(error, path,
                        "the OpenEXR header announces " + SizeText(width, height) +
                            " pixels, more than a file of " + std::to_string(opened.Size()) +
                            " bytes can hold");
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
