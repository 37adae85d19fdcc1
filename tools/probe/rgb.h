// Rgb: a radiance or energy triple in double precision, as the probe tool
// accumulates it, and the luminance that weighs its channels.
#pragma once

namespace lumeno::probe {

struct Rgb {
    double r = 0.0;
    double g = 0.0;
    double b = 0.0;
};

// Rec. 709 luminance.
inline double Luminance(double r, double g, double b) {
    return 0.2126 * r + 0.7152 * g + 0.0722 * b;
}

}  // namespace lumeno::probe
