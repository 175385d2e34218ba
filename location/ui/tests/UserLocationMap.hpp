#pragma once

#include <memory>

#include "location/ui/QuovaUserLocationView.hpp"
#include "location/ui/tests/LocationUITestSupport.hpp"
#include "platform/mapkit/qt/MKMapView.hpp"

namespace location_ui_test {

// A 480 × 320 map widget around the user's position, with the map screen's
// stand-in as its delegate, showing the user's location from the scripted
// position source.
struct UserLocationMap {
    UserLocationMap();
    ~UserLocationMap();

    // Shows the map at zoom level 14 around `coordinate`, hands the map that
    // fix and selects the user location; its view, laid out and with its callout.
    std::shared_ptr<location::QuovaUserLocationView> selectUserLocation(
        platform::CLLocationCoordinate2D coordinate);
    // A new fix for the map (which reports it to the model through the stand-in).
    void deliver(const platform::CLLocation& location);

    std::shared_ptr<MapScreenStandIn> screen = std::make_shared<MapScreenStandIn>();
    std::unique_ptr<platform::MKMapView> map;
};

}  // namespace location_ui_test
