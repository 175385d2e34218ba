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

// Transverse Mercator of one point: phi the latitude and lambda the longitude from the central meridian,
// radians. x and y in metres from the central meridian and the equator (scale k0 applied), gamma the
// meridian convergence in degrees, k the point scale.
struct Projected {
    double x, y, gamma, k;
};
Projected krugerForward(const KrugerSeries& series, double phi, double lambda);

}  // namespace tervolo::geodesy::detail
