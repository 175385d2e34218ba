#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "geodesy/Datum.hpp"
#include "geodesy/MgrsError.hpp"
#include "geodesy/Utm.hpp"

namespace tervolo::geodesy {

// Column letters of the 100-km squares: set (zone − 1) mod 3; the letter at c − 1 names easting c × 100 km.
inline constexpr std::array<std::string_view, 3> e100kLetters = {"ABCDEFGH", "JKLMNPQR", "STUVWXYZ"};
// Row letters: set (zone − 1) mod 2; the letter at r names row r of the 2,000-km cycle.
inline constexpr std::array<std::string_view, 2> n100kLetters = {"ABCDEFGHJKLMNPQRSTUV",
                                                                 "FGHJKLMNPQRSTUVABCDE"};

// Military Grid Reference System reference: zone, latitude band, 100-km square letters and the easting
// and northing within the square (metres).
class Mgrs {
  public:
    // Validating initialiser: the band (upper-cased) must be a band letter (invalidBand), then the zone
    // 0…60 (invalidZone). Letters are stored upper-case (a letter whose upper-case form is more than one
    // character is refused with invalidBand); an unknown datum becomes WGS84.
    Mgrs(int64_t zone, char32_t band, char32_t e100k, char32_t n100k, double easting, double northing,
         const Datum& datum);

    int64_t zone() const { return zone_; }
    // Values outside 0…60 are ignored: the zone stays.
    void setZone(int64_t zone);
    char32_t band() const { return band_; }
    char32_t e100k() const { return e100k_; }
    char32_t n100k() const { return n100k_; }
    double easting() const { return easting_; }
    double northing() const { return northing_; }
    const Datum& datum() const { return datum_; }
    const Datum& wgs84Datum() const { return *wgs84Datum_; }
    const std::vector<Datum>& datumStore() const { return *datumStore_; }

    // Back to UTM. Throws MgrsError, and passes on UtmError.
    Utm toUTM() const;

    // "31U DQ 48252 11944" with `precision` digits for each of easting and northing.
    std::string toString(unsigned precision) const;
    std::string toString() const { return toString(5); }
    std::string description() const { return toString(5); }

    // Reads the spaced ("31U DQ 48251 11943") and the run-together ("31UDQ4825111943") forms on WGS84.
    // Throws MgrsError.
    static Mgrs parse(std::string_view fromString);

  private:
    int64_t zone_;
    char32_t band_;
    char32_t e100k_;
    char32_t n100k_;
    double easting_;
    double northing_;
    Datum datum_;
    const Datum* wgs84Datum_;
    const std::vector<Datum>* datumStore_;
};

}  // namespace tervolo::geodesy
