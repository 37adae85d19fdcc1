#include "png_output.h"

#include <string_view>
#include <vector>

#include "base/file_io.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO_FALLBACK
#include <stb/stb_image_write.h>

namespace lumeno {

Status WritePng(const std::string& path, const DibImage& image) {
    if (image.Empty()) {
        return Status::Error("cannot write " + path + ": no image to write");
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
    int length = 0;
    unsigned char* png =
        stbi_write_png_to_mem(rgb.data(), image.width * 3, image.width, image.height, 3, &length);
    if (png == nullptr) {
        return Status::Error("cannot write " + path + ": the PNG encoder failed");
    }
    Status written = WriteFileAtomically(path, std::string_view(reinterpret_cast<const char*>(png),
                                                                static_cast<std::size_t>(length)));
    STBIW_FREE(png);
    return written;
}

}  // namespace lumeno
