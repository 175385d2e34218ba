#pragma once

#include <cstdint>

#include "tiles/QuovaImageTile.hpp"

namespace tervolo::tiles {

// A rectangle of tile indices of one zoom level, inclusive at both ends.
// The map view builds it; the tile cache manager tests tiles against it.
struct QuovaTileRect {
    int64_t minX = 0;
    int64_t maxX = 0;
    int64_t minY = 0;
    int64_t maxY = 0;

    QuovaTileRect(int64_t minX, int64_t maxX, int64_t minY, int64_t maxY)
        : minX(minX), maxX(maxX), minY(minY), maxY(maxY) {}

    // z and the scale factor are not looked at.
    bool containsTile(const QuovaTilePath& path) const {
        return minX <= path.x && path.x <= maxX && minY <= path.y && path.y <= maxY;
    }
    // The rectangle with all four bounds 0 is the invalid one.
    bool isValid() const { return minX != 0 || maxX != 0 || minY != 0 || maxY != 0; }
};

}  // namespace tervolo::tiles
