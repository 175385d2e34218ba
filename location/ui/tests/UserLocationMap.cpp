#include "location/ui/tests/UserLocationMap.hpp"

#include <QApplication>

#include <cmath>

#include "platform/dispatch/RunLoop.hpp"

namespace location_ui_test {

UserLocationMap::UserLocationMap() {
    ensureApplication();
    map = std::make_unique<platform::MKMapView>();
    map->resize(480, 320);
    map->setDelegate(screen);
    platform::RunLoop::runUntilIdle();
}

UserLocationMap::~UserLocationMap() {
    map.reset();
    platform::RunLoop::runUntilIdle();
}

std::shared_ptr<location::QuovaUserLocationView> UserLocationMap::selectUserLocation(
    platform::CLLocationCoordinate2D coordinate) {
    const double scale = std::exp2(14 - 20);
    const platform::MKMapPoint middle = platform::MKMapPointForCoordinate(coordinate);
    map->setVisibleMapRect(platform::MKMapRectMake(middle.x - map->width() / 2.0 / scale,
                                                   middle.y - map->height() * 0.7 / scale,
                                                   map->width() / scale, map->height() / scale));
    map->setShowsUserLocation(true);
    map->show();
    deliver(platform::CLLocation(coordinate, 35, 10, 5, 90, 3.34, platform::Date::now()));
    map->selectAnnotation(map->userLocation());
    // As the map reports fixes all along: the next one fills the new view.
    deliver(platform::CLLocation(coordinate, 35, 10, 5, 90, 3.34, platform::Date::now()));
    QApplication::processEvents();
    platform::RunLoop::runUntilIdle();
    return std::dynamic_pointer_cast<location::QuovaUserLocationView>(
        map->viewForAnnotation(map->userLocation().get()));
}

void UserLocationMap::deliver(const platform::CLLocation& location) {
    map->updateUserLocation(location);
    QApplication::processEvents();
}

}  // namespace location_ui_test
