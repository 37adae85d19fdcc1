#include "png_output.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO_FALLBACK
#include <stb/stb_image_write.h>

namespace lumeno {

bool WritePng(const std::string& path, const DibImage& image, std::string* error) {
    if (image.Empty()) {
        *error = "no image to write";
        return false;
    }
    std::vector<unsigned char> rgb(static_cast<std::size_t>(image.width) * image.height * 3);
    for (int y = 0; y < image.height; ++y) {
        const std::uint8_t* pixel = image.PixelAt(0, y);
        unsigned char* out = rgb.data() + static_cast<std::size_t>(y) * image.width * 3;
        for (int x = 0; x < image.width; ++x, pixel += 3, out += 3) {
            out[0] = pixel[2];
            out[1] = pixel[1];
            out[2] = pixel[0];
        }
    }
    std::string temporary = path + ".tmp" + std::to_string(getpid());
    if (stbi_write_png(temporary.c_str(), image.width, image.height, 3, rgb.data(),
                       image.width * 3) == 0) {
        std::remove(temporary.c_str());
        *error = "cannot write " + path;
        return false;
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        *error = "cannot replace " + path + ": " + std::strerror(errno);
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace lumeno
