// Writes the display bitmap as a PNG file (red, green, blue, top row first).
#pragma once

#include <string>

#include "render/dib_image.h"

namespace lumeno {

// Writes through a temporary file renamed over path; false with a reason.
bool WritePng(const std::string& path, const DibImage& image, std::string* error);

}  // namespace lumeno
