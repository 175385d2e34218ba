#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "tiles/MapRect.hpp"

namespace tervolo::tiles {

// Which part of a stored tile image is drawn for a requested tile.
enum class QXTileQuadrant : uint64_t {
    QXTileQuadrantNW = 0,
    QXTileQuadrantNE = 1,
    QXTileQuadrantSW = 2,
    QXTileQuadrantSE = 3,
    // The whole stored tile.
    QXTileQuadrantWholeTile = 4,
    // A stored tile of a lower zoom level, enlarged; xShift and yShift pick the cell.
    QXTileQuadrantUseScale = 5,
};

// A tile by its indices: column x and row y (from the north) at zoom level z,
// and the content scale factor (always 1.0 here).
struct QuovaTilePath {
    int64_t x = 0;
    int64_t y = 0;
    int64_t z = 0;
    double contentScaleFactor = 1.0;
    bool operator==(const QuovaTilePath&) const = default;
};

// One tile the renderer wants drawn: the stored tile (x, y at level z), the
// part of it to draw, and the map area it covers on screen. Values are fixed
// at creation except the quadrant. Any thread.
class QuovaImageTile {
  public:
    QuovaImageTile(MapRect frame, uint64_t x, uint64_t y, uint64_t z, QXTileQuadrant quadrant,
                   uint64_t xShift, uint64_t yShift);

    QXTileQuadrant quadrant() const { return quadrant_.load(std::memory_order_relaxed); }
    void setQuadrant(QXTileQuadrant quadrant) { quadrant_.store(quadrant, std::memory_order_relaxed); }
    uint64_t x() const { return x_; }
    uint64_t y() const { return y_; }
    uint64_t z() const { return z_; }
    uint64_t xShift() const { return xShift_; }
    uint64_t yShift() const { return yShift_; }
    // The map area the tile covers, in map points.
    const MapRect& frame() const { return frame_; }

    // "<z>-<x>-<y>": the key of the disk cache and of the download records.
    std::string storagePath() const;
    QuovaTilePath overlayPath() const { return {int64_t(x_), int64_t(y_), int64_t(z_), 1.0}; }
    // The pattern with exactly "%1$@", "%2$@" and "%3$@" replaced by the
    // decimal z, x and y. The pattern is data: nothing else in it is read.
    std::string urlStringWithPattern(std::string_view pattern) const;
    // The tile one level up that contains this one, for a whole tile of level
    // 1 or more; empty otherwise.
    std::shared_ptr<QuovaImageTile> tileAbove() const;
    std::string quadrantDescription() const;
    std::string description() const;

  private:
    std::atomic<QXTileQuadrant> quadrant_;
    const uint64_t x_;
    const uint64_t y_;
    const uint64_t z_;
    const uint64_t xShift_;
    const uint64_t yShift_;
    const MapRect frame_;
};

// "<z>-<x>-<y>" of any tile indices.
std::string tileStoragePath(uint64_t z, uint64_t x, uint64_t y);
// The name of a quadrant value ("QXTileQuadrantNW" ...), "(unspecified)" above 5.
std::string quadrantName(uint64_t quadrant);

}  // namespace tervolo::tiles
