#include "probe/environment.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <utility>

namespace lumeno::probe {
namespace {

HdrImage Halve(const HdrImage& source) {
    HdrImage half;
    int width = (source.width + 1) / 2;
    int height = (source.height + 1) / 2;
    if (!half.Resize(width, height)) {
        throw std::bad_alloc();
    }
    for (int y = 0; y < height; ++y) {
        int y0 = 2 * y;
        int y1 = std::min(2 * y + 1, source.height - 1);
        for (int x = 0; x < width; ++x) {
            int x0 = 2 * x;
            int x1 = std::min(2 * x + 1, source.width - 1);
            float* out = half.Pixel(x, y);
            for (int c = 0; c < 3; ++c) {
                out[c] = 0.25f * (source.Pixel(x0, y0)[c] + source.Pixel(x1, y0)[c] +
                                  source.Pixel(x0, y1)[c] + source.Pixel(x1, y1)[c]);
            }
        }
    }
    return half;
}

double LevelOfDetail(double footprintPixels) {
    return footprintPixels > 1.0 ? std::log2(footprintPixels) : 0.0;
}

}  // namespace

ImagePyramid::ImagePyramid(HdrImage image, bool wrapX) : wrapX_(wrapX) {
    levels_.push_back(std::move(image));
    while (levels_.back().width > 1 || levels_.back().height > 1) {
        levels_.push_back(Halve(levels_.back()));
    }
}

Rgb ImagePyramid::SampleLevel(int level, double s, double t) const {
    const HdrImage& image = levels_[static_cast<std::size_t>(level)];
    const HdrImage& base = levels_.front();
    double x = s * image.width / base.width - 0.5;
    double y = t * image.height / base.height - 0.5;
    double fx = std::floor(x);
    double fy = std::floor(y);
    double ax = x - fx;
    double ay = y - fy;
    auto column = [&](double i) {
        if (wrapX_) {
            double wrapped = std::fmod(i, static_cast<double>(image.width));
            if (wrapped < 0.0) {
                wrapped += image.width;
            }
            return static_cast<int>(wrapped);
        }
        return static_cast<int>(std::clamp(i, 0.0, static_cast<double>(image.width - 1)));
    };
    auto row = [&](double j) {
        return static_cast<int>(std::clamp(j, 0.0, static_cast<double>(image.height - 1)));
    };
    int x0 = column(fx);
    int x1 = column(fx + 1.0);
    int y0 = row(fy);
    int y1 = row(fy + 1.0);
    const float* p00 = image.Pixel(x0, y0);
    const float* p10 = image.Pixel(x1, y0);
    const float* p01 = image.Pixel(x0, y1);
    const float* p11 = image.Pixel(x1, y1);
    double channels[3];
    for (int c = 0; c < 3; ++c) {
        double top = p00[c] + (p10[c] - p00[c]) * ax;
        double bottom = p01[c] + (p11[c] - p01[c]) * ax;
        channels[c] = top + (bottom - top) * ay;
    }
    return {channels[0], channels[1], channels[2]};
}

Rgb ImagePyramid::Sample(double s, double t, double level) const {
    double top = static_cast<double>(Levels() - 1);
    level = std::clamp(level, 0.0, top);
    int fine = static_cast<int>(level);
    double blend = level - fine;
    Rgb a = SampleLevel(fine, s, t);
    if (blend == 0.0 || fine + 1 > Levels() - 1) {
        return a;
    }
    Rgb b = SampleLevel(fine + 1, s, t);
    return {a.r + (b.r - a.r) * blend, a.g + (b.g - a.g) * blend, a.b + (b.b - a.b) * blend};
}

EquirectEnvironment::EquirectEnvironment(HdrImage image)
    : pyramid_(std::move(image), true),
      width_(pyramid_.Level(0).width),
      height_(pyramid_.Level(0).height) {}

Rgb EquirectEnvironment::Radiance(Direction d, double footprint) const {
    EquirectPosition p = DirectionToEquirect(d, width_, height_);
    // Rows keep their angular height; columns narrow toward the poles, where a
    // footprint spans many of them. The finer of the two sets the level, so the
    // poles stay sharp at the cost of a little aliasing along their rows.
    double sinTheta = std::sqrt(std::max(0.0, 1.0 - d.y * d.y));
    double rows = footprint * height_ / kPi;
    double columns = footprint * width_ / (2.0 * kPi * std::max(sinTheta, 1e-9));
    return pyramid_.Sample(p.s, p.t, LevelOfDetail(std::min(rows, columns)));
}

AngularMapEnvironment::AngularMapEnvironment(HdrImage image)
    : pyramid_(std::move(image), false),
      width_(pyramid_.Level(0).width),
      height_(pyramid_.Level(0).height) {}

Rgb AngularMapEnvironment::Radiance(Direction d, double footprint) const {
    MapPosition p = DirectionToAngularMap(d, width_, height_);
    // Map pixel i stands at x = i; the pyramid puts pixel centres at i + 0.5.
    double pixels = footprint / (2.0 * kMapPi / std::min(width_, height_));
    return pyramid_.Sample(p.x + 0.5, p.y + 0.5, LevelOfDetail(pixels));
}

namespace {

// Irradiance the sun delivers at normal incidence, and the sky's mean
// radiance; their ratio is that of a clear day.
constexpr double kSunIrradiance = 15.0;
constexpr double kSkyRadiance = 1.0;
constexpr Rgb kSunColour{1.0, 0.93, 0.82};
constexpr Rgb kZenith{0.28, 0.48, 1.0};
constexpr Rgb kHorizon{1.05, 1.1, 1.2};
constexpr Rgb kGroundAlbedo{0.28, 0.25, 0.2};

Rgb Mix(Rgb a, Rgb b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

Rgb Scale(Rgb a, double s) {
    return {a.r * s, a.g * s, a.b * s};
}

}  // namespace

SkyEnvironment::SkyEnvironment(SkyParameters parameters) {
    double elevation = parameters.sunElevation * kPi / 180.0;
    double azimuth = parameters.sunAzimuth * kPi / 180.0;
    sun_ = {std::cos(elevation) * std::sin(azimuth), -std::sin(elevation),
            std::cos(elevation) * std::cos(azimuth)};
    double sunSolidAngle = 2.0 * kPi * (1.0 - std::cos(kSunRadius));
    double sunLuminance = Luminance(kSunColour.r, kSunColour.g, kSunColour.b);
    sunRadiance_ = Scale(kSunColour, kSunIrradiance / sunSolidAngle / sunLuminance);
    // A diffuse ground lit by the sun and the sky above it.
    double groundIrradiance =
        kSunIrradiance * std::max(0.0, std::sin(elevation)) + kPi * kSkyRadiance;
    groundRadiance_ = Scale(kGroundAlbedo, groundIrradiance / kPi);
}

Rgb SkyEnvironment::Radiance(Direction d, double /*footprint*/) const {
    double up = Dot(d, kUp);
    if (up < 0.0) {
        // Haze fades the ground toward the horizon's colour over a few degrees.
        double haze = std::exp(up / 0.05);
        return Mix(groundRadiance_, Scale(kHorizon, 0.6), haze);
    }
    double blend = std::pow(1.0 - up, 3.0);
    Rgb sky = Mix(kZenith, kHorizon, blend);
    double cosToSun = std::clamp(Dot(d, sun_), -1.0, 1.0);
    double toSun = std::acos(cosToSun);
    if (toSun < kSunRadius) {
        return sunRadiance_;
    }
    // A soft glow around the sun.
    double glow = 1.5 * std::exp(-toSun / 0.2);
    return {sky.r + glow * kSunColour.r, sky.g + glow * kSunColour.g, sky.b + glow * kSunColour.b};
}

bool RenderAngularMap(const Environment& env, int size, HdrImage& map, int supersamples,
                      const ProgressCallback& progress) {
    if (!map.Resize(size, size)) {
        return false;
    }
    int k = std::max(1, supersamples);
    // The radial angle one pixel spans, shared among the supersamples.
    double footprint = 2.0 * kMapPi / size / k;
    double weight = 1.0 / (static_cast<double>(k) * k);
    for (int j = 0; j < size; ++j) {
        for (int i = 0; i < size; ++i) {
            Rgb sum;
            for (int sy = 0; sy < k; ++sy) {
                double y = j - 0.5 + (sy + 0.5) / k;
                for (int sx = 0; sx < k; ++sx) {
                    double x = i - 0.5 + (sx + 0.5) / k;
                    Rgb value = env.Radiance(AngularMapToDirection(x, y, size, size), footprint);
                    sum.r += value.r;
                    sum.g += value.g;
                    sum.b += value.b;
                }
            }
            float* out = map.Pixel(i, j);
            out[0] = static_cast<float>(sum.r * weight);
            out[1] = static_cast<float>(sum.g * weight);
            out[2] = static_cast<float>(sum.b * weight);
        }
        if (progress && (j % 16 == 15 || j == size - 1)) {
            progress(static_cast<double>(j + 1) / size);
        }
    }
    return true;
}

}  // namespace lumeno::probe
