#pragma once

namespace tervolo::geodesy {

// Reference ellipsoids. The order of the cases is the index into the constant tables.
enum class Ellipsoid {
    WGS84,
    Airy1830,
    AiryModified,
    Bessel1841,
    Clarke1866,
    Clarke1880IGN,
    GRS80,
    Intl1924,
    WGS72
};

inline constexpr int kEllipsoidCount = 9;

// Semi-major axis, metres.
double a(Ellipsoid ellipsoid);
// Semi-minor axis, metres.
double b(Ellipsoid ellipsoid);
// Flattening (dimensionless). A stored constant, not derived from a and b: AiryModified shares Airy1830's.
double f(Ellipsoid ellipsoid);

}  // namespace tervolo::geodesy
