// Subsurface scattering for translucent materials: light enters, scatters
// inside and leaves elsewhere. ShadeTranslucent lights a hit with one probe
// light through two terms: multiple scattering (a dipole diffusion profile at
// one random point on the surface near the hit) and single scattering (one
// event along the view ray refracted into the medium). It never continues the
// path, so translucent surfaces receive no indirect light.
#pragma once

#include "light/integrator.h"

namespace lumeno {

Vec3 ShadeTranslucent(const HitRecord& hit, Vec3 d, PathContext& context);

// The fit of the hemispherical diffuse Fresnel reflectance; 0.0017 at η = 1.
float DiffuseFresnelReflectance(float eta);

struct DipoleSample {
    float rd = 0.0f;   // diffuse reflectance of the dipole at the radius
    float pdf = 0.0f;  // density of picking the radius with rate σtr
};
DipoleSample DipoleReflectance(float r, float sigmaTr, float sigmaT, float eta);

// A point on the tangent plane at radius r · q from P, r exponential with rate
// sigmaTr; two draws (radius, azimuth). False when the radius draw was 0 (the
// radius would be infinite): there is then no probe point.
bool SampleDipoleOffset(Vec3 p, Vec3 t, Vec3 b, float sigmaTr, float q, Random& random, Vec3* point,
                        float* radius);

struct MediumPath {
    Vec3 direction;  // the refracted direction, normalized
    float distance = 0.0f;
    Vec3 point;  // where the free flight ends
};
// The view ray refracted into a medium of index 1.3, and one free-flight
// distance (one draw). False when the ray does not enter, under total
// internal reflection, or when the distance draw was 0.
bool RefractIntoMedium(Vec3 p, Vec3 d, Vec3 n, float sigmaA, float sigmaS, float scale,
                       Random& random, MediumPath* path);

float SingleScatter(Vec3 omega, Vec3 d, Vec3 refracted, Vec3 exitNormal, Vec3 n, float sigmaS,
                    float sigmaT, float exitDistance, float s, float eta, float scale);

// The Henyey–Greenstein phase function; 1/(4π) for g = 0.
float HenyeyGreenstein(float g, float c);

}  // namespace lumeno
