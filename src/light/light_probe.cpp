#include "light/light_probe.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "base/file_io.h"
#include "base/pfm_file.h"
#include "base/status.h"
#include "scene/number_parse.h"

namespace lumeno {
namespace {

// Cubic convolution kernel with a = −1.
float Kernel(float t) {
    if (t <= 1.0f) {
        return 1.0f - 2.0f * t * t + t * t * t;
    }
    if (t <= 2.0f) {
        return 4.0f - 8.0f * t + 5.0f * t * t - t * t * t;
    }
    return 0.0f;
}

int Reflect(int i, int size) {
    if (i < 0) {
        i = -i;
    }
    if (i >= size) {
        i = 2 * size - i - 1;
    }
    // Only planes narrower than two samples can still be outside here.
    if (i < 0) {
        return 0;
    }
    return i < size ? i : size - 1;
}

// The 4 × 4 samples around (x, y) that cubic convolution reads, with their
// weights: tap a on each axis is index i0 − 1 + a, reflected into the plane.
struct BicubicTaps {
    int columns[4];
    int rows[4];
    float wx[4];
    float wy[4];
};

// (x, y) clamped into a width × height plane (not empty) first.
BicubicTaps TapsAt(int width, int height, float x, float y) {
    float maxX = static_cast<float>(width - 1);
    float maxY = static_cast<float>(height - 1);
    x = !(x > 0.0f) ? 0.0f : (x < maxX ? x : maxX);
    y = !(y > 0.0f) ? 0.0f : (y < maxY ? y : maxY);
    int i0 = static_cast<int>(x);
    int j0 = static_cast<int>(y);
    BicubicTaps taps;
    for (int a = 0; a < 4; ++a) {
        int i = i0 - 1 + a;
        int j = j0 - 1 + a;
        taps.wx[a] = Kernel(std::fabs(static_cast<float>(i) - x));
        taps.wy[a] = Kernel(std::fabs(static_cast<float>(j) - y));
        taps.columns[a] = Reflect(i, width);
        taps.rows[a] = Reflect(j, height);
    }
    return taps;
}

}  // namespace

// Columns outer, rows inner, each term (wx · wy) · sample: this order of
// operations is part of the result's bits.
float SampleBicubic(const FloatPlane& plane, float x, float y) {
    if (plane.Empty()) {
        return 0.0f;
    }
    const BicubicTaps taps = TapsAt(plane.width, plane.height, x, y);
    float sum = 0.0f;
    for (int a = 0; a < 4; ++a) {
        for (int b = 0; b < 4; ++b) {
            sum += taps.wx[a] * taps.wy[b] * plane.At(taps.columns[a], taps.rows[b]);
        }
    }
    return sum;
}

Vec3 SampleBicubic(const FloatPlane& red, const FloatPlane& green, const FloatPlane& blue, float x,
                   float y) {
    if (red.Empty() || red.width != green.width || red.width != blue.width ||
        red.height != green.height || red.height != blue.height) {
        return {SampleBicubic(red, x, y), SampleBicubic(green, x, y), SampleBicubic(blue, x, y)};
    }
    const BicubicTaps taps = TapsAt(red.width, red.height, x, y);
    const float* redRows[4];
    const float* greenRows[4];
    const float* blueRows[4];
    for (int k = 0; k < 4; ++k) {
        redRows[k] = red.Row(taps.rows[k]);
        greenRows[k] = green.Row(taps.rows[k]);
        blueRows[k] = blue.Row(taps.rows[k]);
    }
    float r = 0.0f;
    float g = 0.0f;
    float b = 0.0f;
    for (int a = 0; a < 4; ++a) {
        const int column = taps.columns[a];
        for (int k = 0; k < 4; ++k) {
            const float w = taps.wx[a] * taps.wy[k];
            r += w * redRows[k][column];
            g += w * greenRows[k][column];
            b += w * blueRows[k][column];
        }
    }
    return {r, g, b};
}

void LightProbe::ClearImage() {
    red.Release();
    green.Release();
    blue.Release();
    width = 0;
    height = 0;
}

void LightProbe::ClearLights() {
    lights.clear();
    selectionTable.clear();
    tableSize = 0;
}

bool LightProbe::LoadProbeImage(const std::string& path, Diagnostics& diagnostics) {
    ClearImage();
    PfmLimits limits;
    limits.maxSide = kMaxImageSide;
    limits.maxPixels = FloatPlane::kMaxSamples;
    limits.requireScale = false;
    Status read = ReadPfm(
        path, limits,
        [&](int w, int h) { return red.Create(w, h) && green.Create(w, h) && blue.Create(w, h); },
        [&](int y, const float* rgb) {
            for (int x = 0; x < red.width; ++x, rgb += 3) {
                red.At(x, y) = rgb[0];
                green.At(x, y) = rgb[1];
                blue.At(x, y) = rgb[2];
            }
        });
    if (!read) {
        diagnostics.Add(path, 0, "environment image not loaded: " + read.Message());
        ClearImage();
        return false;
    }
    width = red.width;
    height = red.height;
    return true;
}

bool LightProbe::LoadProbeLights(const std::string& path, Diagnostics& diagnostics) {
    ClearLights();
    RegularFile file;
    if (!file.Open(path)) {
        diagnostics.Add(
            path, 0,
            "cannot open the light list (" + file.Why() + "): the scene gets no probe lights");
        return false;
    }
    // Numbers are read as a stream extracts them; line breaks carry no
    // meaning, and the first number that cannot be read ends the list.
    using Result = StreamScanner::Result;
    StreamScanner in(file.Stream(), file.Size());
    std::int64_t count = 0;
    std::int64_t ignored = 0;
    if (in.ReadInteger(count) != Result::kValue || in.ReadInteger(ignored) != Result::kValue) {
        diagnostics.Add(path, 0, "the light list has no light count: no probe lights");
        return false;
    }
    // Records are read while the file lasts, so a huge count costs nothing.
    // Past 10000 lights the table runs out before the later ones get an
    // entry; they still count in every light's weight.
    const int announced = static_cast<int>(std::clamp<std::int64_t>(count, 0, INT_MAX));
    for (int k = 0; k < announced; ++k) {
        float v[9];
        Result result = Result::kValue;
        for (int i = 0; i < 9 && result == Result::kValue; ++i) {
            result = in.ReadFloat(v[i]);
        }
        if (result != Result::kValue) {
            diagnostics.Add(path, 0,
                            "the list announces " + std::to_string(announced) + " lights but " +
                                (result == Result::kEnd ? "ends after "
                                                        : "has a number that "
                                                          "cannot be read after ") +
                                std::to_string(k) +
                                " complete records; the complete ones are used");
            break;
        }
        ProbeLight light;
        light.direction = {v[0], -v[1], -v[2]};
        light.colour = {v[6], v[7], v[8]};
        lights.push_back(light);
    }
    int n = LightCount();
    float sum = 0.0f;
    for (const ProbeLight& light : lights) {
        sum += light.colour.z + light.colour.y + light.colour.x;
    }
    if (n == 0 || !(sum > 0.0f) || !std::isfinite(sum)) {
        if (n > 0) {
            diagnostics.Add(path, 0,
                            "the light colours do not sum to a positive number: "
                            "no probe lights");
        }
        ClearLights();
        return n == 0;
    }
    float inverseSum = 1.0f / sum;
    for (ProbeLight& light : lights) {
        light.probability = (light.colour.z + light.colour.y + light.colour.x) * inverseSum;
    }
    selectionTable.assign(kTableSize, 0);
    tableSize = kTableSize;
    const float step = 1.0f / 10000.0f;
    double acc = 0.0;
    int i = 0;
    float current = lights[0].probability;
    for (int j = 0; j < kTableSize; ++j) {
        acc += step;
        selectionTable[static_cast<std::size_t>(j)] = static_cast<std::uint16_t>(i);
        if (acc > current) {
            ++i;
            acc -= current;
            if (i >= n) {
                i = n - 1;
            }
            current = lights[static_cast<std::size_t>(i)].probability;
        }
    }
    return true;
}

Vec3 LightProbe::LookupEnvironment(Vec3 d) const {
    if (width <= 0 || height <= 0) {
        return {};
    }
    float radial = std::sqrt(d.x * d.x + d.y * d.y);
    float u;
    float v;
    if (radial > 0.0f) {
        auto f = static_cast<float>(std::acos(d.z) / (static_cast<double>(radial) * 3.14159));
        u = (d.x * f + 1.0f) * 0.5f;
        v = (d.y * f + 1.0f) * 0.5f;
    } else {
        // Straight ahead or straight back: the limit of the mapping along +x,
        // which is the centre for +z and the rim for −z.
        auto f = static_cast<float>(std::acos(d.z) / 3.14159);
        u = (f + 1.0f) * 0.5f;
        v = 0.5f;
    }
    float x = u * static_cast<float>(width);
    float maxX = static_cast<float>(width - 1);
    x = !(x > 0.0f) ? 0.0f : (x < maxX ? x : maxX);
    float y = static_cast<float>(height) * v;
    float maxY = static_cast<float>(height - 1);
    y = !(y > 0.0f) ? 0.0f : (y < maxY ? y : maxY);
    const double scale = 0.00392156862745098;
    const Vec3 sample = SampleBicubic(red, green, blue, x, y);
    return {static_cast<float>(sample.x * scale), static_cast<float>(sample.y * scale),
            static_cast<float>(sample.z * scale)};
}

ProbeLightSample LightProbe::PickProbeLight(Random& random) const {
    double xi = random.RandomUniform();
    int n = LightCount();
    if (n == 0 || tableSize == 0) {
        return {};
    }
    auto j = static_cast<std::size_t>(xi * kTableSize);
    const ProbeLight& light = lights[selectionTable[j]];
    ProbeLightSample sample;
    sample.direction = light.direction;
    sample.colour = light.colour;
    // A light whose colour sums to 0 is never worth anything; keep its weight
    // finite so that 0 · weight stays 0.
    sample.weight =
        light.probability != 0.0f ? 1.0f / (static_cast<float>(n) * light.probability) : 0.0f;
    return sample;
}

}  // namespace lumeno
