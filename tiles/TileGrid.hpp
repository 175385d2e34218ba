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

// The tile indices that `visibleMapRect` covers at a zoom level, widened by
// `margin` tiles on every side and kept inside the level's grid: each bound
// is the visible edge's tile (truncated toward zero) moved out by the margin,
// then clamped to [0, n - 1] with n = axisTilesForZoomLevel(zoomLevel). A far
// edge at or past the world's edge stays on the last column or row rather
// than wrapping round to the first, so the edge tiles in view always count as
// visible (a wrapped bound would leave max below min and no tile inside).
// Non-finite edges count as 0. The level is clamped to
// [0, kMaximumTileZoomLevel]. What a map view answers its tile overlays
// (margin 1) and what the map screen reasons with (margin 0).
QuovaTileRect tileRectForZoomLevel(const platform::MKMapRect& visibleMapRect, int64_t zoomLevel,
                                   int64_t margin);

}  // namespace tervolo::tiles
