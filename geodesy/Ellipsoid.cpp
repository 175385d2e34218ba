#include "geodesy/Ellipsoid.hpp"

namespace tervolo::geodesy {

namespace {

struct Constants {
    double a;
    double b;
    double f;
};

// Indexed by the case order of Ellipsoid.
constexpr Constants kTable[kEllipsoidCount] = {
    {6378137.0, 6356752.314245, 1.0 / 298.257223563},  // WGS84
    {6377563.396, 6356256.909, 1.0 / 299.3249646},     // Airy1830
    {6377340.189, 6356034.448, 1.0 / 299.3249646},     // AiryModified
    {6377397.155, 6356078.962818, 1.0 / 299.1528128},  // Bessel1841
    {6378206.4, 6356583.8, 1.0 / 294.978698214},       // Clarke1866
    {6378249.2, 6356515.0, 1.0 / 293.466021294},       // Clarke1880IGN
    {6378137.0, 6356752.31414, 1.0 / 298.257222101},   // GRS80
    {6378388.0, 6356911.946, 1.0 / 297.0},             // Intl1924
    {6378135.0, 6356750.5, 1.0 / 298.26},              // WGS72
};

const Constants& constants(Ellipsoid ellipsoid) {
    return kTable[static_cast<int>(ellipsoid)];
}

}  // namespace

double a(Ellipsoid ellipsoid) {
    return constants(ellipsoid).a;
}
double b(Ellipsoid ellipsoid) {
    return constants(ellipsoid).b;
}
double f(Ellipsoid ellipsoid) {
    return constants(ellipsoid).f;
}

}  // namespace tervolo::geodesy
