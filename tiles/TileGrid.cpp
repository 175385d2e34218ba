#include "tiles/TileGrid.hpp"

#include <algorithm>
#include <cmath>

namespace tervolo::tiles {

int32_t axisTilesForZoomLevel(int32_t zoomLevel) {
    const int32_t level = std::clamp<int32_t>(zoomLevel, 0, int32_t(kMaximumTileZoomLevel));
    return int32_t(1) << level;
}

QuovaTileRect tileRectForZoomLevel(const platform::MKMapRect& visible, int64_t zoomLevel, int64_t margin) {
    const int64_t n =
        axisTilesForZoomLevel(int32_t(std::clamp<int64_t>(zoomLevel, 0, kMaximumTileZoomLevel)));
    const double world = platform::MKMapRectWorld.size.width;
    // A margin wider than the grid changes nothing once clamped; bounding it keeps the sums in range.
    const int64_t m = std::clamp<int64_t>(margin, -n, n);
    auto bound = [&](double value, int64_t offset) {
        const double cell = value / world * double(n);
        // Truncated towards zero; non-finite input counts as 0.
        const int64_t index =
            std::isfinite(cell) ? int64_t(std::clamp(cell, -2.0 * double(n), 2.0 * double(n))) : int64_t(0);
        return std::clamp<int64_t>(index + offset, 0, n - 1);
    };
    return QuovaTileRect(
        bound(platform::MKMapRectGetMinX(visible), -m), bound(platform::MKMapRectGetMaxX(visible), m),
        bound(platform::MKMapRectGetMinY(visible), -m), bound(platform::MKMapRectGetMaxY(visible), m));
}

}  // namespace tervolo::tiles
