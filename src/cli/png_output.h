// Writes the display bitmap as a PNG file (red, green, blue, top row first).
#pragma once

#include <string>

#include "base/dib_image.h"
#include "base/status.h"

namespace lumeno {

// Replaces path atomically with the PNG of image.
Status WritePng(const std::string& path, const DibImage& image);

}  // namespace lumeno
