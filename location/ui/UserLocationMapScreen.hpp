#pragma once

#include <optional>
#include <string>

#include "platform/location/CLLocationCoordinate2D.hpp"

namespace platform {
class MKMapViewModel;
}

namespace tervolo::location {

// What the user-location settings screen asks of the main map screen that
// opened it. The map screen implements it; the settings screen holds it
// without owning it (a std::weak_ptr), since the map screen lives for the
// whole run and outlives the sheet. Main thread only.
class UserLocationMapScreen {
  public:
    virtual ~UserLocationMapScreen() = default;

    // Makes a new point at `coordinate` (degrees) titled `title`, saves it,
    // adds it to the point store, puts it on the map (with its alarm circle
    // when it has one) and zooms the map to it.
    virtual void dropPinAtLocation(platform::CLLocationCoordinate2D coordinate,
                                   std::optional<std::string> title) = 0;
    // Redraws the main map's circle around the user's location from the
    // stored "userLocationRadius" (absent counts as 0, which removes it).
    virtual void refreshCircleOverlayForUserLocation() = 0;
    // The main map view, for deselecting its annotations and hiding and
    // showing the user's location; null while the screen has none.
    virtual platform::MKMapViewModel* mapView() = 0;
};

}  // namespace tervolo::location
