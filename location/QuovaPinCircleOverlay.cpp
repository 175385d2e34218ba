#include "location/QuovaPinCircleOverlay.hpp"

namespace tervolo::location {

QuovaPinCircleOverlay::QuovaPinCircleOverlay()
    : QuovaPinCircleOverlay(platform::kCLLocationCoordinate2DInvalid, 0) {}

QuovaPinCircleOverlay::QuovaPinCircleOverlay(platform::CLLocationCoordinate2D center, double radius)
    : MKCircle(center, radius) {}

std::string QuovaPinCircleOverlay::lookupKeyFor(const std::optional<std::string>& pointUUID) {
    // No identifier can make the key of another: only the key of an absent one lacks the colon.
    return pointUUID ? "QuovaPinCircleOverlay:" + *pointUUID : "QuovaPinCircleOverlay";
}

}  // namespace tervolo::location
