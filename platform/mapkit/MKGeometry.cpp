#include "platform/mapkit/MKGeometry.hpp"

#include <algorithm>
#include <numbers>

namespace platform {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kDegree = kPi / 180.0;

}  // namespace

bool MKMapRectIsNull(const MKMapRect& rect) {
    return std::isinf(rect.origin.x) || std::isinf(rect.origin.y);
}

bool MKMapRectIsEmpty(const MKMapRect& rect) {
    return MKMapRectIsNull(rect) || !(rect.size.width > 0) || !(rect.size.height > 0);
}

bool MKMapRectContainsPoint(const MKMapRect& rect, MKMapPoint point) {
    return point.x >= MKMapRectGetMinX(rect) && point.x < MKMapRectGetMaxX(rect) &&
           point.y >= MKMapRectGetMinY(rect) && point.y < MKMapRectGetMaxY(rect);
}

bool MKMapRectContainsRect(const MKMapRect& outer, const MKMapRect& inner) {
    if (MKMapRectIsNull(outer) || MKMapRectIsNull(inner)) return false;
    return MKMapRectGetMinX(inner) >= MKMapRectGetMinX(outer) &&
           MKMapRectGetMaxX(inner) <= MKMapRectGetMaxX(outer) &&
           MKMapRectGetMinY(inner) >= MKMapRectGetMinY(outer) &&
           MKMapRectGetMaxY(inner) <= MKMapRectGetMaxY(outer);
}

bool MKMapRectIntersectsRect(const MKMapRect& a, const MKMapRect& b) {
    if (MKMapRectIsNull(a) || MKMapRectIsNull(b)) return false;
    return MKMapRectGetMinX(a) < MKMapRectGetMaxX(b) && MKMapRectGetMinX(b) < MKMapRectGetMaxX(a) &&
           MKMapRectGetMinY(a) < MKMapRectGetMaxY(b) && MKMapRectGetMinY(b) < MKMapRectGetMaxY(a);
}

MKMapRect MKMapRectIntersection(const MKMapRect& a, const MKMapRect& b) {
    if (!MKMapRectIntersectsRect(a, b)) return MKMapRectNull;
    const double minX = std::max(MKMapRectGetMinX(a), MKMapRectGetMinX(b));
    const double minY = std::max(MKMapRectGetMinY(a), MKMapRectGetMinY(b));
    const double maxX = std::min(MKMapRectGetMaxX(a), MKMapRectGetMaxX(b));
    const double maxY = std::min(MKMapRectGetMaxY(a), MKMapRectGetMaxY(b));
    return MKMapRectMake(minX, minY, maxX - minX, maxY - minY);
}

MKMapRect MKMapRectUnion(const MKMapRect& a, const MKMapRect& b) {
    if (MKMapRectIsNull(a)) return b;
    if (MKMapRectIsNull(b)) return a;
    const double minX = std::min(MKMapRectGetMinX(a), MKMapRectGetMinX(b));
    const double minY = std::min(MKMapRectGetMinY(a), MKMapRectGetMinY(b));
    const double maxX = std::max(MKMapRectGetMaxX(a), MKMapRectGetMaxX(b));
    const double maxY = std::max(MKMapRectGetMaxY(a), MKMapRectGetMaxY(b));
    return MKMapRectMake(minX, minY, maxX - minX, maxY - minY);
}

MKMapRect MKMapRectInset(const MKMapRect& rect, double dx, double dy) {
    if (MKMapRectIsNull(rect)) return rect;
    return MKMapRectMake(rect.origin.x + dx, rect.origin.y + dy, rect.size.width - 2 * dx,
                         rect.size.height - 2 * dy);
}

MKMapRect MKMapRectOffset(const MKMapRect& rect, double dx, double dy) {
    if (MKMapRectIsNull(rect)) return rect;
    return MKMapRectMake(rect.origin.x + dx, rect.origin.y + dy, rect.size.width, rect.size.height);
}

bool MKMapRectSpans180thMeridian(const MKMapRect& rect) {
    return !MKMapRectIsNull(rect) && MKMapRectGetMaxX(rect) > kMKMapWorldSide;
}

MKMapRect MKMapRectRemainder(const MKMapRect& rect) {
    if (!MKMapRectSpans180thMeridian(rect)) return MKMapRectNull;
    const double minX = std::max(MKMapRectGetMinX(rect), kMKMapWorldSide);
    return MKMapRectMake(minX - kMKMapWorldSide, rect.origin.y, MKMapRectGetMaxX(rect) - minX,
                         rect.size.height);
}

double MKMapPointWrapX(double x) {
    if (!std::isfinite(x)) return x;
    double wrapped = std::fmod(x, kMKMapWorldSide);
    if (wrapped < 0) wrapped += kMKMapWorldSide;
    // fmod of a tiny negative value plus the side rounds up to the side itself.
    return wrapped >= kMKMapWorldSide ? 0.0 : wrapped;
}

MKMapPoint MKMapPointForCoordinate(CLLocationCoordinate2D coordinate) {
    const double latitude = std::clamp(coordinate.latitude, -kMKMaximumLatitude, kMKMaximumLatitude);
    const double x = (coordinate.longitude + 180.0) / 360.0 * kMKMapWorldSide;
    const double sinPhi = std::sin(latitude * kDegree);
    const double y = (0.5 - std::log((1 + sinPhi) / (1 - sinPhi)) / (4 * kPi)) * kMKMapWorldSide;
    return {x, y};
}

CLLocationCoordinate2D MKCoordinateForMapPoint(MKMapPoint point) {
    const double longitude = point.x / kMKMapWorldSide * 360.0 - 180.0;
    const double latitude = std::atan(std::sinh(kPi * (1 - 2 * point.y / kMKMapWorldSide))) / kDegree;
    return {latitude, longitude};
}

double MKMapPointsPerMeterAtLatitude(double latitude) {
    const double clamped = std::clamp(latitude, -kMKMaximumLatitude, kMKMaximumLatitude);
    // The world's width is the equator's length; at latitude φ a metre is 1 / cos φ of that scale.
    return kMKMapWorldSide / (2 * kPi * kMKEarthRadius) / std::cos(clamped * kDegree);
}

double MKMetersPerMapPointAtLatitude(double latitude) {
    return 1.0 / MKMapPointsPerMeterAtLatitude(latitude);
}

double MKMetersBetweenMapPoints(MKMapPoint a, MKMapPoint b) {
    const double latitude = MKCoordinateForMapPoint({0, (a.y + b.y) / 2}).latitude;
    return std::hypot(a.x - b.x, a.y - b.y) * MKMetersPerMapPointAtLatitude(latitude);
}

MKCoordinateRegion MKCoordinateRegionMakeWithDistance(CLLocationCoordinate2D center, double latitudinalMeters,
                                                      double longitudinalMeters) {
    const double metersPerDegree = kPi * kMKEarthRadius / 180.0;
    const double latitudeDelta = std::min(std::abs(latitudinalMeters) / metersPerDegree, 180.0);
    const double cosPhi = std::cos(std::clamp(center.latitude, -90.0, 90.0) * kDegree);
    double longitudeDelta = 360.0;
    if (cosPhi > 1e-12)
        longitudeDelta = std::min(std::abs(longitudinalMeters) / (metersPerDegree * cosPhi), 360.0);
    return {center, {latitudeDelta, longitudeDelta}};
}

MKCoordinateRegion MKCoordinateRegionForMapRect(const MKMapRect& rect) {
    const CLLocationCoordinate2D northWest = MKCoordinateForMapPoint(rect.origin);
    const CLLocationCoordinate2D southEast =
        MKCoordinateForMapPoint({MKMapRectGetMaxX(rect), MKMapRectGetMaxY(rect)});
    // The centre halfway between the corners (not the coordinate of the rect's middle, which Mercator
    // pulls towards the pole), so that MKMapRectForCoordinateRegion gives the same rect back.
    const CLLocationCoordinate2D center{(northWest.latitude + southEast.latitude) / 2,
                                        (northWest.longitude + southEast.longitude) / 2};
    return {center, {northWest.latitude - southEast.latitude, southEast.longitude - northWest.longitude}};
}

MKMapRect MKMapRectForCoordinateRegion(const MKCoordinateRegion& region) {
    const MKMapPoint northWest =
        MKMapPointForCoordinate({region.center.latitude + region.span.latitudeDelta / 2,
                                 region.center.longitude - region.span.longitudeDelta / 2});
    const MKMapPoint southEast =
        MKMapPointForCoordinate({region.center.latitude - region.span.latitudeDelta / 2,
                                 region.center.longitude + region.span.longitudeDelta / 2});
    MKMapRect rect =
        MKMapRectMake(northWest.x, northWest.y, southEast.x - northWest.x, southEast.y - northWest.y);
    // A region west of -180 (or crossing it) is moved by one world so that it starts inside the world
    // and reaches east past the antimeridian instead.
    if (rect.origin.x < 0) rect.origin.x += kMKMapWorldSide;
    if (rect.origin.x >= kMKMapWorldSide) rect.origin.x -= kMKMapWorldSide;
    return rect;
}

}  // namespace platform
