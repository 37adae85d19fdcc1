#include "probe/median_cut.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <queue>

namespace lumeno::probe {
namespace {

constexpr double kInverse255 = 1.0 / 255.0;

// A light placed at its region's direction centroid must land at least this
// far (in pixels) inside the region, so that the renderer's float arithmetic
// cannot carry it across the border.
constexpr double kInsideMargin = 0.25;

// Keeps "-0" out of the file.
double Tidy(double v) {
    return v == 0.0 ? 0.0 : v;
}

struct Region {
    MapRegion box;
    double energy = 0.0;
};

struct ByEnergy {
    bool operator()(const Region& a, const Region& b) const { return a.energy < b.energy; }
};

// Luminance energy (luminance × solid angle) of every pixel, row-major.
std::vector<double> PixelEnergies(const HdrImage& map, const MapSolidAngles& solidAngles) {
    std::vector<double> energies(static_cast<std::size_t>(map.width) * map.height);
    for (int j = 0; j < map.height; ++j) {
        for (int i = 0; i < map.width; ++i) {
            const float* p = map.Pixel(i, j);
            energies[static_cast<std::size_t>(j) * map.width + i] =
                Luminance(p[0], p[1], p[2]) * solidAngles.At(i, j);
        }
    }
    return energies;
}

// How far, in radians on the sphere, one pixel step along x and along y moves
// the direction at map position (x, y).
void AngularRates(double x, double y, int width, int height, double* alongX, double* alongY) {
    double a = 2.0 * x / width - 1.0;
    double b = 2.0 * y / height - 1.0;
    double r = std::sqrt(a * a + b * b);
    double radial = kMapPi;
    double tangential = r > 1e-9 ? std::fabs(std::sin(kMapPi * r)) / r : kMapPi;
    double ca = r > 1e-9 ? a / r : 1.0;
    double cb = r > 1e-9 ? b / r : 0.0;
    // Moving along a changes the radius by ca and the angle around the centre
    // by −cb / r; θ = kMapPi · r, and the angle around counts sin θ.
    *alongX =
        std::sqrt(radial * radial * ca * ca + tangential * tangential * cb * cb) * 2.0 / width;
    *alongY =
        std::sqrt(radial * radial * cb * cb + tangential * tangential * ca * ca) * 2.0 / height;
}

// Splits region at the energy median across its longer side (rows on a tie),
// measured on the sphere around the region's energy centroid, so that regions
// stay compact in direction rather than in pixels; across the other side
// when all energy lies in one row or column. False when all its energy lies
// in one pixel.
bool Split(const Region& region, const std::vector<double>& energies, int width, int height,
           Region& first, Region& second) {
    const MapRegion& b = region.box;
    std::vector<double> rows(static_cast<std::size_t>(b.y1 - b.y0), 0.0);
    std::vector<double> columns(static_cast<std::size_t>(b.x1 - b.x0), 0.0);
    for (int j = b.y0; j < b.y1; ++j) {
        const double* row = energies.data() + static_cast<std::size_t>(j) * width;
        double sum = 0.0;
        for (int i = b.x0; i < b.x1; ++i) {
            sum += row[i];
            columns[static_cast<std::size_t>(i - b.x0)] += row[i];
        }
        rows[static_cast<std::size_t>(j - b.y0)] = sum;
    }
    double total = 0.0;
    double cx = 0.0;
    double cy = 0.0;
    for (std::size_t k = 0; k < rows.size(); ++k) {
        total += rows[k];
        cy += rows[k] * (b.y0 + static_cast<double>(k));
    }
    for (std::size_t k = 0; k < columns.size(); ++k) {
        cx += columns[k] * (b.x0 + static_cast<double>(k));
    }
    if (!(total > 0.0)) {
        return false;
    }
    double alongX = 0.0;
    double alongY = 0.0;
    AngularRates(cx / total, cy / total, width, height, &alongX, &alongY);
    double extentX = (b.x1 - b.x0) * alongX;
    double extentY = (b.y1 - b.y0) * alongY;
    bool rowsFirst = extentY >= extentX;
    for (int attempt = 0; attempt < 2; ++attempt) {
        bool acrossRows = attempt == 0 ? rowsFirst : !rowsFirst;
        const std::vector<double>& marginal = acrossRows ? rows : columns;
        int start = acrossRows ? b.y0 : b.x0;
        int count = static_cast<int>(marginal.size());
        int lo = -1;
        int hi = -1;
        for (int k = 0; k < count; ++k) {
            if (marginal[static_cast<std::size_t>(k)] > 0.0) {
                lo = lo < 0 ? k : lo;
                hi = k;
            }
        }
        if (lo < 0 || lo == hi) {
            continue;
        }
        // Cut before index cut: after the first k whose prefix reaches half
        // the energy, or before it when that balances better. Both sides keep
        // some energy.
        double prefix = 0.0;
        int cut = hi;
        double before = total - marginal[static_cast<std::size_t>(hi)];
        for (int k = lo; k < hi; ++k) {
            double next = prefix + marginal[static_cast<std::size_t>(k)];
            if (next >= 0.5 * total) {
                bool after = next - 0.5 * total <= 0.5 * total - prefix || k == lo;
                cut = after ? k + 1 : k;
                before = after ? next : prefix;
                break;
            }
            prefix = next;
        }
        first = region;
        second = region;
        if (acrossRows) {
            first.box.y1 = start + cut;
            second.box.y0 = start + cut;
        } else {
            first.box.x1 = start + cut;
            second.box.x0 = start + cut;
        }
        first.energy = before;
        second.energy = total - before;
        return true;
    }
    return false;
}

}  // namespace

MapSolidAngles::MapSolidAngles(int width, int height) : width_(width), height_(height) {
    double sum = 0.0;
    for (int j = 0; j < height; ++j) {
        for (int i = 0; i < width; ++i) {
            sum += AngularMapDensity(MapRadius(i, j, width, height));
        }
    }
    scale_ = sum > 0.0 ? 4.0 * kPi / sum : 0.0;
}

double MapSolidAngles::At(int i, int j) const {
    return AngularMapDensity(MapRadius(i, j, width_, height_)) * scale_;
}

double MeanLuminance(const HdrImage& map) {
    Rgb integral = MapIntegral(map);
    return Luminance(integral.r, integral.g, integral.b) * 255.0 / (4.0 * kPi);
}

Rgb MapIntegral(const HdrImage& map) {
    MapSolidAngles solidAngles(map.width, map.height);
    Rgb sum;
    for (int j = 0; j < map.height; ++j) {
        for (int i = 0; i < map.width; ++i) {
            double omega = solidAngles.At(i, j) * kInverse255;
            const float* p = map.Pixel(i, j);
            sum.r += p[0] * omega;
            sum.g += p[1] * omega;
            sum.b += p[2] * omega;
        }
    }
    return sum;
}

std::vector<ProbeLightRecord> MedianCutLights(const HdrImage& map, int count) {
    std::vector<ProbeLightRecord> lights;
    if (map.width < 1 || map.height < 1 || count < 1) {
        return lights;
    }
    MapSolidAngles solidAngles(map.width, map.height);
    std::vector<double> energies = PixelEnergies(map, solidAngles);
    Region whole;
    whole.box = {0, 0, map.width, map.height};
    for (double e : energies) {
        whole.energy += e;
    }
    if (!(whole.energy > 0.0)) {
        return lights;
    }

    std::priority_queue<Region, std::vector<Region>, ByEnergy> open;
    std::vector<Region> done;
    open.push(whole);
    while (!open.empty() && open.size() + done.size() < static_cast<std::size_t>(count)) {
        Region region = open.top();
        open.pop();
        Region first;
        Region second;
        if (!Split(region, energies, map.width, map.height, first, second)) {
            done.push_back(region);
            continue;
        }
        open.push(first);
        open.push(second);
    }
    while (!open.empty()) {
        done.push_back(open.top());
        open.pop();
    }

    double n = static_cast<double>(done.size());
    for (const Region& region : done) {
        const MapRegion& b = region.box;
        ProbeLightRecord light;
        light.region = b;
        Direction moment;
        // Per channel, the region's radiance integrated over its solid angle.
        double energy[3] = {0.0, 0.0, 0.0};
        double cx = 0.0;
        double cy = 0.0;
        double luminanceEnergy = 0.0;
        for (int j = b.y0; j < b.y1; ++j) {
            for (int i = b.x0; i < b.x1; ++i) {
                double omega = solidAngles.At(i, j);
                if (omega == 0.0) {
                    continue;
                }
                const float* p = map.Pixel(i, j);
                light.solidAngle += omega;
                Direction d = AngularMapToDirection(i, j, map.width, map.height);
                for (int c = 0; c < 3; ++c) {
                    energy[c] += p[c] * omega;
                }
                double e = energies[static_cast<std::size_t>(j) * map.width + i];
                moment.x += e * d.x;
                moment.y += e * d.y;
                moment.z += e * d.z;
                cx += e * i;
                cy += e * j;
                luminanceEnergy += e;
            }
        }
        // The energy centroid on the sphere; where it would fall outside the
        // region (a region curved around the map's rim, or one spanning
        // opposite directions) the centroid in the map stands in, which a
        // rectangle always contains.
        double length = std::sqrt(Dot(moment, moment));
        bool useMoment = length > 1e-9 * luminanceEnergy;
        if (useMoment) {
            light.direction = Normalized(moment);
            light.position = DirectionToAngularMap(light.direction, map.width, map.height);
            useMoment = light.position.x >= b.x0 - 0.5 + kInsideMargin &&
                        light.position.x <= b.x1 - 0.5 - kInsideMargin &&
                        light.position.y >= b.y0 - 0.5 + kInsideMargin &&
                        light.position.y <= b.y1 - 0.5 - kInsideMargin;
        }
        if (!useMoment) {
            light.direction = AngularMapToDirection(cx / luminanceEnergy, cy / luminanceEnergy,
                                                    map.width, map.height);
            light.position = DirectionToAngularMap(light.direction, map.width, map.height);
        }
        // Each light carries its region's whole energy. Over all the ways a
        // surface can face, Σ energy · max(0, cos θ) then averages to the
        // environment's true irradiance; a surface that sees a region whole
        // gets slightly more than the region gives (by the inverse of its
        // mean cosine to the light), one at the region's edge slightly less.
        for (int c = 0; c < 3; ++c) {
            light.colour[c] = energy[c];
        }
        for (double& c : light.colour) {
            c *= n * kInverse255;
        }
        lights.push_back(light);
    }
    return lights;
}

std::string FormatLightList(const std::vector<ProbeLightRecord>& lights, int mapSize) {
    std::string text = std::to_string(lights.size()) + " " + std::to_string(mapSize) + "\n";
    char line[512];
    for (const ProbeLightRecord& light : lights) {
        // The file holds directions in the OBJ frame (y up); the renderer
        // negates y and z on reading.
        std::snprintf(line, sizeof line, "%.9g %.9g %.9g  %.6g %.3f %.3f  %.9g %.9g %.9g\n",
                      Tidy(light.direction.x), Tidy(-light.direction.y), Tidy(-light.direction.z),
                      light.solidAngle, light.position.x, light.position.y, light.colour[0],
                      light.colour[1], light.colour[2]);
        text += line;
    }
    return text;
}

}  // namespace lumeno::probe
