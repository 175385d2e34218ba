#pragma once

#include <functional>
#include <memory>

#include "mapscreen/MainViewController.hpp"
#include "search/ui/SearchMapHost.hpp"

namespace tervolo::search {

// The map screen as the search sees it: the map view's centre and the
// screen's view, and the point operations a chosen result leads to (putting a
// stored point on the map, zooming to it, selecting it) as hooks: the
// screen's own (screenOperations) or a test's; an empty hook skips its step.
// Main thread only.
class MainViewSearchHost : public SearchMapHost {
  public:
    struct PointOperations {
        std::function<void(const std::shared_ptr<points::QuovaMapPoint>&)> addPoint;
        std::function<void(const std::shared_ptr<points::QuovaMapPoint>&)> zoomInOnPoint;
        std::function<void(const std::shared_ptr<points::QuovaMapPoint>&)> selectPoint;
        std::function<void(const platform::Error&)> pointNotSaved;
    };

    // The operations of `screen` itself (not owned; it outlives the search
    // it owns): its addPoint and zoomInOnPoint, the animated selection of
    // the point's annotation on its map view (nothing while it has no map),
    // and its "Location Not Saved" alert for a result whose file was refused.
    static PointOperations screenOperations(mapscreen::MainViewController* screen);

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
    void pointNotSaved(const platform::Error& error) override {
        if (operations_.pointNotSaved) operations_.pointNotSaved(error);
    }
    QWidget* view() const override { return screen_ ? screen_->viewIfLoaded() : nullptr; }
    void focusMap() override {
        if (screen_ && screen_->mapView()) screen_->mapView()->setFocus(Qt::OtherFocusReason);
    }
    void closeSearchField() override {
        if (screen_) screen_->closeSearchField();
    }

  private:
    mapscreen::MainViewController* screen_;
    PointOperations operations_;
};

}  // namespace tervolo::search
