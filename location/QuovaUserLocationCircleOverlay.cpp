#include "location/QuovaUserLocationCircleOverlay.hpp"

namespace tervolo::location {

QuovaUserLocationCircleOverlay::QuovaUserLocationCircleOverlay()
    : QuovaUserLocationCircleOverlay(platform::kCLLocationCoordinate2DInvalid, 0) {}

QuovaUserLocationCircleOverlay::QuovaUserLocationCircleOverlay(platform::CLLocationCoordinate2D center,
                                                               double radius)
    : MKCircle(center, radius) {}

}  // namespace tervolo::location
