#include "location/RegionMapRect.hpp"

#include <algorithm>
#include <cmath>

namespace tervolo::location {

std::optional<platform::MKMapRect> mapRectForRegion(platform::CLLocationCoordinate2D center, double metres) {
    if (!platform::CLLocationCoordinate2DIsValid(center) || !std::isfinite(metres) || metres <= 0) {
        return std::nullopt;
    }
    // Below a metre the corners' map points would round together (no height
    // at all); the map cannot zoom that far in anyway.
    metres = std::max(metres, kMinimumRegionMetres);
    const auto region = platform::MKCoordinateRegionMakeWithDistance(center, metres, metres);

    // The latitude band, slid back inside the projection where it pokes out
    // beyond a pole, and at most as tall as the projection.
    constexpr double kLimit = platform::kMKMaximumLatitude;
    const double latitudeSpan = std::min(region.span.latitudeDelta, 2 * kLimit);
    double north = center.latitude + latitudeSpan / 2;
    double south = center.latitude - latitudeSpan / 2;
    if (north > kLimit) {
        north = kLimit;
        south = kLimit - latitudeSpan;
    } else if (south < -kLimit) {
        south = -kLimit;
        north = -kLimit + latitudeSpan;
    }

    // East-west the projection is linear in longitude: the width follows from
    // the span alone, and the western corner is wrapped into the world.
    const double longitudeSpan = std::min(region.span.longitudeDelta, 360.0);
    const double west = center.longitude - longitudeSpan / 2;
    const platform::MKMapPoint northWest = platform::MKMapPointForCoordinate({north, west});
    const platform::MKMapPoint southWest = platform::MKMapPointForCoordinate({south, west});
    double x = longitudeSpan >= 360.0 ? 0.0 : platform::MKMapPointWrapX(northWest.x);
    const double width = longitudeSpan / 360.0 * platform::kMKMapWorldSide;
    const double height = std::abs(southWest.y - northWest.y);
    return platform::MKMapRectMake(x, northWest.y, width, height);
}

}  // namespace tervolo::location
