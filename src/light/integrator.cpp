#include "light/integrator.h"

#include "light/scattering.h"
#include "light/subsurface.h"
#include "scene/material.h"

namespace lumeno {
namespace {

constexpr float kInversePi = 0.31830987f;
constexpr float kGlassRelativeIndex = 0.6666667f;

// Each component not greater than 0 (NaN included) becomes 0.
Vec3 ClampNegative(Vec3 v) {
    return {v.x > 0.0f ? v.x : 0.0f, v.y > 0.0f ? v.y : 0.0f, v.z > 0.0f ? v.z : 0.0f};
}

Vec3 Multiply(Vec3 a, Vec3 b) {
    return {a.x * b.x, a.y * b.y, a.z * b.z};
}

float Sum(Vec3 v) {
    return v.x + v.y + v.z;
}

Vec3 ShadeDiffuse(const HitRecord& hit, PathContext& context) {
    Vec3 kd = MaterialColour(*hit.material, hit.texU, hit.texV);
    Vec3 light = DirectProbeLight(hit.point, hit.normal, context);
    Vec3 result = Multiply(kd, light) * kInversePi;
    Ray next =
        SampleCosineDirection(hit.point, hit.normal, hit.tangent, hit.bitangent, context.random);
    TraceResult indirect = Trace(next, context);
    if (!indirect.escaped) {
        result = (result + Multiply(2.0f * ClampNegative(indirect.radiance), kd)) * 0.5f;
    }
    return result;
}

Vec3 ShadeCoated(const HitRecord& hit, Vec3 d, PathContext& context) {
    const Material& material = *hit.material;
    Vec3 kd = MaterialColour(material, hit.texU, hit.texV);
    float kdSum = Sum(kd);
    float denominator = kdSum + Sum(material.ks);
    if (!(denominator != 0.0f)) {
        return {};  // neither a diffuse base nor a coat: nothing to reflect
    }
    float pd = kdSum / denominator;
    float f = SchlickReflectance(material.refraction, -Dot(d, hit.normal));
    f = !(f > 0.0f) ? 0.0f : (f < 1.0f ? f : 1.0f);
    // The draw is compared at its full precision: rounded to a float, one
    // just below pd could round up to it and choose the wrong branch.
    double xi = context.random.RandomUniform();
    if (xi < pd) {
        Vec3 result = Multiply(kd, DirectProbeLight(hit.point, hit.normal, context)) * kInversePi;
        Ray next = SampleCosineDirection(hit.point, hit.normal, hit.tangent, hit.bitangent,
                                         context.random);
        TraceResult indirect = Trace(next, context);
        if (!indirect.escaped) {
            Vec3 weighted = Multiply((2.0f * (1.0f - f)) * ClampNegative(indirect.radiance), kd);
            Vec3 scaled{weighted.x / pd, weighted.y / pd, weighted.z / pd};
            result = (result + scaled) * 0.5f;
        }
        return result;
    }
    Vec3 r = MirrorDirection(d, hit.normal);
    TraceResult mirrored = Trace({hit.point + 0.0001f * r, r}, context);
    Vec3 tinted = Multiply(mirrored.radiance, material.ks) * f;
    float share = 1.0f - pd;
    return {tinted.x / share, tinted.y / share, tinted.z / share};
}

Vec3 ShadeGlass(const HitRecord& hit, Vec3 d, PathContext& context) {
    float transmittance = SchlickTransmittance(1.5f, -Dot(d, hit.normal));
    if (!(transmittance > 0.0f)) {
        transmittance = 0.0f;
    }
    Ray refracted;
    if (RefractGlass(hit.point, d, hit.normal, hit.side, kGlassRelativeIndex, &refracted)) {
        ++context.refractionCount;
        return Trace(refracted, context).radiance * transmittance;
    }
    // Total internal reflection: the mirror ray carries the material's Ks.
    Vec3 r = MirrorDirection(d, hit.normal);
    TraceResult mirrored = Trace({hit.point + 0.0001f * r, r}, context);
    return Multiply(mirrored.radiance, hit.material->ks);
}

}  // namespace

TraceResult Trace(const Ray& ray, PathContext& context) {
    ++context.pathDepth;
    if (context.pathDepth > context.settings.maxPathDepth + context.refractionCount ||
        context.refractionCount > kMaxRefractions) {
        return {{}, true};
    }
    HitRecord hit;
    if (context.queries.FindNearestHit(ray, hit)) {
        return {Shade(hit, ray.direction, context), false};
    }
    return {context.probe.LookupEnvironment(ray.direction), true};
}

Vec3 Shade(const HitRecord& hit, Vec3 d, PathContext& context) {
    if (hit.material == nullptr) {
        return {};
    }
    switch (hit.material->kind) {
        case MaterialKind::Diffuse:
            return ShadeDiffuse(hit, context);
        case MaterialKind::Coated:
            return ShadeCoated(hit, d, context);
        case MaterialKind::Glass:
            return ShadeGlass(hit, d, context);
        case MaterialKind::Subsurface:
            return ShadeTranslucent(hit, d, context);
        case MaterialKind::Emissive:
            break;
    }
    return {};
}

Vec3 DirectProbeLight(Vec3 p, Vec3 n, PathContext& context) {
    ProbeLightSample light = context.probe.PickProbeLight(context.random);
    if (light.weight == 0.0f) {
        return {};  // no lights, or one worth nothing: no shadow ray needed
    }
    Vec3 omega = light.direction;
    HitRecord shadow;
    if (context.queries.FindNearestHit({p + 0.001f * omega, omega}, shadow)) {
        return {};  // the lights are infinitely far: every hit blocks
    }
    float c = Dot(omega, n);
    if (!(c > 0.0f)) {
        return {};
    }
    return {light.colour.x * c * light.weight, light.colour.y * c * light.weight,
            light.colour.z * c * light.weight};
}

}  // namespace lumeno
