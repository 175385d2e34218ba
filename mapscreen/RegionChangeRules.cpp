#include "mapscreen/RegionChangeRules.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "platform/mapkit/TileZoomLevel.hpp"
#include "platform/text/Numbers.hpp"

namespace tervolo::mapscreen {

bool regionChangeIsUsers(double secondsSinceProgrammaticChange) {
    return secondsSinceProgrammaticChange > kProgrammaticRegionChangeWindow;
}

std::optional<ZoomOutSearch> zoomOutFactor(double boundsWidth, double visibleMapWidth, int64_t zoomLevel,
                                           int32_t maxZoomLevel) {
    if (zoomLevel <= static_cast<int64_t>(maxZoomLevel)) return std::nullopt;
    ZoomOutSearch search;
    std::optional<int64_t> level = platform::tileZoomLevel(boundsWidth, visibleMapWidth);
    // Levels below 0 count as 0, so a maximum below 0 is never met: the search
    // stops after a bounded number of steps instead of running for ever.
    while (level && *level > static_cast<int64_t>(maxZoomLevel)) {
        if (search.steps == kMaximumZoomOutSteps) {
            search.exhausted = true;
            break;
        }
        search.factor += 0.1;
        ++search.steps;
        level = platform::tileZoomLevel(boundsWidth, visibleMapWidth * search.factor);
    }
    return search;
}

std::string tileDebugText(int64_t zoomLevel, const platform::MKMapRect& visibleMapRect,
                          const tiles::QuovaTileRect& tileRect) {
    const double widthPercent = platform::MKMapRectGetWidth(visibleMapRect) /
                                platform::MKMapRectGetWidth(platform::MKMapRectWorld) * 100;
    const double heightPercent = platform::MKMapRectGetHeight(visibleMapRect) /
                                 platform::MKMapRectGetHeight(platform::MKMapRectWorld) * 100;
    // 2^z tiles along each axis; past what an integer holds the number is written as a double.
    const std::string maxTiles = zoomLevel <= 0 ? std::string("1")
                                 : zoomLevel <= 62
                                     ? std::to_string(int64_t{1} << zoomLevel)
                                     : platform::text::describe(std::ldexp(
                                           1.0, static_cast<int>(std::min<int64_t>(zoomLevel, 100000))));
    return fmt::format(
        "zoom: {}\n{:.0f}% width \n{:.0f}% height \nmaxTiles: {}\nxRange: {} - {}\nyRange: {} - {}\n",
        zoomLevel, widthPercent, heightPercent, maxTiles, tileRect.minX, tileRect.maxX, tileRect.minY,
        tileRect.maxY);
}

}  // namespace tervolo::mapscreen
