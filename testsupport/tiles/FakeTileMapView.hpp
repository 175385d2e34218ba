#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/mapkit/MKGeometry.hpp"
#include "tiles/QuovaTileOverlay.hpp"
#include "tiles/TileGrid.hpp"

namespace tervolo::testsupport {

// A map view as tile overlays see it: a settable visible map rect answering
// tileRectForZoomLevel, the real axis counts (questions counted) and the
// zoom-out requests recorded. Any thread.
class FakeTileMapView : public tervolo::tiles::QuovaTileOverlayDelegate {
  public:
    void needsToZoomOutFromLevel(int32_t zoomLevel,
                                 const std::shared_ptr<tervolo::tiles::QuovaTileOverlay>&) override {
        std::lock_guard lock(mutex_);
        zoomOuts_.push_back(zoomLevel);
    }
    void statusForTileOverlay(const std::shared_ptr<tervolo::tiles::QuovaTileOverlay>&,
                              const std::string&) override {}
    std::optional<tervolo::tiles::QuovaTileRect> tileRectForZoomLevel(int64_t zoomLevel) override {
        std::lock_guard lock(mutex_);
        return tervolo::tiles::tileRectForZoomLevel(visible_, zoomLevel, 1);
    }
    int32_t axisTilesForZoomLevel(int32_t zoomLevel) override {
        ++axisQuestions;
        return tervolo::tiles::axisTilesForZoomLevel(zoomLevel);
    }
    void setNeedsMapRedraw() override {}

    void setVisibleMapRect(const platform::MKMapRect& rect) {
        std::lock_guard lock(mutex_);
        visible_ = rect;
    }
    std::vector<int32_t> zoomOuts() const {
        std::lock_guard lock(mutex_);
        return zoomOuts_;
    }
    std::atomic<int> axisQuestions{0};

  private:
    mutable std::mutex mutex_;
    platform::MKMapRect visible_ = platform::MKMapRectWorld;
    std::vector<int32_t> zoomOuts_;
};

}  // namespace tervolo::testsupport
