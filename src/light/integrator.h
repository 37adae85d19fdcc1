// The path tracing integrator: the radiance arriving along a ray. One path
// per camera sample; at each surface hit the material kind decides how the
// point is lit (one shadow-tested probe light for diffuse and coated points,
// the subsurface model for translucent ones) and whether the path goes on.
// A path ends at the depth limit, when it leaves the scene (the environment
// answers), or at a material that does not continue it.
//
// Everything a path needs travels in a PathContext: where its ray queries
// go, the light probe, the generator it draws from, and its counters. The
// exact mode and the parallel mode differ only in the generator and the
// query bookkeeping they put there.
#pragma once

#include "light/light_probe.h"
#include "light/random.h"
#include "spatial/ray_queries.h"

namespace lumeno {

inline constexpr int kMaxPathDepth = 5;
inline constexpr int kMaxRefractions = 8;
inline constexpr float kRenderSubsurfaceScale = 5.0f;

// The integrator's settings, owned by the render session: the path depth
// limit and the scale of the subsurface model (distances inside translucent
// materials are divided by it; rendering uses 5).
struct IntegratorSettings {
    int maxPathDepth = kMaxPathDepth;
    float subsurfaceScale = kRenderSubsurfaceScale;
};

struct PathContext {
    RayQueries& queries;
    const LightProbe& probe;
    Random& random;
    IntegratorSettings settings;
    // Per camera sample: Trace calls so far, and successful refractions.
    int pathDepth = 0;
    int refractionCount = 0;

    // Zeroes the per-sample counters before a camera ray.
    void StartSample() {
        pathDepth = 0;
        refractionCount = 0;
    }
};

struct TraceResult {
    Vec3 radiance;
    // True when the ray left the scene (or the path was cut at a limit, so
    // that the caller keeps its whole direct term).
    bool escaped = false;
};

TraceResult Trace(const Ray& ray, PathContext& context);

// Radiance leaving the hit toward the ray's origin; d is the ray direction.
Vec3 Shade(const HitRecord& hit, Vec3 d, PathContext& context);

// One-sample estimate of the irradiance the probe lights deliver at p through
// a surface with normal n, with one shadow ray. Black without lights.
Vec3 DirectProbeLight(Vec3 p, Vec3 n, PathContext& context);

}  // namespace lumeno
