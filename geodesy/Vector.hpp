#pragma once

#include <string>

namespace tervolo::geodesy {

// Three-dimensional vector; as an earth-centred cartesian position its components are metres.
struct Vector {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;

    // The components multiplied / divided by a scalar.
    Vector times(double x) const;
    Vector divideBy(double x) const;
    double dot(const Vector& secondVector) const;
    Vector cross(const Vector& secondVector) const;
    Vector negate() const;
    double length() const;
    // Self divided by its length; unchanged when the length is exactly 0 or 1.
    Vector unit() const;
    // Signed angle in radians from self to vector1. A plane normal of (999, 999, 999) means "no normal":
    // the result is then in [0, pi]; with a normal in (-pi, pi], positive anticlockwise seen from the normal.
    double angleTo(const Vector& vector1, const Vector& planeNormal) const;
    // Rotation of unit() about axis by theta radians; the result has the length of unit(), not of self.
    Vector rotateAround(const Vector& axis, double theta) const;
    // "[x, y, z]" with "%.5f" components.
    std::string description() const;
};

// The (999, 999, 999) value by which callers of angleTo pass no plane normal.
inline constexpr Vector kNoPlaneNormal{999.0, 999.0, 999.0};

// Componentwise equality: any NaN component makes the vectors unequal.
inline bool operator==(const Vector& l, const Vector& r) {
    return l.x == r.x && l.y == r.y && l.z == r.z;
}
inline Vector operator+(const Vector& l, const Vector& r) {
    return {l.x + r.x, l.y + r.y, l.z + r.z};
}
inline Vector operator-(const Vector& l, const Vector& r) {
    return {l.x - r.x, l.y - r.y, l.z - r.z};
}
// Dot product.
inline double operator*(const Vector& l, const Vector& r) {
    return l.x * r.x + l.y * r.y + l.z * r.z;
}
// Sum of the component quotients (a zero component on the right gives an infinity or NaN).
inline double operator/(const Vector& l, const Vector& r) {
    return l.x / r.x + l.y / r.y + l.z / r.z;
}

}  // namespace tervolo::geodesy
