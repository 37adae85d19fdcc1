// The light list of a probe: median-cut sampling of the angular map. The map
// is split, region by region, into rectangles of equal energy, and each
// region becomes one directional light at the energy centroid of its region.
//
// Units: map values are the renderer's file values (radiance × 255). A light's
// colour is n times the region's radiance (file value / 255) integrated over
// its solid angle, n the number of lights: the renderer picks a light with
// probability p and weights it 1 / (n · p), so over many picks it delivers
// (1/n) · Σ colour · cos θ, the environment's irradiance up to how the light
// stands for its region. That last step is exact on average over the ways a
// surface can face; a surface that sees every region it faces whole (the
// floor under a uniform environment, whose cuts fall on the horizon) gets
// each region's energy at the region's mean cosine too high, about 2.5 % for
// 64 lights and 1.2 % for 128.
#pragma once

#include <string>
#include <vector>

#include "probe/angular_map.h"
#include "probe/hdr_image.h"
#include "probe/rgb.h"

namespace lumeno::probe {

// Solid angles of the pixels of a width × height angular map. Pixel (i, j)
// stands for the disc area of one pixel around map position (i, j); pixels
// whose centre lies outside the sphere's disc get none. The sum over all
// pixels is scaled to exactly 4π, which absorbs the small error of treating
// each pixel by its centre.
class MapSolidAngles {
  public:
    MapSolidAngles(int width, int height);
    double At(int i, int j) const;
    int Width() const { return width_; }
    int Height() const { return height_; }

  private:
    int width_;
    int height_;
    double scale_ = 0.0;
};

// Mean luminance of the map over the sphere, in file values.
double MeanLuminance(const HdrImage& map);

// Radiance (file value / 255) of each channel integrated over the sphere.
Rgb MapIntegral(const HdrImage& map);

struct MapRegion {
    int x0 = 0;  // pixel columns x0 … x1 − 1
    int y0 = 0;  // pixel rows y0 … y1 − 1
    int x1 = 0;
    int y1 = 0;
    // Whether a map position (renderer coordinates: pixel i at x = i) lies in
    // the region's pixels.
    bool Contains(double x, double y) const {
        return x >= x0 - 0.5 && x <= x1 - 0.5 && y >= y0 - 0.5 && y <= y1 - 0.5;
    }
};

struct ProbeLightRecord {
    Direction direction;  // unit, scene coordinates, toward the light
    double colour[3] = {0.0, 0.0, 0.0};
    double solidAngle = 0.0;  // of the region
    MapPosition position;     // where the direction lands in the map
    MapRegion region;
};

// Splits the map into at most count regions (fewer only when the map has too
// few lit pixels) and returns one light per region. Regions without energy
// are dropped, so no light has a zero colour. Empty when the map is black.
std::vector<ProbeLightRecord> MedianCutLights(const HdrImage& map, int count);

// The light list as the renderer reads it: "n size", then per light the file
// direction (x, −y, −z), the region's solid angle and the light's map position
// (which the renderer skips), and the colour.
std::string FormatLightList(const std::vector<ProbeLightRecord>& lights, int mapSize);

}  // namespace lumeno::probe
