#include "search/ui/MainViewSearchHost.hpp"

#include "mapscreen/QuovaMapPointAnnotation.hpp"

namespace tervolo::search {

MainViewSearchHost::PointOperations MainViewSearchHost::screenOperations(
    mapscreen::MainViewController* screen) {
    PointOperations operations;
    if (!screen) return operations;
    operations.addPoint = [screen](const std::shared_ptr<points::QuovaMapPoint>& point) {
        screen->addPoint(point);
    };
    operations.zoomInOnPoint = [screen](const std::shared_ptr<points::QuovaMapPoint>& point) {
        screen->zoomInOnPoint(point);
    };
    operations.selectPoint = [screen](const std::shared_ptr<points::QuovaMapPoint>& point) {
        // The map knows a point by its one annotation.
        if (platform::MKMapViewModel* map = screen->mainMapView()) {
            map->selectAnnotation(mapscreen::QuovaMapPointAnnotation::forPoint(point), true);
        }
    };
    operations.pointNotSaved = [screen](const platform::Error& error) {
        screen->presentNewLocationNotSaved(error);
    };
    return operations;
}

}  // namespace tervolo::search
