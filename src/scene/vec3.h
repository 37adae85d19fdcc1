// Vec3: three 32-bit floats used for points, directions and RGB colours
// (red in x). All geometry and shading runs on these in single precision, and
// the operations spell out their order of evaluation so that results are the
// same bits on every build.
#pragma once

#include <cmath>

namespace lumeno {

struct Vec3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;

    constexpr Vec3() = default;
    constexpr Vec3(float xIn, float yIn, float zIn) : x(xIn), y(yIn), z(zIn) {}

    float& operator[](int axis) { return axis == 0 ? x : (axis == 1 ? y : z); }
    float operator[](int axis) const { return axis == 0 ? x : (axis == 1 ? y : z); }
};

inline Vec3 operator+(Vec3 a, Vec3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Vec3 operator-(Vec3 a, Vec3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vec3 operator-(Vec3 a) {
    return {-a.x, -a.y, -a.z};
}
inline Vec3 operator*(Vec3 a, float s) {
    return {a.x * s, a.y * s, a.z * s};
}
inline Vec3 operator*(float s, Vec3 a) {
    return {s * a.x, s * a.y, s * a.z};
}
inline bool operator==(Vec3 a, Vec3 b) {
    return a.x == b.x && a.y == b.y && a.z == b.z;
}

// x·x' + y·y' + z·z', summed left to right.
inline float Dot(Vec3 a, Vec3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

// The camera code sums its dot products from z down: z·z' + y·y' + x·x'.
inline float DotZyx(Vec3 a, Vec3 b) {
    return a.z * b.z + a.y * b.y + a.x * b.x;
}

inline Vec3 Cross(Vec3 a, Vec3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

inline float Length(Vec3 a) {
    return std::sqrt(Dot(a, a));
}

// a divided by its length; the zero vector stays zero.
inline Vec3 Normalize(Vec3 a) {
    float length = Length(a);
    if (length == 0.0f) {
        return {};
    }
    return {a.x / length, a.y / length, a.z / length};
}

inline bool IsFinite(Vec3 a) {
    return std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(a.z);
}

// The unit vector perpendicular to unit vector n, built from the component of
// n smallest in magnitude (ties go to x, then y). Used for every triangle's
// face frame and for the camera basis.
inline Vec3 AnyPerpendicular(Vec3 n) {
    float ax = std::fabs(n.x);
    float ay = std::fabs(n.y);
    float az = std::fabs(n.z);
    float smallest = std::fmin(ax, std::fmin(ay, az));
    Vec3 t;
    if (ax == smallest) {
        t = {0.0f, -n.z, n.y};
    } else if (ay == smallest) {
        t = {-n.z, 0.0f, n.x};
    } else {
        t = {-n.y, n.x, 0.0f};
    }
    return Normalize(t);
}

}  // namespace lumeno
