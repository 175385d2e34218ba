#include "geodesy/DoubleQuovaAdditions.hpp"

#include <cmath>

#include "logging/QLLogging.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/text/MeasurementFormatter.hpp"
#include "platform/text/Numbers.hpp"

namespace tervolo::geodesy {

std::optional<int64_t> toInt(double value) {
    // 2^63 is exactly representable; the integer range is [−2^63, 2^63).
    constexpr double kLimit = 9223372036854775808.0;
    if (std::isnan(value) || value < -kLimit || value >= kLimit) return std::nullopt;
    return static_cast<int64_t>(value);
}

std::optional<std::string> distanceDescription(double metres) {
    if (metres < 0.0) return std::nullopt;
    return platform::text::formatDistance(metres);
}

std::optional<std::string> bearingDescription(double bearing) {
    // NaN passes both range tests but has no sector.
    if (bearing > 360.0 || bearing < 0.0 || std::isnan(bearing)) return std::nullopt;
    const auto segment = static_cast<int>(std::trunc((bearing + 11.25) / 22.5));
    static const char* const kNames[17] = {"N",   "NNE", "NE",  "ENE", "E",   "ESE", "SE",  "SSE", "S",
                                           "SSW", "SW",  "WSW", "W",   "WNW", "NW",  "NNW", "N"};
    // N and S stand as they are; the other names are translated ("compass bearing").
    const bool fixed = segment == 0 || segment == 8 || segment == 16;
    const std::string name =
        fixed ? kNames[segment] : platform::Bundle::main().localizedString(kNames[segment]);
    QLLogDebug("bearing {} degrees, segment: {}, code: {}", platform::text::describe(bearing), segment, name);
    return name;
}

}  // namespace tervolo::geodesy
