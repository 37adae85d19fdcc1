#include "light/scattering.h"

#include <cmath>

#include "light/light_probe.h"

namespace lumeno {

Vec3 MaterialColour(const Material& material, float u, float v) {
    const DiffuseLayer* layer = material.diffuse.get();
    if (layer == nullptr) {
        return kDefaultDiffuse;
    }
    if (!layer->hasMap || layer->mapR == nullptr || layer->mapG == nullptr ||
        layer->mapB == nullptr) {
        return layer->kd;
    }
    float w = layer->mapWidth;
    float h = layer->mapHeight;
    float x = u * w;
    float y = (1.0f - v) * h;
    x = !(x > 0.0f) ? 0.0f : (x < w - 1.0f ? x : w - 1.0f);
    y = !(y > 0.0f) ? 0.0f : (y < h - 1.0f ? y : h - 1.0f);
    const float scale = 0.003921569f;
    // The three channels share their taps (and give the bits of three
    // separate lookups).
    const Vec3 sample = SampleBicubic(*layer->mapR, *layer->mapG, *layer->mapB, x, y);
    return {sample.x * scale, sample.y * scale, sample.z * scale};
}

Ray SampleCosineDirection(Vec3 p, Vec3 n, Vec3 t, Vec3 b, Random& random) {
    Ray ray;
    ray.origin = p + 0.0001f * n;
    float xi1 = random.RandomUniformFloat();
    float xi2 = random.RandomUniformFloat();
    float theta = std::acos(std::sqrt(xi1));
    float phi = 6.2831855f * xi2;
    float sinTheta = std::sin(theta);
    ray.direction =
        (sinTheta * std::cos(phi)) * t + (sinTheta * std::sin(phi)) * b + std::cos(theta) * n;
    return ray;
}

float SchlickReflectance(float n, float c) {
    float ratio = (1.0f - n) / (1.0f + n);
    float r0 = ratio * ratio;
    float m = 1.0f - c;
    float m5 = m * m * m * m * m;
    return r0 + (1.0f - r0) * m5;
}

bool RefractGlass(Vec3 p, Vec3 d, Vec3 n, float s, float eta, Ray* out) {
    float c = -Dot(d, n) * s;
    Vec3 direction;
    if (c >= 0.0f) {
        float k = 1.0f - eta * eta * (1.0f - c * c);
        if (k <= 0.0f) {
            return false;
        }
        direction = eta * d + (eta * c - std::sqrt(k)) * n;
    } else {
        float cOut = -c;
        float k = 1.0f - (1.0f - cOut * cOut) / (eta * eta);
        if (k <= 0.0f) {
            return false;
        }
        Vec3 scaled{d.x / eta, d.y / eta, d.z / eta};
        direction = scaled + (cOut / eta - std::sqrt(k)) * n;
    }
    out->origin = p - 0.00001f * n;
    out->direction = Normalize(direction);
    return true;
}

}  // namespace lumeno
