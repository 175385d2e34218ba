#pragma once

#include <functional>
#include <memory>

#include "mapscreen/MainViewController.hpp"
#include "search/ui/SearchMapHost.hpp"

namespace tervolo::search {

// The map screen as the search sees it: the map view's centre and the
// screen's view. The point operations a chosen result leads to (putting a
// stored point on the map, zooming to it, selecting it) belong to the map
// screen's point handling, which is not at hand yet: the composition hands
// them over as hooks, and an empty hook skips its step. Main thread only.
class MainViewSearchHost : public SearchMapHost {
  public:
    struct PointOperations {
        std::function<void(const std::shared_ptr<points::QuovaMapPoint>&)> addPoint;
        std::function<void(const std::shared_ptr<points::QuovaMapPoint>&)> zoomInOnPoint;
        std::function<void(const std::shared_ptr<points::QuovaMapPoint>&)> selectPoint;
    };

    MainViewSearchHost(mapscreen::MainViewController* screen, PointOperations operations)
        : screen_(screen), operations_(std::move(operations)) {}

    std::optional<platform::CLLocationCoordinate2D> mapCenter() const override {
        if (!screen_ || !screen_->mapView()) return std::nullopt;
        return screen_->mapView()->centerCoordinate();
    }
    void addPoint(const std::shared_ptr<points::QuovaMapPoint>& point) override {
        if (operations_.addPoint) operations_.addPoint(point);
    }
    void zoomInOnPoint(const std::shared_ptr<points::QuovaMapPoint>& point) override {
        if (operations_.zoomInOnPoint) operations_.zoomInOnPoint(point);
    }
    void selectPoint(const std::shared_ptr<points::QuovaMapPoint>& point) override {
        if (operations_.selectPoint) operations_.selectPoint(point);
    }
    QWidget* view() const override { return screen_ ? screen_->viewIfLoaded() : nullptr; }

  private:
    mapscreen::MainViewController* screen_;
    PointOperations operations_;
};

}  // namespace tervolo::search
