// The two image layouts the probe tool maps between, and the one direction
// convention that ties them to the renderer.
//
// Directions are in scene coordinates, as the renderer traces them: +x to the
// right of the default camera, +y DOWN (the OBJ loader negates OBJ y and z),
// +z forward along the default camera's view. "Up" is therefore (0, −1, 0),
// the OBJ +y axis. The light list stores the file direction (x, −y, −z), which
// is the direction in OBJ coordinates (y up).
//
// Angular map (what the renderer reads): a disc inscribed in the image. The
// forward direction +z is the centre, the horizon plane is the middle row,
// up is toward the top row, +x toward the right; the angle θ from +z grows
// linearly with the distance from the centre and reaches the rim at θ ≈ π.
// Pixel column i is sampled at x = i (no half-pixel shift), so pixel (i, j)
// holds the radiance of the direction at map position (i, j). The renderer
// divides by 3.14159 rather than π; the tool uses the same constant so that a
// direction it writes comes back to exactly the position it came from.
//
// Equirectangular (latitude-longitude) sources: the top row is the zenith,
// the bottom row the nadir, the middle row the horizon. The middle column
// faces forward (+z, the direction the default camera looks, OBJ −z);
// longitude grows to the right, so three quarters of the way across faces +x
// and the left and right edges face backward (−z). Pixel centres lie at
// half-integer positions (s = i + 0.5).
#pragma once

#include <cmath>

namespace lumeno::probe {

struct Direction {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

inline constexpr double kPi = 3.14159265358979323846;
// The renderer's angular-map constant (not π to full precision).
inline constexpr double kMapPi = 3.14159;

inline Direction Normalized(Direction d) {
    double length = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
    if (length == 0.0) {
        return {0.0, 0.0, 1.0};
    }
    return {d.x / length, d.y / length, d.z / length};
}

inline double Dot(Direction a, Direction b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

// Up in scene coordinates.
inline constexpr Direction kUp{0.0, -1.0, 0.0};

// Position in a width × height angular map (x = u · width, y = v · height)
// of the unit direction d, as the renderer's environment lookup computes it,
// before its clamping to the image. The limit along +x is taken where
// dx = dy = 0: the centre for +z, a point of the rim for −z.
struct MapPosition {
    double x = 0.0;
    double y = 0.0;
};

inline MapPosition DirectionToAngularMap(Direction d, int width, int height) {
    double radial = std::sqrt(d.x * d.x + d.y * d.y);
    double z = d.z > 1.0 ? 1.0 : (d.z < -1.0 ? -1.0 : d.z);
    double u;
    double v;
    if (radial > 0.0) {
        double f = std::acos(z) / (radial * kMapPi);
        u = (d.x * f + 1.0) * 0.5;
        v = (d.y * f + 1.0) * 0.5;
    } else {
        u = (std::acos(z) / kMapPi + 1.0) * 0.5;
        v = 0.5;
    }
    return {u * width, v * height};
}

// The disc coordinates (a, b) ∈ [−1, 1]² of a map position, and their radius.
inline double MapRadius(double x, double y, int width, int height) {
    double a = 2.0 * x / width - 1.0;
    double b = 2.0 * y / height - 1.0;
    return std::sqrt(a * a + b * b);
}

// Radius at which the map reaches the backward direction −z.
inline constexpr double kRimRadius = kPi / kMapPi;

// The unit direction at map position (x, y). Positions outside the disc
// continue the mapping past −z (θ > π), which folds back onto the far side of
// the sphere: the map then stays smooth across its rim, which is what the
// renderer's bicubic lookup near the rim needs.
inline Direction AngularMapToDirection(double x, double y, int width, int height) {
    double a = 2.0 * x / width - 1.0;
    double b = 2.0 * y / height - 1.0;
    double r = std::sqrt(a * a + b * b);
    if (r == 0.0) {
        return {0.0, 0.0, 1.0};
    }
    double theta = kMapPi * r;
    double s = std::sin(theta) / r;
    return {a * s, b * s, std::cos(theta)};
}

// Solid angle per unit of disc area (da · db) at radius r: dω = sin θ dθ dα
// with θ = kMapPi · r and da db = r dr dα. Zero outside the sphere's disc.
inline double AngularMapDensity(double r) {
    if (r >= kRimRadius) {
        return 0.0;
    }
    if (r < 1e-12) {
        return kMapPi * kMapPi;
    }
    return kMapPi * std::sin(kMapPi * r) / r;
}

// Equirectangular position (s, t) in a width × height image of the unit
// direction d: s ∈ [0, width), t ∈ [0, height].
struct EquirectPosition {
    double s = 0.0;
    double t = 0.0;
};

inline EquirectPosition DirectionToEquirect(Direction d, int width, int height) {
    double up = -d.y;
    up = up > 1.0 ? 1.0 : (up < -1.0 ? -1.0 : up);
    double theta = std::acos(up);       // from the zenith
    double phi = std::atan2(d.x, d.z);  // from forward, toward +x
    double s = (phi / (2.0 * kPi) + 0.5) * width;
    if (s >= width) {
        s -= width;
    }
    return {s, theta / kPi * height};
}

inline Direction EquirectToDirection(double s, double t, int width, int height) {
    double phi = (s / width - 0.5) * 2.0 * kPi;
    double theta = t / height * kPi;
    double sinTheta = std::sin(theta);
    return {sinTheta * std::sin(phi), -std::cos(theta), sinTheta * std::cos(phi)};
}

}  // namespace lumeno::probe
