#pragma once

namespace tervolo::geodesy {

// Seven-parameter (Helmert) transform taking earth-centred cartesian coordinates on WGS84 to a datum.
struct Transform {
    double tx = 0.0;  // translation, metres
    double ty = 0.0;
    double tz = 0.0;
    double s = 0.0;   // scale change, parts per million (factor s / 1e6 + 1)
    double rx = 0.0;  // rotations, arc seconds
    double ry = 0.0;
    double rz = 0.0;

    // The same transform with all seven values negated: the reverse direction.
    Transform negated() const { return {-tx, -ty, -tz, -s, -rx, -ry, -rz}; }
};

// Equal when tx, ty, tz and s are equal; the rotations take no part, by definition of the datum lookup.
inline bool operator==(const Transform& lhs, const Transform& rhs) {
    return lhs.tx == rhs.tx && lhs.ty == rhs.ty && lhs.tz == rhs.tz && lhs.s == rhs.s;
}

}  // namespace tervolo::geodesy
