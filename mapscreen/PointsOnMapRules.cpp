#include "mapscreen/PointsOnMapRules.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

namespace tervolo::mapscreen {

platform::MKMapRect zoomMapRectForPoint(platform::CLLocationCoordinate2D coordinate,
                                        const std::optional<platform::MKCoordinateRegion>& visible) {
    platform::MKCoordinateRegion target =
        platform::MKCoordinateRegionMakeWithDistance(coordinate, kPointZoomDistance, kPointZoomDistance);
    if (visible && (visible->span.latitudeDelta < target.span.latitudeDelta ||
                    visible->span.longitudeDelta < target.span.longitudeDelta)) {
        // Closer already: only centre on the point.
        target = platform::MKCoordinateRegionMake(coordinate, visible->span);
    }
    // Beyond the projection's latitude a corner would land on the world's
    // edge together with the other one and leave a rect without height: keep
    // the whole region on the projected map instead.
    const double limit = platform::kMKMaximumLatitude;
    const double halfLatitude = std::min(target.span.latitudeDelta * 0.5, limit);
    const double centreLatitude =
        std::clamp(target.center.latitude, -limit + halfLatitude, limit - halfLatitude);
    const double halfLongitude = target.span.longitudeDelta * 0.5;
    const platform::MKMapPoint a = platform::MKMapPointForCoordinate(
        {centreLatitude + halfLatitude, target.center.longitude - halfLongitude});
    const platform::MKMapPoint b = platform::MKMapPointForCoordinate(
        {centreLatitude - halfLatitude, target.center.longitude + halfLongitude});
    return platform::MKMapRectMake(a.x, a.y, std::fabs(b.x - a.x), std::fabs(b.y - a.y));
}

ReverseGeocodedTexts reverseGeocodedTexts(const points::QuovaMapPoint& point,
                                          const platform::CLPlacemark& placemark,
                                          const std::string& newLocationTitle) {
    ReverseGeocodedTexts texts;
    if (point.title() == newLocationTitle && !point.hasHandcraftedTitle() && placemark.name) {
        texts.title = placemark.name;
    }
    const auto lines = placemark.formattedAddressLines();
    if ((!point.subtitle() || point.subtitle()->empty()) && !lines.empty()) {
        std::string joined;
        for (const auto& line : lines) {
            if (!joined.empty()) joined += ", ";
            joined += line;
        }
        texts.subtitle = std::move(joined);
    }
    return texts;
}

double reverseGeocodingRetryDelay(int failedAttempts) {
    constexpr double kFirst = 3.0;
    constexpr double kLongest = 60.0;
    const int doublings = std::clamp(failedAttempts - 1, 0, 16);
    return std::min(kFirst * std::exp2(doublings), kLongest);
}

double leadingSecondsOfIdentifier(const std::string& identifier) {
    double seconds = 0;
    const char* begin = identifier.data();
    const char* end = begin + identifier.size();
    // Plain decimal only: no "inf", "nan" or hexadecimal readings of a name.
    if (begin == end || !(std::isdigit(static_cast<unsigned char>(*begin)) || *begin == '-' || *begin == '.'))
        return 0;
    const auto [rest, error] = std::from_chars(begin, end, seconds, std::chars_format::general);
    if (error != std::errc() || rest == begin || !std::isfinite(seconds)) return 0;
    return seconds;
}

}  // namespace tervolo::mapscreen
