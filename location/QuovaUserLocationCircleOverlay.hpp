#pragma once

#include "platform/mapkit/MKOverlay.hpp"

namespace tervolo::location {

// The circle around the user's position (the radius the user chose, in
// metres), which the map screens fill in blue. It adds nothing to a circle:
// its class alone tells it from the points' alarm circles. Immutable, so the
// map's drawing threads may read it.
class QuovaUserLocationCircleOverlay : public platform::MKCircle {
  public:
    // No centre (the invalid coordinate) and no radius.
    QuovaUserLocationCircleOverlay();
    // `radius` in metres; as MKCircle (negative or not finite: 0).
    QuovaUserLocationCircleOverlay(platform::CLLocationCoordinate2D center, double radius);

    // Every user circle is filed under one key, so the map finds the first
    // without walking the points' circles.
    static constexpr const char* kLookupKey = "QuovaUserLocationCircleOverlay";
    std::string lookupKey() const override { return kLookupKey; }
};

}  // namespace tervolo::location
