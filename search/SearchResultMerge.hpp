#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/location/CLLocationCoordinate2D.hpp"
#include "points/QuovaMapPoint.hpp"
#include "points/QuovaPlacemark.hpp"

namespace tervolo::search {

// The rules of the location search that need no display: which typed text
// searches, how the three result lists become one sorted list, and how high
// the result table may grow. Any thread; plain functions over values.

// Text shorter than this many UTF-8 bytes never reaches a geocoder (one CJK
// ideograph already has three).
inline constexpr size_t kMinimumSearchBytes = 3;
// Height of one result row, points; the table height rule counts with it.
inline constexpr double kSearchResultRowHeight = 90.0;

// `text` without line breaks (CR, LF) at either end; blanks and tabs stay.
std::string trimmingLineBreaks(const std::string& text);
// `text` without white space or line breaks at either end (the own-point filter).
std::string trimmingWhitespaceAndLineBreaks(const std::string& text);

// The search results made from the user's own points, in the given order:
// points without a title or with an invalid coordinate are skipped; the
// address is the subtitle or the localized "(unknown)", the data source the
// localized "local data", the identifier the point's uuid.
std::vector<points::QuovaPlacemark> ownPointResults(
    const std::vector<std::shared_ptr<points::QuovaMapPoint>>& points);

// The merged list: backend, then platform geocoder, then own points. With a
// map centre the list is sorted by ascending distance from it (metres along
// the ellipsoid): the order of the exact geodesic, which is only computed
// for results the approximation below cannot tell apart, and at most once per
// result. Equal distances keep the lists' order; results without a distance
// (an invalid coordinate) come last. Without a centre the
// order of the three lists stands. The own points' list, made afresh for each
// merge, is taken over (moved from when the caller hands it over).
std::vector<points::QuovaPlacemark> mergeSearchResults(
    const std::vector<points::QuovaPlacemark>& fromBackend,
    const std::vector<points::QuovaPlacemark>& fromGeocoder, std::vector<points::QuovaPlacemark> ownPoints,
    std::optional<platform::CLLocationCoordinate2D> mapCenter);

// Distance in metres between two positions on the WGS84 ellipsoid by the
// Andoyer-Lambert formula: within kApproximateDistanceRelativeError of the
// distance plus kApproximateDistanceAbsoluteError of the geodesic (checked
// against it in the tests). NaN for an invalid position and for central
// angles above kApproximateDistanceMaximumAngle (about 12,700 km), beyond
// which the formula's error grows towards the antipode. Up to that angle its
// error stays below 2e-6 of the distance (1.4e-6 up to 1.7 radians), so the
// bound leaves a margin of 2.5; the tighter the bound, the fewer results the
// merge must measure exactly.
inline constexpr double kApproximateDistanceRelativeError = 5e-6;
inline constexpr double kApproximateDistanceAbsoluteError = 1e-3;  // metres
inline constexpr double kApproximateDistanceMaximumAngle = 2.0;    // radians
double approximateDistance(platform::CLLocationCoordinate2D from, platform::CLLocationCoordinate2D to);

// Sorts `results` in place by `distances` (same length; NaN counts as +inf),
// stable. The floor the merge is measured against.
void sortByDistance(std::vector<points::QuovaPlacemark>& results, const std::vector<double>& distances);

// What limits the result table's height.
struct SearchTableLimits {
    // Top edge of the last keyboard seen, points; 0: no keyboard seen.
    double keyboardOriginY = 0;
    // The table's top edge, points.
    double tableOriginY = 0;
    // Height of the table's window, points; none when the table is in no window.
    std::optional<double> windowHeight;
};

// Height of a table of `numberOfRows` results, points: (n + 1) rows of 90 for
// n >= 1 (the extra row keeps the last result off the edge), 0 for none;
// capped to end 10 above the keyboard, or else 20 above the window's bottom;
// never below 0.
double searchTableHeight(size_t numberOfRows, const SearchTableLimits& limits);

}  // namespace tervolo::search
