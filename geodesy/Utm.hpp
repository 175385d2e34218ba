#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "geodesy/Datum.hpp"
#include "geodesy/Hemisphere.hpp"
#include "geodesy/LatLon.hpp"
#include "geodesy/UtmError.hpp"

namespace tervolo::geodesy {

class Mgrs;

// Latitude band letters, index 0 = 80°S..72°S, 8° each; X repeated so that 72°..84° is reached from
// index 19 and 20.
inline constexpr std::string_view latBands = "CDEFGHJKLMNPQRSTUVWXX";

// Universal Transverse Mercator coordinates.
class Utm {
  public:
    // Validating initialiser (checks in this order): 120,000 ≤ easting ≤ 880,000 (invalidEasting),
    // 0 ≤ northing ≤ 10,000,000 (invalidNorthing), zone 0…60 (invalidZone). An unknown datum becomes
    // WGS84. Easting and northing in metres (false easting 500,000 m; false northing 10,000,000 m in the
    // south); convergence in degrees; scale dimensionless.
    Utm(int64_t zone, Hemisphere hemisphere, double easting, double northing, const Datum& datum,
        std::optional<double> convergence = std::nullopt, std::optional<double> scale = std::nullopt);

    const Datum& wgs84Datum() const { return *wgs84Datum_; }
    const std::vector<Datum>& datumStore() const { return *datumStore_; }
    int64_t zone() const { return zone_; }
    // Values outside 0…60 are ignored: the zone stays.
    void setZone(int64_t zone);
    Hemisphere hemisphere() const { return hemisphere_; }
    double easting() const { return easting_; }
    double northing() const { return northing_; }
    const Datum& datum() const { return datum_; }
    void setDatum(Datum datum) { datum_ = std::move(datum); }
    std::optional<double> convergence() const { return convergence_; }
    std::optional<double> scale() const { return scale_; }

    // Reads "31 N 448251.9 5411943.8" (four groups separated by white space). Throws UtmError.
    static Utm parseUTM(std::string_view utmCoord);
    static Utm parseUTM(std::string_view utmCoord, const Datum& datum);

    // "31 N 448252 5411944": easting and northing rounded to `precision` decimals, then printed without
    // decimals.
    std::string toString(unsigned precision) const;
    std::string toString() const { return toString(0); }
    std::string description() const { return toString(0); }

    // The geodetic position on this value's datum (Krüger's series, Newton iteration for the latitude).
    LatLon toLatLonE() const;

    // Military Grid Reference System form. Throws MgrsError.
    Mgrs toMGRS() const;

  private:
    const Datum* wgs84Datum_;
    const std::vector<Datum>* datumStore_;
    int64_t zone_;
    Hemisphere hemisphere_;
    double easting_;
    double northing_;
    Datum datum_;
    std::optional<double> convergence_;
    std::optional<double> scale_;
};

}  // namespace tervolo::geodesy
