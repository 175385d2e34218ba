#pragma once

#include <memory>

#include "tiles/MapRect.hpp"
#include "tiles/QuovaImageTile.hpp"

namespace tervolo::tiles {

// What the cache manager asks of a tile renderer when downloaded tiles
// arrive: redraw one map area at one zoom scale. Called on the main queue.
class TileRedrawTarget {
  public:
    virtual ~TileRedrawTarget() = default;
    virtual void setNeedsDisplayInMapRect(const MapRect& mapRect, double zoomScale) = 0;
    // A tile's file was written anew (on a URL session's queue): images made
    // from its old bytes are stale.
    virtual void tileWasStored(const QuovaImageTile& tile) { (void)tile; }
};

// One entry of a cache manager's redraw queue.
struct TileRedrawInfo {
    std::shared_ptr<QuovaImageTile> tile;
    std::shared_ptr<TileRedrawTarget> renderer;
    double zoomScale = 0;
};

}  // namespace tervolo::tiles
