#include "geodesy/QuovaCoordinateFormat.hpp"

#include <cmath>

#include "geodesy/Mgrs.hpp"
#include "geodesy/Utm.hpp"
#include "logging/QLLogging.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "platform/text/Numbers.hpp"

namespace tervolo::geodesy {

namespace {

// |v| with a hemisphere letter, as "%.6f " + letter; the absolute value also for −0, which would otherwise
// print as "-0.000000 N".
std::string decimalWithHemisphere(double v, const char* positive, const char* negative) {
    if (v < 0.0) return platform::text::formatC("%.6f ", -v) + platform::localizedString(negative);
    return platform::text::formatC("%.6f ", std::fabs(v)) + platform::localizedString(positive);
}

// "%.6f" without the sign of a value that prints as zero: −0 and small negatives such as −1e-7 would
// otherwise print as "-0.000000", a southern or western zero.
std::string signedDecimal(double v) {
    std::string text = platform::text::formatC("%.6f", v);
    if (text == "-0.000000") text.erase(0, 1);
    return text;
}

// Degrees, minutes and seconds with three decimals. The angle is rounded to whole milliseconds of arc
// before it is split, so seconds that round up carry into the minutes and degrees (47.9999999° is
// 48° 0' 0.000", never 47° 59' 60.000").
std::string sexagesimal(double v, const char* positive, const char* negative) {
    const auto milliseconds = static_cast<int64_t>(std::llround(std::fabs(v) * 3600.0 * 1000.0));
    const int64_t degrees = milliseconds / 3600000;
    const int64_t minutes = (milliseconds % 3600000) / 60000;
    const double seconds = static_cast<double>(milliseconds % 60000) / 1000.0;
    return platform::text::formatC("%lld° %lld' %.3f\" ", static_cast<long long>(degrees),
                                   static_cast<long long>(minutes), seconds) +
           platform::localizedString(v < 0.0 ? negative : positive);
}

}  // namespace

std::optional<QuovaCoordinateFormat> quovaCoordinateFormatFromRawValue(int64_t raw) {
    if (raw < 1 || raw > 5) return std::nullopt;
    return static_cast<QuovaCoordinateFormat>(raw);
}

std::optional<QuovaCoordinateFormat> storedCoordinateFormat(platform::UserDefaults& defaults) {
    const auto raw = defaults.integerValue(kCoordinateFormatDefaultsKey);
    return raw ? quovaCoordinateFormatFromRawValue(*raw) : std::nullopt;
}

std::optional<QuovaCoordinateFormat> storedCoordinateFormat() {
    return storedCoordinateFormat(platform::UserDefaults::standard());
}

void storeCoordinateFormat(QuovaCoordinateFormat format, platform::UserDefaults& defaults) {
    defaults.set(kCoordinateFormatDefaultsKey, platform::PropertyValue(rawValue(format)));
}

void storeCoordinateFormat(QuovaCoordinateFormat format) {
    storeCoordinateFormat(format, platform::UserDefaults::standard());
}

std::string quovaCoordinateDescriptionWithFormat(const platform::CLLocationCoordinate2D& coordinate,
                                                 QuovaCoordinateFormat format) {
    return quovaCoordinateDescriptionWithFormat(coordinate, rawValue(format));
}

std::string quovaCoordinateDescriptionWithFormat(const platform::CLLocationCoordinate2D& coordinate,
                                                 int64_t format) {
    QLLogInfo("quovaCoordinateDescriptionWithFormat in {}:{}", __FILE__, __LINE__);
    if (!platform::CLLocationCoordinate2DIsValid(coordinate)) return platform::localizedString("(unknown)");
    const double lat = coordinate.latitude;
    const double lon = coordinate.longitude;
    switch (format) {
        case 1:
            return signedDecimal(lat) + ", " + signedDecimal(lon);
        case 2:
            return decimalWithHemisphere(lat, "N", "S") + ", " + decimalWithHemisphere(lon, "E", "W");
        case 3:
            return sexagesimal(lat, "N", "S") + ", " + sexagesimal(lon, "E", "W");
        case 4:
            try {
                return LatLon(lat, lon).toUTM().toString(0);
            } catch (const std::exception&) {
                // Whatever the error, the coordinate has no UTM form; the error itself is not shown.
                return platform::localizedString("(no valid UTM coordinates)");
            }
        case 5:
            try {
                return LatLon(lat, lon).toUTM().toMGRS().toString(5);
            } catch (const std::exception&) {
                return platform::localizedString("(no valid MGRS coordinates)");
            }
        default:
            return platform::localizedString("(unknown)");
    }
}

}  // namespace tervolo::geodesy
