#include "platform/mapkit/MKOverlay.hpp"

#include <algorithm>

namespace platform {

MKCircle::MKCircle(CLLocationCoordinate2D center, double radius)
    : center_(center), radius_(std::isfinite(radius) ? std::max(radius, 0.0) : 0.0) {
    const MKMapPoint middle = MKMapPointForCoordinate(center);
    const double half = radius_ * MKMapPointsPerMeterAtLatitude(center.latitude);
    boundingMapRect_ = MKMapRectMake(middle.x - half, middle.y - half, 2 * half, 2 * half);
}

}  // namespace platform
