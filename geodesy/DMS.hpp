#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tervolo::geodesy {

enum class DMSFormat { degrees, degreesMinutes, degreesMinutesSeconds };

// Reading and writing angles as degrees, minutes and seconds. All functions are pure; numbers are read and
// written with C-locale conventions.
struct DMS {
    // The value of the longest leading part of the text that reads as a C-locale strtod number (no leading
    // white space); 0 when none does. "51°" gives 51, "12,5" gives 12, "abc" gives 0.
    static double castToDouble(std::string_view text);

    // Signed decimal degrees from "51° 28′ 40.12″ N"-style text (one to three numbers; a leading minus or a
    // final W/S makes it negative). Never fails: unreadable text gives 0, and so do minutes or seconds of
    // 60 or more, which no angle is written with.
    static double parseDMS(std::string_view degMinSec);

    // As parseDMS, but nothing where parseDMS answers 0 for minutes or seconds of 60 or more.
    static std::optional<double> parseDMSChecked(std::string_view degMinSec);

    // Zero-padded text of |deg| ("005.50°", "011° 00.00'", "000° 30' 00.00\""). Non-finite angles give
    // "NaN" / "inf" in the minutes formats.
    static std::string toDMS(double deg, DMSFormat format, unsigned decimalPlaces);
    // "N 51° 30' 00\"" (two degree digits) / "E 000° 15' 00\"".
    static std::string toLat(double deg, DMSFormat format, unsigned decimalPlaces);
    static std::string toLon(double deg, DMSFormat format, unsigned decimalPlaces);
    // Bearing normalised to [0, 360); a value that rounds to 360 reads as 0.
    static std::string toBrng(double deg, DMSFormat format, unsigned decimalPlaces);

    // Compass point of a bearing with 4 (precision 1), 8, 16 or 32 points; precision 0 counts as 1.
    // A NaN bearing gives an empty text.
    static std::string compassPoint(double bearing, unsigned precision);
};

}  // namespace tervolo::geodesy
