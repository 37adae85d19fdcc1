// Environments the probe tool can turn into an angular map: an
// equirectangular image, an angular map (taken as it stands or resampled),
// and the built-in procedural sky. Each answers the radiance arriving from a
// direction, averaged over a cone of a given angular width, so that the
// resampler can shrink a large source without aliasing.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "probe/angular_map.h"
#include "probe/hdr_image.h"
#include "probe/rgb.h"

namespace lumeno::probe {

class Environment {
  public:
    virtual ~Environment() = default;
    // Radiance from unit direction d, filtered over about footprint radians.
    virtual Rgb Radiance(Direction d, double footprint) const = 0;
};

// A source image and its box-filtered halvings, sampled bilinearly between
// pixel centres and linearly between levels.
class ImagePyramid {
  public:
    // wrapX: the left and right edges meet (equirectangular longitude).
    ImagePyramid(HdrImage image, bool wrapX);

    int Levels() const { return static_cast<int>(levels_.size()); }
    const HdrImage& Level(int i) const { return levels_[static_cast<std::size_t>(i)]; }

    // (s, t) in units of level-0 pixels, pixel centres at i + 0.5; level a
    // fractional level of detail (0 = full resolution).
    Rgb Sample(double s, double t, double level) const;

  private:
    Rgb SampleLevel(int level, double s, double t) const;

    std::vector<HdrImage> levels_;
    bool wrapX_;
};

class EquirectEnvironment : public Environment {
  public:
    explicit EquirectEnvironment(HdrImage image);
    Rgb Radiance(Direction d, double footprint) const override;

  private:
    ImagePyramid pyramid_;
    int width_;
    int height_;
};

class AngularMapEnvironment : public Environment {
  public:
    explicit AngularMapEnvironment(HdrImage image);
    Rgb Radiance(Direction d, double footprint) const override;

  private:
    ImagePyramid pyramid_;
    int width_;
    int height_;
};

// A clear day: a sky whose blue deepens from a pale horizon to the zenith, a
// sunlit ground, and a sun disk of radius 2° (four times the real one, so a
// small map still resolves it). Sun angles in degrees: elevation above the
// horizon, azimuth from forward (+z) turning toward +x.
struct SkyParameters {
    double sunElevation = 35.0;
    double sunAzimuth = -135.0;
};

class SkyEnvironment : public Environment {
  public:
    explicit SkyEnvironment(SkyParameters parameters);
    Rgb Radiance(Direction d, double footprint) const override;

    Direction SunDirection() const { return sun_; }
    static constexpr double kSunRadius = 2.0 * kPi / 180.0;

  private:
    Direction sun_;
    Rgb sunRadiance_;
    Rgb groundRadiance_;
};

// Called now and then with the fraction of the work done.
using ProgressCallback = std::function<void(double)>;

// Renders env into a size × size angular map (rows top first, the renderer's
// layout): each pixel averages supersamples × supersamples directions spread
// over its footprint. False when memory runs out.
bool RenderAngularMap(const Environment& env, int size, HdrImage& map, int supersamples = 4,
                      const ProgressCallback& progress = {});

}  // namespace lumeno::probe
