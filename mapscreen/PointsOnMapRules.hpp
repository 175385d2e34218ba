#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/location/CLLocationCoordinate2D.hpp"
#include "platform/location/CLPlacemark.hpp"
#include "platform/mapkit/MKGeometry.hpp"
#include "points/QuovaMapPoint.hpp"

namespace tervolo::mapscreen {

// The decisions of the map screen's point operations that need no map and no
// screen: where a zoom to a point goes, what a reverse-geocoding answer
// changes in a point, how long a failed one waits. Pure functions; any thread.

// North-south and east-west extent, metres, of the area a zoom to a point shows.
inline constexpr double kPointZoomDistance = 10000.0;

// The map rect that shows `coordinate` (degrees): the 10 km region around
// it, or, when `visible` (the map's region now) is already closer in either
// span, the point with the visible spans. The region's corners are
// projected north-west and south-east; near a pole the region is moved
// towards the equator until both corners lie on the projected map (so the
// rect keeps its height instead of collapsing at the world's edge), and
// east of the antimeridian x passes the world's width (the map wraps).
// The coordinate must be valid.
platform::MKMapRect zoomMapRectForPoint(platform::CLLocationCoordinate2D coordinate,
                                        const std::optional<platform::MKCoordinateRegion>& visible);

// What a reverse-geocoding answer puts into a point; none where it leaves
// the field as it is.
struct ReverseGeocodedTexts {
    std::optional<std::string> title;
    std::optional<std::string> subtitle;
    bool changesSomething() const { return title.has_value() || subtitle.has_value(); }
};
// The title becomes the placemark's name only while the point still has the
// new-point title `newLocationTitle` and no hand-made title; the subtitle
// becomes the address lines joined with ", " only while it is absent or
// empty and there is at least one line.
ReverseGeocodedTexts reverseGeocodedTexts(const points::QuovaMapPoint& point,
                                          const platform::CLPlacemark& placemark,
                                          const std::string& newLocationTitle);

// Seconds before the next request after `failedAttempts` failed ones (1 or
// more): 3, 6, 12 … doubling, never more than 60.
double reverseGeocodingRetryDelay(int failedAttempts);

// The seconds since 2001 read from the leading decimal number of a legacy
// point's identifier ("700000000.5abc" gives 700000000.5); 0 when it starts
// with none or the number is not finite.
double leadingSecondsOfIdentifier(const std::string& identifier);

}  // namespace tervolo::mapscreen
