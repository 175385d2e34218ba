#pragma once

#include "platform/location/CLLocationCoordinate2D.hpp"

namespace platform {

// Where the map looks from: straight down (pitch 0) on `centerCoordinate` from `centerCoordinateDistance`
// metres, the top of the view pointing `heading` degrees clockwise from north. At a fixed view size the
// visible width in map points is proportional to the distance, so scaling the distance by k zooms out by
// k (MKMapViewModel documents the constant).
struct MKMapCamera {
    CLLocationCoordinate2D centerCoordinate;
    double centerCoordinateDistance = 0;  // metres
    double heading = 0;                   // degrees clockwise from north, 0…360
    double pitch = 0;                     // degrees; always 0 (the map is flat)

    bool operator==(const MKMapCamera&) const = default;
};

}  // namespace platform
