#include "tiles/TileGrid.hpp"

#include <algorithm>
#include <cmath>

namespace tervolo::tiles {

int32_t axisTilesForZoomLevel(int32_t zoomLevel) {
    const int32_t level = std::clamp<int32_t>(zoomLevel, 0, int32_t(kMaximumTileZoomLevel));
    return int32_t(1) << level;
}

QuovaTileRect tileRectForZoomLevel(const platform::MKMapRect& visible, int64_t zoomLevel) {
    const int64_t n =
        axisTilesForZoomLevel(int32_t(std::clamp<int64_t>(zoomLevel, 0, kMaximumTileZoomLevel)));
    const double world = platform::MKMapRectWorld.size.width;
    auto index = [&](double value) {
        const double cell = value / world * double(n);
        // Truncated towards zero; non-finite input counts as 0.
        return std::isfinite(cell) ? int64_t(std::clamp(cell, -2.0 * double(n), 2.0 * double(n)))
                                   : int64_t(0);
    };
    int64_t minX = index(platform::MKMapRectGetMinX(visible)) - 1;
    int64_t maxX = index(platform::MKMapRectGetMaxX(visible)) + 1;
    int64_t minY = index(platform::MKMapRectGetMinY(visible)) - 1;
    int64_t maxY = index(platform::MKMapRectGetMaxY(visible)) + 1;
    if (maxX >= n) maxX -= n;
    if (maxY >= n) maxY -= n;
    if (minX < 0) minX += 1;
    if (minY < 0) minY += 1;
    return QuovaTileRect(minX, maxX, minY, maxY);
}

}  // namespace tervolo::tiles
