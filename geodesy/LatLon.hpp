#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "geodesy/DMS.hpp"
#include "geodesy/Datum.hpp"
#include "geodesy/LatLonError.hpp"
#include "geodesy/Vector.hpp"

namespace tervolo::geodesy {

class Utm;

// A geodetic position: latitude and longitude in degrees on a datum. No range check is made: values
// outside ±90 / ±180 are stored and processed unchanged. The initialisers never throw; a datum that is not
// in the datum table silently becomes WGS84.
class LatLon {
  public:
    LatLon(double lat, double lon);
    LatLon(double lat, double lon, const Datum& datum);

    double lat() const { return lat_; }
    void setLat(double lat) { lat_ = lat; }
    double lon() const { return lon_; }
    void setLon(double lon) { lon_ = lon; }
    const Datum& datum() const { return datum_; }
    // Stored as given, without the table check of the initialisers.
    void setDatum(Datum datum) { datum_ = std::move(datum); }
    // The datum table's "WGS84" entry and the table itself (one immutable table shared by every value).
    const Datum& wgs84Datum() const { return *wgs84Datum_; }
    const std::vector<Datum>& datumStore() const { return *datumStore_; }

    // The same place on another datum, through earth-centred cartesian coordinates and the seven-parameter
    // transforms (the way back to WGS84 inverts a datum's transform exactly, so conversions round trip).
    // Between two datums that are not WGS84 the conversion goes through WGS84. The receiver is left
    // untouched.
    LatLon convertDatum(const Datum& toDatum) const;

    // Earth-centred cartesian position (metres) on this datum's ellipsoid at height 0.
    Vector toCartesian() const;

    // The seven-parameter transform of a cartesian point (metres; rotations in arc seconds, scale in ppm).
    static Vector applyTransform(const Vector& point, const Transform& transform);

    // The exact inverse of applyTransform with the same transform (the way back to WGS84).
    static Vector applyInverseTransform(const Vector& point, const Transform& transform);

    // Geodetic position of a cartesian point on the datum's ellipsoid (Bowring's method; height dropped).
    // On the polar axis the latitude is ±90 by the sign of z (0 at the centre) and the longitude 0.
    static LatLon makeLatLonE(const Vector& vector, const Datum& datum);

    // Reads "51.5, -0.25", "N 51° 30', W 0° 15'", "51°30'N, 0°15'W" and similar as a WGS84 position.
    // Throws LatLonError::parseError "Invalid string" when there is no comma, a side is empty, or a side has
    // minutes or seconds of 60 or more.
    static LatLon parseLatLon(std::string_view stringToParse);

    // Latitude text, ", ", longitude text (DMS::toLat / DMS::toLon).
    std::string toString(DMSFormat format, unsigned decimalPlaces) const;
    // As above; a line feed follows the ", " when newLinesForEachCoord is true.
    std::string toString(DMSFormat format, unsigned decimalPlaces, bool newLinesForEachCoord) const;
    // toString at degreesMinutesSeconds with 4 places.
    std::string description() const;

    // Universal Transverse Mercator coordinates on this position's datum. Throws UtmError.
    Utm toUTM() const;

  private:
    double lat_;
    double lon_;
    Datum datum_;
    const Datum* wgs84Datum_;
    const std::vector<Datum>* datumStore_;
};

}  // namespace tervolo::geodesy
