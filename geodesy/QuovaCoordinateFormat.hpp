#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/location/CLLocationCoordinate2D.hpp"

namespace platform {
class UserDefaults;
}

namespace tervolo::geodesy {

// The coordinate display formats; the raw values are what the screens keep under "coordinateFormat".
enum class QuovaCoordinateFormat : int64_t {
    decimal = 1,                // signed decimal degrees, latitude first
    decimalWithHemisphere = 2,  // unsigned decimal degrees, each followed by a hemisphere letter
    sexagesimal = 3,            // degrees, minutes and seconds with hemisphere letters
    utm = 4,                    // UTM text, whole metres
    mgrs = 5,                   // MGRS text, five digits per coordinate
};

// The user default holding the chosen format's raw value (an integer).
inline constexpr const char* kCoordinateFormatDefaultsKey = "coordinateFormat";

// The case for 1…5; nothing for every other integer.
std::optional<QuovaCoordinateFormat> quovaCoordinateFormatFromRawValue(int64_t rawValue);
inline int64_t rawValue(QuovaCoordinateFormat format) {
    return static_cast<int64_t>(format);
}

// The format stored under "coordinateFormat": nothing when absent, not an integer, or outside 1…5.
std::optional<QuovaCoordinateFormat> storedCoordinateFormat(platform::UserDefaults& defaults);
std::optional<QuovaCoordinateFormat> storedCoordinateFormat();
// Stores the raw value as an integer under "coordinateFormat".
void storeCoordinateFormat(QuovaCoordinateFormat format, platform::UserDefaults& defaults);
void storeCoordinateFormat(QuovaCoordinateFormat format);

// The one-line text of a WGS84 coordinate (degrees) in a display format, as every screen shows it. Never
// empty, never an error: an invalid coordinate or a format outside 1…5 gives the localized "(unknown)",
// a coordinate without UTM or MGRS form the localized "(no valid UTM coordinates)" / "(no valid MGRS
// coordinates)". Numbers in C-locale form; only the words and hemisphere letters are localized. Callers
// may pass any raw integer as the format. Safe on any thread.
std::string quovaCoordinateDescriptionWithFormat(const platform::CLLocationCoordinate2D& coordinate,
                                                 int64_t format);
std::string quovaCoordinateDescriptionWithFormat(const platform::CLLocationCoordinate2D& coordinate,
                                                 QuovaCoordinateFormat format);

}  // namespace tervolo::geodesy
