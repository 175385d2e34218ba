#include "geodesy/Vector.hpp"

#include <cmath>

#include "platform/text/Numbers.hpp"

namespace tervolo::geodesy {

Vector Vector::times(double factor) const {
    return {x * factor, y * factor, z * factor};
}

Vector Vector::divideBy(double divisor) const {
    return {x / divisor, y / divisor, z / divisor};
}

double Vector::dot(const Vector& secondVector) const {
    return *this * secondVector;
}

Vector Vector::cross(const Vector& v) const {
    return {y * v.z - z * v.y, z * v.x - x * v.z, x * v.y - y * v.x};
}

Vector Vector::negate() const {
    return {-x, -y, -z};
}

double Vector::length() const {
    return std::sqrt(x * x + y * y + z * z);
}

Vector Vector::unit() const {
    const double norm = length();
    if (norm == 1.0 || norm == 0.0) return *this;
    return divideBy(norm);
}

double Vector::angleTo(const Vector& vector1, const Vector& planeNormal) const {
    const Vector c = cross(vector1);
    const bool noNormal = planeNormal.x == 999.0 && planeNormal.y == 999.0 && planeNormal.z == 999.0;
    // A NaN dot product is not negative, so it keeps the positive sign.
    const double sign = (!noNormal && c * planeNormal < 0.0) ? -1.0 : 1.0;
    return std::atan2(sign * c.length(), *this * vector1);
}

Vector Vector::rotateAround(const Vector& axis, double theta) const {
    const Vector p = unit();
    const Vector a = axis.unit();
    const double s = std::sin(theta);
    const double c = std::cos(theta);
    const double t = 1.0 - c;
    const Vector row1{t * a.x * a.x + c, t * a.x * a.y - s * a.z, t * a.x * a.z + s * a.y};
    const Vector row2{t * a.x * a.y + s * a.z, t * a.y * a.y + c, t * a.y * a.z - s * a.x};
    const Vector row3{t * a.x * a.z - s * a.y, t * a.y * a.z + s * a.x, t * a.z * a.z + c};
    return {row1 * p, row2 * p, row3 * p};
}

std::string Vector::description() const {
    return platform::text::formatC("[%.5f, %.5f, %.5f]", x, y, z);
}

}  // namespace tervolo::geodesy
