// The read side of the point store: the filtered queries, the distance query
// and the sorting of point lists.
#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "logging/LoggerMetadataValue.hpp"
#include "logging/QLLogging.hpp"
#include "platform/text/Numbers.hpp"
#include "platform/text/Unicode.hpp"
#include "points/BestKnownLocation.hpp"
#include "points/QuovaMapPointStore.hpp"

namespace tervolo::points {

namespace {

using PointList = std::vector<std::shared_ptr<QuovaMapPoint>>;

bool isValid(const QuovaMapPoint& point) {
    return !point.deletedAt() && !point.hiddenAt();
}

bool isDeleted(const QuovaMapPoint& point) {
    return point.deletedAt() && !point.hiddenAt();
}

// Title first, then subtitle; case-insensitive, diacritic-sensitive, under
// canonical equivalence. The filter text is folded once per query, each
// point's texts once until they change (QuovaMapPoint keeps them).
bool matchesFilter(const QuovaMapPoint& point, const platform::text::FoldedText& filter) {
    const platform::text::FoldedText* title = point.foldedTitle();
    if (title && title->contains(filter)) return true;
    const platform::text::FoldedText* subtitle = point.foldedSubtitle();
    return subtitle && subtitle->contains(filter);
}

template <class Keep>
PointList pick(const PointList& points, const std::optional<std::string>& filter, Keep keep) {
    PointList result;
    // The empty filter text matches nothing, as a substring search never
    // finds the empty text (the platform's containment says the opposite,
    // hence the explicit test).
    if (filter && filter->empty()) return result;
    const std::optional<platform::text::FoldedText> folded =
        filter ? std::optional<platform::text::FoldedText>(*filter) : std::nullopt;
    for (const auto& point : points) {
        if (point && keep(*point) && (!folded || matchesFilter(*point, *folded))) result.push_back(point);
    }
    return result;
}

void logReturned(const char* kind, size_t returned, size_t all, const std::optional<std::string>& filter) {
    std::string text = "QuovaMapPointStore: returning " + std::to_string(returned) + " " + kind +
                       " points of " + std::to_string(all) + " points altogether";
    if (filter) {
        text += ", using filter " + *filter;
    } else {
        text += ".";
    }
    QLLogInfo(text);
}

// Reorders `points` by `indices` (a permutation).
PointList gather(const PointList& points, const std::vector<size_t>& indices) {
    PointList result;
    result.reserve(points.size());
    for (size_t index : indices) result.push_back(points[index]);
    return result;
}

std::vector<size_t> identity(size_t count) {
    std::vector<size_t> indices(count);
    std::iota(indices.begin(), indices.end(), size_t{0});
    return indices;
}

// Stable sort of the positions by a key computed once per point: the result
// is the same as a stable sort comparing points, without recomputing keys
// (an NFC form or a geodesic) in every comparison.
template <class Key, class Less>
PointList sortedByKey(const PointList& points, const std::vector<Key>& keys, Less less) {
    auto indices = identity(points.size());
    std::stable_sort(indices.begin(), indices.end(),
                     [&](size_t a, size_t b) { return less(keys[a], keys[b]); });
    return gather(points, indices);
}

// The shortest degree of latitude on the WGS84 ellipsoid is 110,574 m (at
// the equator); rounded down so the bound stays safe.
constexpr double kMinMetresPerDegreeLatitude = 110000.0;

// A key that is a number in every case, so the order is total: NaN would make
// every comparison false and the order undefined.
double totalDistance(double metres) {
    return std::isnan(metres) ? std::numeric_limits<double>::infinity() : metres;
}

}  // namespace

std::vector<std::shared_ptr<QuovaMapPoint>> QuovaMapPointStore::validPointsWithFilter(
    const std::optional<std::string>& filter) const {
    auto result = pick(points_, filter, isValid);
    logReturned("VALID", result.size(), points_.size(), filter);
    return result;
}

std::vector<std::shared_ptr<QuovaMapPoint>> QuovaMapPointStore::deletedPointsWithFilter(
    const std::optional<std::string>& filter) const {
    auto result = pick(points_, filter, isDeleted);
    logReturned("DELETED", result.size(), points_.size(), filter);
    return result;
}

std::vector<std::shared_ptr<QuovaMapPoint>> QuovaMapPointStore::validPointsWithinDistance(
    double meters, const QuovaMapPoint& fromPoint) const {
    PointList taken;
    std::vector<double> distances;
    if (platform::CLLocationCoordinate2DIsValid(fromPoint.coordinate())) {
        const platform::CLLocation from(fromPoint.coordinate().latitude, fromPoint.coordinate().longitude);
        for (const auto& point : points_) {
            if (!point || !isValid(*point) || !platform::CLLocationCoordinate2DIsValid(point->coordinate()))
                continue;
            // Every degree of latitude is at least kMinMetresPerDegreeLatitude
            // long, so a point this far north or south lies beyond the limit
            // whatever its longitude: skipped without the geodesic.
            if (std::abs(point->coordinate().latitude - fromPoint.coordinate().latitude) *
                    kMinMetresPerDegreeLatitude >
                meters) {
                continue;
            }
            const double d = platform::CLLocation(point->coordinate().latitude, point->coordinate().longitude)
                                 .distance(from);
            // Inclusive limit; NaN fails the comparison and is never taken.
            if (d <= meters) {
                taken.push_back(point);
                distances.push_back(d);
            }
        }
    }
    if (taken.size() >= 2) taken = sortedByKey(taken, distances, std::less<double>());
    QLLogInfo("QuovaMapPointStore: returning " + std::to_string(taken.size()) + " VALID points of " +
              std::to_string(points_.size()) + " points altogether within " +
              platform::text::describe(meters) + " from " +
              (fromPoint.title() ? logging::debugQuoted(*fromPoint.title()) : std::string("unknown")) + ".");
    return taken;
}

const std::vector<std::shared_ptr<QuovaMapPoint>>& QuovaMapPointStore::allPoints() const {
    QLLogInfo("QuovaMapPointStore: returning all points");
    return points_;
}

std::vector<std::shared_ptr<QuovaMapPoint>> QuovaMapPointStore::sortedPoints(
    std::vector<std::shared_ptr<QuovaMapPoint>> points, SortOrder sortOrder) {
    switch (sortOrder) {
        case SortOrder::alphabetically: {
            // UTF-8 bytes compare in code point order, so the NFC forms are
            // compared as plain byte strings.
            std::vector<std::string> keys;
            keys.reserve(points.size());
            for (const auto& point : points) keys.push_back(platform::text::nfc(point->title().value_or("")));
            return sortedByKey(points, keys, std::less<std::string>());
        }
        case SortOrder::byDistance: {
            const auto location = bestKnownLocation();
            if (!location) {
                QLLogDebug("CANNOT use location for sorting - NO current location available");
                return points;
            }
            QLLogDebug("using location for sort: Optional(" + location->description() + ")");
            // Only the position is used: no age or accuracy test.
            const platform::CLLocation from(location->coordinate().latitude,
                                            location->coordinate().longitude);
            std::vector<double> keys;
            keys.reserve(points.size());
            for (const auto& point : points) keys.push_back(totalDistance(point->distance(from)));
            return sortedByKey(points, keys, std::less<double>());
        }
        case SortOrder::byLastChange: {
            std::vector<double> keys;
            keys.reserve(points.size());
            for (const auto& point : points) {
                const double seconds = point->lastSavedAt().secondsSince2001;
                keys.push_back(std::isnan(seconds) ? -std::numeric_limits<double>::infinity() : seconds);
            }
            return sortedByKey(points, keys, std::greater<double>());
        }
        case SortOrder::unsorted:
            break;
    }
    return points;
}

}  // namespace tervolo::points
