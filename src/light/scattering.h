// Surface scattering building blocks for the diffuse, coated and glass
// material kinds: the diffuse colour lookup, cosine-weighted hemisphere
// sampling, mirror reflection, Schlick's Fresnel terms and refraction through
// glass. Pure functions of their arguments and, for the sampling, of the
// generator they are given.
#pragma once

#include "light/random.h"
#include "scene/material.h"
#include "spatial/ray.h"

namespace lumeno {

// The diffuse colour at texture coordinates (u, v): the layer's kd, or the
// bicubic map sample (0 … 255 scaled by 1/255) when a map is attached. The
// map's v axis runs up the picture; coordinates outside 0 … 1 take the edge.
// A material without a diffuse layer has the default grey.
Vec3 MaterialColour(const Material& material, float u, float v);

// A cosine-weighted direction around N in the face frame (T, B), from two
// draws (polar angle, then azimuth). The origin is P + 0.0001 · N. The
// direction is not normalized: with an interpolated N it may not be unit.
Ray SampleCosineDirection(Vec3 p, Vec3 n, Vec3 t, Vec3 b, Random& random);

// d mirrored about N: d − 2 (d · N) N.
inline Vec3 MirrorDirection(Vec3 d, Vec3 n) {
    float k = -2.0f * Dot(d, n);
    return d + k * n;
}

// Schlick's approximation of the Fresnel reflectance for relative index n at
// cosine c, and its complement. Neither is clamped.
float SchlickReflectance(float n, float c);
inline float SchlickTransmittance(float n, float c) {
    return 1.0f - SchlickReflectance(n, c);
}

// Refraction through glass with relative index eta (outer over inner). Side s
// (+1 on the face normal's side) chooses entering or leaving. Returns false
// under total internal reflection; otherwise *out has origin P − 0.00001 · N
// and the normalized refracted direction.
bool RefractGlass(Vec3 p, Vec3 d, Vec3 n, float s, float eta, Ray* out);

}  // namespace lumeno
