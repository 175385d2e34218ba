#include "platform/mapkit/TileZoomLevel.hpp"

#include <cmath>

#include "platform/mapkit/MKGeometry.hpp"

namespace platform {

std::optional<int64_t> tileZoomLevel(double boundsWidth, double visibleMapWidth) {
    // log2 of the world's width counted in 256-point tiles: exactly 20 for 2^28 map points.
    const double base = std::log2(MKMapSizeWorld.width * 0.00390625);
    const double scale = boundsWidth / visibleMapWidth;
    const double rounded = std::floor(static_cast<double>(std::log2(static_cast<float>(scale))) + 0.5);
    double level = base + rounded;
    if (!(level >= 0)) level = 0;  // negative, or NaN from 0 / 0
    // 2^63 is exactly representable; the integer range is [-2^63, 2^63).
    constexpr double kLimit = 9223372036854775808.0;
    if (level >= kLimit) return std::nullopt;
    return static_cast<int64_t>(level);
}

}  // namespace platform
