#include "base/exr_file.h"

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfOutputFile.h>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <vector>

#include "base/file_io.h"

namespace lumeno {

Status WriteExr(const std::string& path, const FloatPlane& red, const FloatPlane& green,
                const FloatPlane& blue, float n) {
    const int width = red.width;
    const int height = red.height;
    if (width <= 0 || height <= 0 || green.width < width || green.height < height ||
        blue.width < width || blue.height < height) {
        return Status::Error("cannot write " + path + ": the image is empty");
    }
    // The library writes whole images from memory: the mean, one plane each.
    const float r = 1.0f / n;
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    std::vector<float> mean[3];
    const FloatPlane* planes[3] = {&red, &green, &blue};
    for (int c = 0; c < 3; ++c) {
        mean[c].resize(count);
        for (int y = 0; y < height; ++y) {
            const float* row = planes[c]->Row(y);
            float* out = mean[c].data() + static_cast<std::size_t>(y) * width;
            for (int x = 0; x < width; ++x) {
                out[x] = r * row[x];
            }
        }
    }
    const std::string temporary = TemporaryPathFor(path);
    // Made here, so that the library writes into a fresh file of ours rather
    // than through whatever stood at the name.
    if (int fd = CreateTemporary(temporary); fd >= 0) {
        close(fd);
    } else {
        return Status::Error("cannot write " + path + ": cannot create " + temporary + ": " +
                             std::strerror(errno));
    }
    try {
        Imf::Header header(width, height);
        header.compression() = Imf::ZIP_COMPRESSION;
        const char* names[3] = {"R", "G", "B"};
        Imf::FrameBuffer frame;
        for (int c = 0; c < 3; ++c) {
            header.channels().insert(names[c], Imf::Channel(Imf::FLOAT));
            frame.insert(names[c], Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(mean[c].data()),
                                              sizeof(float), sizeof(float) * width));
        }
        Imf::OutputFile file(temporary.c_str(), header);
        file.setFrameBuffer(frame);
        file.writePixels(height);
    } catch (const std::exception& e) {
        std::remove(temporary.c_str());
        return Status::Error("cannot write " + path + ": " + e.what());
    }
    return CommitFile(temporary, path);
}

}  // namespace lumeno
