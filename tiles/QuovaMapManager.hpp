#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/SharedInstance.hpp"
#include "tiles/QuovaBaseMapStyle.hpp"
#include "tiles/QuovaTileOverlay.hpp"

namespace tervolo::tiles {

// Turns a tile style into the tile overlay of a map view and keeps it, so
// that switching back to a style reuses its overlay and cache manager. A map
// view is known by its identity (the object implementing the overlay
// delegate); a map view that is gone no longer counts. Main thread only.
class QuovaMapManager {
  public:
    static QuovaMapManager& shared();

    // Nothing for the map view's own map types (logged).
    std::optional<TileOverlayConfiguration> configurationForMapStyle(QuovaBaseMapStyle style) const;
    std::shared_ptr<QuovaTileOverlay> baseMapOverlayForMapView(
        const std::shared_ptr<QuovaTileOverlayDelegate>& mapView, QuovaBaseMapStyle style);
    void storeTileOverlay(const std::shared_ptr<QuovaTileOverlay>& overlay,
                          const std::shared_ptr<QuovaTileOverlayDelegate>& mapView);
    std::vector<std::shared_ptr<QuovaTileOverlay>> allTileOverlays() const;
    std::shared_ptr<QuovaTileOverlay> createTileOverlayForMapView(
        const std::shared_ptr<QuovaTileOverlayDelegate>& mapView, QuovaBaseMapStyle style) const;

    void resetForTesting();

  private:
    friend class platform::SharedInstance<QuovaMapManager>;
    QuovaMapManager() = default;
    struct Entry {
        std::weak_ptr<QuovaTileOverlayDelegate> mapView;
        std::map<std::string, std::shared_ptr<QuovaTileOverlay>> overlays;
    };
    Entry* entryFor(const std::shared_ptr<QuovaTileOverlayDelegate>& mapView);

    std::map<const QuovaTileOverlayDelegate*, Entry> register_;
};

}  // namespace tervolo::tiles
