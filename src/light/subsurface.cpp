#include "light/subsurface.h"

#include <cmath>

#include "light/scattering.h"
#include "scene/material.h"

namespace lumeno {
namespace {

constexpr float kOneThird = 0.33333334f;
constexpr float kFourPi = 12.566371f;

// The medium coefficients of one colour channel. A channel whose extinction
// is 0 scatters nothing and is marked dead: it contributes nothing, so no
// 0/0 of it can reach the image.
struct Channel {
    float sigmaA = 0.0f;
    float sigmaS = 0.0f;
    float sigmaT = 0.0f;
    float sigmaTr = 0.0f;
    float albedo = 0.0f;
    bool dead = true;
};

Channel FromMap(const Material& material, float c) {
    float scaled = std::floor(c * 255.0f);
    int k = !(scaled > 0.0f) ? 0 : (scaled < 254.0f ? static_cast<int>(scaled) : 254);
    Channel ch;
    ch.albedo = material.sssTable[static_cast<std::size_t>(k)];
    ch.sigmaTr = 0.1f;
    ch.sigmaT = 0.1f / std::sqrt(3.0f * (1.0f - ch.albedo));
    ch.sigmaS = ch.albedo * ch.sigmaT;
    ch.sigmaA = ch.sigmaT - ch.sigmaS;
    ch.dead = !std::isfinite(ch.sigmaT) || !(ch.sigmaT > 0.0f);
    return ch;
}

Channel FromCoefficients(float sigmaA, float sigmaS) {
    Channel ch;
    ch.sigmaA = sigmaA;
    ch.sigmaS = sigmaS;
    ch.sigmaT = sigmaA + sigmaS;
    if (!(ch.sigmaT != 0.0f) || !std::isfinite(ch.sigmaT)) {
        return Channel{};
    }
    ch.sigmaTr = std::sqrt(3.0f * sigmaA * ch.sigmaT);
    ch.albedo = sigmaS / ch.sigmaT;
    ch.dead = false;
    return ch;
}

void Coefficients(const Material& material, float u, float v, Channel (&channels)[3]) {
    if (material.hasTexture) {
        Vec3 colour = MaterialColour(material, u, v);
        for (int c = 0; c < 3; ++c) {
            channels[c] = FromMap(material, colour[c]);
        }
    } else {
        for (int c = 0; c < 3; ++c) {
            channels[c] = FromCoefficients(material.sigmaA[c], material.sigmaS[c]);
        }
    }
}

}  // namespace

float DiffuseFresnelReflectance(float eta) {
    if (eta > 1.0f) {
        return -1.4399f / (eta * eta) + 0.7099f / eta + 0.6681f + 0.0636f * eta;
    }
    // The fit for relative indices up to 1.
    return -0.4399f + 0.7099f / eta - 0.3319f / (eta * eta) + 0.0636f / (eta * eta * eta);
}

DipoleSample DipoleReflectance(float r, float sigmaTr, float sigmaT, float eta) {
    float fdr = DiffuseFresnelReflectance(eta);
    float a = (1.0f + fdr) / (1.0f - fdr);
    DipoleSample sample;
    sample.pdf = sigmaTr * std::exp(-sigmaTr * r);
    float zr = 1.0f / sigmaT;
    float zv = zr + 1.3333334f * a;
    float dr = std::sqrt(r * r + zr * zr);
    float dv = std::sqrt(r * r + zv * zv);
    float s = zr * (sigmaTr + 1.0f / dr) * std::exp(-sigmaTr * dr) / (dr * dr) +
              zv * (sigmaTr + 1.0f / dv) * std::exp(-sigmaTr * dv) / (dv * dv);
    sample.rd = (s < 1.0f ? s : 1.0f) * 0.31830987f;
    return sample;
}

bool SampleDipoleOffset(Vec3 p, Vec3 t, Vec3 b, float sigmaTr, float q, Random& random, Vec3* point,
                        float* radius) {
    float xi1 = random.RandomUniformFloat();
    float r = std::log(xi1) * (-1.0f / sigmaTr);
    float xi2 = random.RandomUniformFloat();
    float phi = 6.2831855f * xi2;
    if (!std::isfinite(r)) {
        return false;
    }
    float rho = r * q;
    *point = p + (rho * std::cos(phi)) * t + (rho * std::sin(phi)) * b;
    *radius = r;
    return true;
}

bool RefractIntoMedium(Vec3 p, Vec3 d, Vec3 n, float sigmaA, float sigmaS, float scale,
                       Random& random, MediumPath* path) {
    float m = Dot(d, n);
    if (!(m < 0.0f)) {
        return false;
    }
    float c = -m;
    float k = 1.0f - (1.0f - c * c) * 0.591716f;
    if (!(k > 0.0f)) {
        return false;
    }
    Vec3 refracted = d * 0.7692308f + (c * 0.7692308f - std::sqrt(k)) * n;
    Vec3 origin = p + 0.00001f * refracted;
    refracted = Normalize(refracted);
    float xi = random.RandomUniformFloat();
    if (xi == 0.0f) {
        return false;  // an infinite free flight: no single scattering here
    }
    float s = -std::log(xi) / (0.5f * (sigmaA + sigmaS) * scale);
    path->direction = refracted;
    path->distance = s;
    path->point = origin + s * refracted;
    return true;
}

float HenyeyGreenstein(float g, float c) {
    return (1.0f - g * g) / (kFourPi * std::pow(1.0f + g * g - 2.0f * g * c, 1.5f));
}

float SingleScatter(Vec3 omega, Vec3 d, Vec3 refracted, Vec3 exitNormal, Vec3 n, float sigmaS,
                    float sigmaT, float exitDistance, float s, float eta, float scale) {
    float g = std::fabs(Dot(exitNormal, d) / Dot(omega, exitNormal));
    float sigmaTc = sigmaT * (1.0f + g);
    float eo = std::exp(-0.5f * sigmaT * exitDistance * scale);
    float ei = std::exp(-0.5f * sigmaT * s * scale);
    float phase = HenyeyGreenstein(0.8f, Dot(omega, refracted));
    float fo = SchlickTransmittance(eta, -Dot(omega, exitNormal));
    float fi = SchlickTransmittance(eta, -Dot(n, d));
    float v = sigmaS * 5.0000005f * (eo / sigmaTc) * phase * ei * fi * fo;
    return v > 1.0f ? 1.0f : v;
}

Vec3 ShadeTranslucent(const HitRecord& hit, Vec3 d, PathContext& context) {
    const Material& material = *hit.material;
    Vec3 result;

    // 1. One light for both terms.
    ProbeLightSample light = context.probe.PickProbeLight(context.random);
    Vec3 omega = light.direction;
    Vec3 lc = light.colour * light.weight;
    Vec3 lightPoint = hit.point + 10000000.0f * omega;

    // 2, 3. The medium at the hit, per channel and on average.
    Channel channels[3];
    Coefficients(material, hit.texU, hit.texV, channels);
    float meanAlbedo = (channels[0].albedo + channels[1].albedo + channels[2].albedo) * kOneThird;
    float meanSigmaTr =
        (channels[0].sigmaTr + channels[1].sigmaTr + channels[2].sigmaTr) * kOneThird;
    float meanSigmaT = meanSigmaTr / std::sqrt(3.0f * (1.0f - meanAlbedo));
    float meanSigmaS = meanAlbedo * meanSigmaT;
    float meanSigmaA = meanSigmaT - meanSigmaS;

    // 4. A probe point near the hit, projected back onto the surface.
    Vec3 probePoint;
    float radius = 0.0f;
    float q = 0.2f / context.settings.subsurfaceScale;
    if (SampleDipoleOffset(hit.point, hit.tangent, hit.bitangent, meanSigmaTr, q, context.random,
                           &probePoint, &radius) &&
        light.weight != 0.0f) {
        Vec3 origin = probePoint + 0.00001f * hit.normal;
        HitRecord above;
        HitRecord below;
        bool hitAbove = context.queries.FindNearestHit({origin, hit.normal}, above);
        bool hitBelow = context.queries.FindNearestHit({origin, -hit.normal}, below);
        bool takeAbove = hitAbove && (!hitBelow || above.distance < below.distance);
        const HitRecord& chosen = takeAbove ? above : below;
        bool chosenHit = takeAbove ? hitAbove : hitBelow;
        float sign = takeAbove ? -1.0f : 1.0f;
        if (chosenHit && chosen.distance >= 0.0f && chosen.distance < 10000.0f) {
            // 5. Multiple scattering at the projected point.
            Vec3 ns = sign * chosen.normal;
            float cl = Dot(omega, ns);
            if (!(cl > 0.0f)) {
                cl = 0.0f;
            }
            Vec3 e = lc * cl;
            if (material.hasTexture) {
                Coefficients(material, chosen.texU, chosen.texV, channels);
            }
            for (int c = 0; c < 3; ++c) {
                const Channel& ch = channels[c];
                if (ch.dead) {
                    continue;
                }
                DipoleSample dipole =
                    DipoleReflectance(radius, ch.sigmaTr, ch.sigmaT, material.refraction);
                float v = e[c] / dipole.pdf * dipole.rd;
                if (ch.albedo > 0.0f && ch.albedo <= 1.0f && v > 0.0f && v < 1.0f) {
                    result[c] += v * ch.albedo;
                }
            }
        }
    }

    // 6. Single scattering along the refracted view ray.
    MediumPath path;
    if (!RefractIntoMedium(hit.point, d, hit.normal, meanSigmaA, meanSigmaS,
                           context.settings.subsurfaceScale, context.random, &path) ||
        !(path.distance > 0.0001f) || light.weight == 0.0f) {
        return result;
    }
    HitRecord inside;
    if (!context.queries.FindNearestHit({hit.point + 0.0001f * d, path.direction}, inside) ||
        inside.material == nullptr || inside.material->kind != MaterialKind::Subsurface) {
        return result;
    }
    float s = path.distance;
    Vec3 x = path.point;
    if (inside.distance < s) {
        s = inside.distance;
        x = inside.point - 0.0001f * d;
    }
    HitRecord exit;
    if (!context.queries.FindNearestHit({x, omega}, exit) || exit.material == nullptr ||
        exit.material->kind != MaterialKind::Subsurface) {
        return result;
    }
    float co = std::fabs(Dot(exit.normal, omega));
    float etaExit = exit.material->refraction;
    float exitDistance =
        exit.distance * co / std::sqrt(1.0f - (1.0f - co * co) / (etaExit * etaExit));
    HitRecord blocker;
    Vec3 start = exit.point + 0.0001f * omega + 0.001f * omega;
    if (context.queries.IsOccluded(lightPoint, {start, omega}, blocker)) {
        return result;
    }
    for (int c = 0; c < 3; ++c) {
        const Channel& ch = channels[c];
        if (ch.dead) {
            continue;
        }
        float v =
            SingleScatter(omega, d, path.direction, exit.normal, hit.normal, ch.sigmaS, ch.sigmaT,
                          exitDistance, s, material.refraction, context.settings.subsurfaceScale);
        if (!(v > 0.0f)) {
            v = 0.0f;
        }
        result[c] = (result[c] + kFourPi * lc[c] * v) * 0.5f;
    }
    return result;
}

}  // namespace lumeno
