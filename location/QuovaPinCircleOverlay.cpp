#include "location/QuovaPinCircleOverlay.hpp"

namespace tervolo::location {

QuovaPinCircleOverlay::QuovaPinCircleOverlay()
    : QuovaPinCircleOverlay(platform::kCLLocationCoordinate2DInvalid, 0) {}

QuovaPinCircleOverlay::QuovaPinCircleOverlay(platform::CLLocationCoordinate2D center, double radius)
    : MKCircle(center, radius) {}

}  // namespace tervolo::location
