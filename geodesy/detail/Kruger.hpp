#pragma once

#include "geodesy/Ellipsoid.hpp"

namespace tervolo::geodesy::detail {

// Constants of Krüger's sixth-order transverse Mercator series for one ellipsoid.
struct KrugerSeries {
    double a;         // semi-major axis, metres
    double e;         // first eccentricity
    double e2;        // e²
    double A;         // radius of the rectifying circle, metres
    double alpha[7];  // forward coefficients, index 1…6
    double beta[7];   // inverse coefficients, index 1…6
};

// Computed once per ellipsoid from its a and f (the values are those of evaluating the polynomials in n
// for every conversion; only the repetition is saved).
const KrugerSeries& krugerSeries(Ellipsoid ellipsoid);

}  // namespace tervolo::geodesy::detail
