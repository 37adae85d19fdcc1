#include "render/wireframe_preview.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace lumeno {

namespace {

// Walks a line along its major axis from (a0, b0): n steps of sa, the minor
// coordinate stepping by sb whenever the error exceeds n. Only the steps whose
// major coordinate lies inside (0, majorLimit) are visited; the error at the
// first of them is computed directly (after j steps the minor coordinate has
// moved ceil(j · m / n) − 1 times, or 0 times for j · m = 0).
template <typename Plot>
void WalkLine(std::int64_t a0, std::int64_t b0, std::int64_t sa, std::int64_t sb, std::int64_t n,
              std::int64_t m, std::int64_t majorLimit, std::int64_t minorLimit, Plot plot) {
    std::int64_t first = sa > 0 ? 1 - a0 : a0 - (majorLimit - 1);
    std::int64_t last = sa > 0 ? majorLimit - 1 - a0 : a0 - 1;
    first = std::max<std::int64_t>(first, 0);
    last = std::min<std::int64_t>(last, n - 1);
    if (first > last) {
        return;
    }
    std::int64_t steps = first * m;
    std::int64_t minorSteps = steps > 0 ? (steps - 1) / n : 0;
    std::int64_t error = steps - minorSteps * n;
    for (std::int64_t j = first; j <= last; ++j) {
        std::int64_t b = b0 + sb * minorSteps;
        if (0 < b && b < minorLimit) {
            plot(a0 + sa * j, b);
        }
        error += m;
        if (error > n) {
            error -= n;
            ++minorSteps;
        }
    }
}

// Draws the edge between two projected corners. Ends too far out to be
// pixels are first pulled in along the edge to the square ±2^30, so the part
// inside the image keeps its course.
void DrawEdge(FloatPlane& plane, const ProjectedPoint& a, const ProjectedPoint& b) {
    constexpr double kLimit = 1073741824.0;  // 2^30
    double x0 = a.column;
    double y0 = a.row;
    double x1 = b.column;
    double y1 = b.row;
    if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1)) {
        return;
    }
    bool inRange = std::fabs(x0) <= kLimit && std::fabs(y0) <= kLimit && std::fabs(x1) <= kLimit &&
                   std::fabs(y1) <= kLimit;
    if (!inRange) {
        double t0 = 0.0;
        double t1 = 1.0;
        double dx = x1 - x0;
        double dy = y1 - y0;
        const double p[4] = {-dx, dx, -dy, dy};
        const double q[4] = {x0 + kLimit, kLimit - x0, y0 + kLimit, kLimit - y0};
        for (int k = 0; k < 4; ++k) {
            if (p[k] == 0.0) {
                if (q[k] < 0.0) {
                    return;
                }
                continue;
            }
            double r = q[k] / p[k];
            if (p[k] < 0.0) {
                t0 = std::max(t0, r);
            } else {
                t1 = std::min(t1, r);
            }
        }
        if (t0 > t1) {
            return;
        }
        double cx0 = x0 + t0 * dx;
        double cy0 = y0 + t0 * dy;
        x1 = std::clamp(x0 + t1 * dx, -kLimit, kLimit);
        y1 = std::clamp(y0 + t1 * dy, -kLimit, kLimit);
        x0 = std::clamp(cx0, -kLimit, kLimit);
        y0 = std::clamp(cy0, -kLimit, kLimit);
    }
    DrawLine(plane, static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1),
             static_cast<int>(y1));
}

}  // namespace

void DrawLine(FloatPlane& plane, int x0, int y0, int x1, int y1) {
    std::int64_t dx = std::int64_t{x1} - x0;
    std::int64_t dy = std::int64_t{y1} - y0;
    std::int64_t sx = dx < 0 ? -1 : 1;
    std::int64_t sy = dy < 0 ? -1 : 1;
    std::int64_t ax = dx < 0 ? -dx : dx;
    std::int64_t ay = dy < 0 ? -dy : dy;
    if (ax > ay) {
        WalkLine(x0, y0, sx, sy, ax, ay, plane.width, plane.height,
                 [&](std::int64_t x, std::int64_t y) {
                     plane.At(static_cast<int>(x), static_cast<int>(y)) = 0.0f;
                 });
    } else if (ay > 0) {
        WalkLine(y0, x0, sy, sx, ay, ax, plane.height, plane.width,
                 [&](std::int64_t y, std::int64_t x) {
                     plane.At(static_cast<int>(x), static_cast<int>(y)) = 0.0f;
                 });
    }
}

void DrawWireframePreview(const Camera& camera, const std::vector<Triangle*>& triangles,
                          FloatPlane& red, DibImage& image, DisplaySink& display) {
    int width = red.width;
    int height = red.height;
    if (!red.Empty()) {
        red.Fill(255.0f);
        for (const Triangle* t : triangles) {
            ProjectedPoint p0 = ProjectPoint(camera, t->p0, width, height);
            ProjectedPoint p1 = ProjectPoint(camera, t->p1, width, height);
            ProjectedPoint p2 = ProjectPoint(camera, t->p2, width, height);
            if (!(p0.depth > kPreviewNearDepth && p1.depth > kPreviewNearDepth &&
                  p2.depth > kPreviewNearDepth)) {
                continue;
            }
            DrawEdge(red, p0, p1);
            DrawEdge(red, p1, p2);
            DrawEdge(red, p0, p2);
        }
        if (!image.Empty() && image.width <= width && image.height <= height) {
            image.FromPlanes(red, red, red);
        }
    }
    display.SetTitle(SizeTitle(width, height, triangles.size()));
    display.ShowImage(image);
}

}  // namespace lumeno
