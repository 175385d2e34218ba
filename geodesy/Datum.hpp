#pragma once

#include <string>
#include <vector>

#include "geodesy/Ellipsoid.hpp"
#include "geodesy/Transform.hpp"

namespace tervolo::geodesy {

// A geodetic datum: an ellipsoid and the transform from WGS84 to it.
struct Datum {
    std::string name;
    Ellipsoid ellipsoid = Ellipsoid::WGS84;
    Transform transform;
};

// Ellipsoid first, then name, then tx, ty, tz, s (rotations ignored, as for Transform).
inline bool operator==(const Datum& lhs, const Datum& rhs) {
    return lhs.ellipsoid == rhs.ellipsoid && lhs.name == rhs.name && lhs.transform == rhs.transform;
}

// The fixed table of ten datums, in its fixed order. One immutable table shared by every value for the
// life of the process (never destroyed), so values carry a reference instead of ten copies.
const std::vector<Datum>& datumTable();

// The table's "WGS84" entry.
const Datum& wgs84TableDatum();

// The lookup rule: the desired datum itself when the table has an equal entry, else the first "WGS84" entry.
const Datum& validatedDatum(const std::vector<Datum>& store, const Datum& desired);

// Record holding the datum table.
struct Datums {
    std::vector<Datum> datums = datumTable();
};

struct DatumFinder {
    // The given datum unchanged when the table holds an equal one, else the table's "WGS84" entry.
    static Datum getDatum(const Datum& desiredDatum);
};

}  // namespace tervolo::geodesy
