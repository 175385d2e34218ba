#pragma once

#include <cstdint>

#include "platform/mapkit/MKGeometry.hpp"
#include "tiles/QuovaTileRect.hpp"

namespace tervolo::tiles {

// Highest zoom level the tile maths accepts; higher levels are clamped (2^30
// tiles per axis still fits every integer used here).
inline constexpr int64_t kMaximumTileZoomLevel = 30;

// Tiles along each axis at a zoom level: 2^level, 1 for level 0 and below;
// levels above kMaximumTileZoomLevel count as that level.
int32_t axisTilesForZoomLevel(int32_t zoomLevel);

// The tile indices of `visibleMapRect` at a zoom level with a margin of one
// tile: ends moved out by one, an end at or past the axis count wrapped back
// by one world, a start of -1 raised to 0. The level is clamped to
// [0, kMaximumTileZoomLevel]. What a map view answers its tile overlays.
QuovaTileRect tileRectForZoomLevel(const platform::MKMapRect& visibleMapRect, int64_t zoomLevel);

}  // namespace tervolo::tiles
