#pragma once

#include <cstdint>
#include <optional>

namespace platform {

// The raster-tile zoom level a map view shows: level 0 draws the world in one tile of 256 points,
// level z in 2^z tiles along each axis, so with the world 2^28 map points wide a view that shows one
// map point per view point is at level 20.
//
// level = 20 + floor(log2(boundsWidth / visibleMapWidth) + 0.5), where the logarithm is taken in
// single precision (the ratio converted to float first) and an exact half rounds up; a sum that is
// negative or not a number counts as 0. None when the sum does not fit a signed 64-bit integer
// (a visible width of 0 makes it infinite).
//
// The one rule for both the map screen's zoom level and the zoom a shared point reports, so the two
// never disagree. `boundsWidth` in view points, `visibleMapWidth` in map points. Any thread.
std::optional<int64_t> tileZoomLevel(double boundsWidth, double visibleMapWidth);

}  // namespace platform
