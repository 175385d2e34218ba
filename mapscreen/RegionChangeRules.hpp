#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/mapkit/MKGeometry.hpp"
#include "tiles/QuovaTileRect.hpp"

// The map screen's rules for a change of the map's visible region, kept apart
// from the screen so tests check them with plain numbers: whether a change
// was the user's or the program's, how far to zoom out when a tile style has
// no tiles at the level shown, and the tile debug text. Nothing is kept here.
// Any thread.
namespace tervolo::mapscreen {

// Seconds after the program moved the map within which a region change is
// still counted as the program's (exactly this long is the program's too).
inline constexpr double kProgrammaticRegionChangeWindow = 0.05;

// True when a region change `secondsSinceProgrammaticChange` seconds after
// the program last moved the map was the user's.
bool regionChangeIsUsers(double secondsSinceProgrammaticChange);

// How far to zoom out, as the zoom limit of tile styles searches it.
struct ZoomOutSearch {
    // 1.25 + 0.1 k, added up step by step (so the third value is
    // 1.4500000000000002): the first k >= 1 at which a map showing the
    // visible width times the factor is no deeper than the maximum.
    double factor = 1.25;
    int steps = 0;
    // True when kMaximumZoomOutSteps steps found no such factor (a maximum
    // below 0, which no zoom level meets): nothing should be zoomed then.
    bool exhausted = false;
};
inline constexpr int kMaximumZoomOutSteps = 200;

// None when `zoomLevel` is not beyond `maxZoomLevel` (nothing to zoom).
// Otherwise the factor for a view of `boundsWidth` points showing
// `visibleMapWidth` map points across: the levels are those of
// platform::tileZoomLevel; a level too large for a 64-bit integer ends the
// search with the factor reached.
std::optional<ZoomOutSearch> zoomOutFactor(double boundsWidth, double visibleMapWidth, int64_t zoomLevel,
                                           int32_t maxZoomLevel);

// The tile debug text: six lines, each ended by a line feed ("zoom: 12",
// "38% width ", "21% height ", "maxTiles: 4096", "xRange: 2141 - 2152",
// "yRange: 1300 - 1306"). The percentages are of the world's width and
// height, rounded to whole numbers.
std::string tileDebugText(int64_t zoomLevel, const platform::MKMapRect& visibleMapRect,
                          const tiles::QuovaTileRect& tileRect);

}  // namespace tervolo::mapscreen
