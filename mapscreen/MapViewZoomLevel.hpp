#pragma once

#include <cstdint>
#include <optional>

#include "platform/mapkit/MKMapViewModel.hpp"
#include "tiles/QuovaTileRect.hpp"

// The map screen's reasoning in raster-tile zoom levels, over any map view:
// level 0 shows the world in one tile of 256 points, level z in 2^z tiles
// along each axis. Nothing is kept here; each call reads the map's bounds
// (view points), visible map rect (map points) and camera. Main thread, as
// the map view.
namespace tervolo::mapscreen {

// The map's current tile zoom level (platform::tileZoomLevel of the bounds
// width and the visible width): 20 when one map point fills one view point,
// none when the level is not a 64-bit integer.
std::optional<int64_t> quovaZoomLevel(const platform::MKMapViewModel& mapView);

// The tile indices the visible area covers at `zoomLevel` (none: the current
// quovaZoomLevel), widened by `margin` tiles and kept inside the level's grid
// (tiles::tileRectForZoomLevel). All four bounds 0 when no zoom level is
// known. The tile engine's question asks with margin 1, the region-change
// handler with margin 0.
tiles::QuovaTileRect tileRect(const platform::MKMapViewModel& mapView, std::optional<int64_t> zoomLevel,
                              int64_t margin);

// Moves the camera to `byFactor` times its distance, animated: above 1 zooms
// out, below 1 zooms in. A factor that is not a finite positive number does
// nothing (the camera keeps its distance).
void zoom(platform::MKMapViewModel& mapView, double byFactor);

}  // namespace tervolo::mapscreen
