#include "search/SearchResultMerge.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "platform/foundation/Bundle.hpp"
#include "platform/location/CLLocation.hpp"
#include "points/AppTextsAndColors.hpp"

namespace tervolo::search {

namespace {

bool isLineBreak(char c) {
    return c == '\n' || c == '\r';
}
bool isWhitespaceOrLineBreak(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

template <typename Predicate>
std::string trimming(const std::string& text, Predicate drop) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && drop(text[begin])) ++begin;
    while (end > begin && drop(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

const std::string& unknownAddressText() {
    static const std::string text = platform::localizedString("(unknown)");
    return text;
}

}  // namespace

std::string trimmingLineBreaks(const std::string& text) {
    return trimming(text, isLineBreak);
}

std::string trimmingWhitespaceAndLineBreaks(const std::string& text) {
    return trimming(text, isWhitespaceOrLineBreak);
}

std::vector<points::QuovaPlacemark> ownPointResults(
    const std::vector<std::shared_ptr<points::QuovaMapPoint>>& points) {
    std::vector<points::QuovaPlacemark> results;
    results.reserve(points.size());
    for (const auto& point : points) {
        if (!point || !point->title() || !platform::CLLocationCoordinate2DIsValid(point->coordinate()))
            continue;
        points::QuovaPlacemark result;
        result.title = *point->title();
        result.address = point->subtitle().value_or(unknownAddressText());
        result.datasource = points::localDataSourceName();
        result.longitude = point->coordinate().longitude;
        result.latitude = point->coordinate().latitude;
        result.uniqueID = point->uuid();
        results.push_back(std::move(result));
    }
    return results;
}

void sortByDistance(std::vector<points::QuovaPlacemark>& results, const std::vector<double>& distances) {
    std::vector<size_t> order(results.size());
    std::iota(order.begin(), order.end(), size_t{0});
    // A NaN in a comparator breaks the strict weak order the sort relies on;
    // unknown distances are +inf, so they sort last and compare equal.
    auto key = [&](size_t i) {
        const double d = distances[i];
        return std::isnan(d) ? std::numeric_limits<double>::infinity() : d;
    };
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return key(a) < key(b); });
    std::vector<points::QuovaPlacemark> sorted;
    sorted.reserve(results.size());
    for (size_t i : order) sorted.push_back(std::move(results[i]));
    results = std::move(sorted);
}

namespace {

constexpr double kEquatorialRadius = 6378137.0;      // WGS84, metres
constexpr double kFlattening = 1.0 / 298.257223563;  // WGS84
constexpr double kDegrees = 3.14159265358979323846 / 180.0;

}  // namespace

namespace {

// A position's reduced latitude (sine and cosine) and longitude, the terms of
// the formula that belong to one end, so the map centre's are computed once.
struct ReducedPosition {
    double sinBeta = 0;
    double cosBeta = 1;
    double longitude = 0;  // radians
};

ReducedPosition reduced(platform::CLLocationCoordinate2D position) {
    const double phi = position.latitude * kDegrees;
    const double sinPhi = std::sin(phi);
    const double cosPhi = std::cos(phi);
    // tan(beta) = (1 - f) tan(phi), written without the tangent so the poles
    // work. Both terms are at most 1, so the plain root cannot overflow.
    const double norm = std::sqrt(cosPhi * cosPhi + (1 - kFlattening) * (1 - kFlattening) * sinPhi * sinPhi);
    return {(1 - kFlattening) * sinPhi / norm, cosPhi / norm, position.longitude * kDegrees};
}

double approximateDistance(const ReducedPosition& a, const ReducedPosition& b) {
    // Andoyer-Lambert: the central angle between the reduced latitudes on the
    // sphere, corrected to first order in the flattening. Half-angle sines are
    // formed without cancellation, so short distances keep their precision.
    const double sinHalfLambda = std::sin((b.longitude - a.longitude) / 2);
    const double cosDBeta = a.cosBeta * b.cosBeta + a.sinBeta * b.sinBeta;
    const double sinDBeta = b.sinBeta * a.cosBeta - b.cosBeta * a.sinBeta;
    const double sinHalfDBeta2 =
        cosDBeta >= 0 ? sinDBeta * sinDBeta / (2 * (1 + cosDBeta)) : (1 - cosDBeta) / 2;
    const double h =
        std::clamp(sinHalfDBeta2 + a.cosBeta * b.cosBeta * sinHalfLambda * sinHalfLambda, 0.0, 1.0);
    const double sigma = 2 * std::asin(std::sqrt(h));
    if (sigma < 1e-12) return 0;
    // Near the antipode the correction breaks down: the caller measures exactly.
    if (sigma > kApproximateDistanceMaximumAngle) return std::numeric_limits<double>::quiet_NaN();
    const double sinSigma = 2 * std::sqrt(h * (1 - h));
    const double sinPcosQ = (a.sinBeta + b.sinBeta) / 2;
    const double cosPsinQ = (b.sinBeta - a.sinBeta) / 2;
    const double x = (sigma - sinSigma) * sinPcosQ * sinPcosQ / (1 - h);
    const double y = (sigma + sinSigma) * cosPsinQ * cosPsinQ / h;
    return kEquatorialRadius * (sigma - kFlattening / 2 * (x + y));
}

}  // namespace

double approximateDistance(platform::CLLocationCoordinate2D from, platform::CLLocationCoordinate2D to) {
    if (!platform::CLLocationCoordinate2DIsValid(from) || !platform::CLLocationCoordinate2DIsValid(to)) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    return approximateDistance(reduced(from), reduced(to));
}

std::vector<points::QuovaPlacemark> mergeSearchResults(
    const std::vector<points::QuovaPlacemark>& fromBackend,
    const std::vector<points::QuovaPlacemark>& fromGeocoder, std::vector<points::QuovaPlacemark> ownPoints,
    std::optional<platform::CLLocationCoordinate2D> mapCenter) {
    const size_t n = fromBackend.size() + fromGeocoder.size() + ownPoints.size();
    // Result i of the three lists taken one after the other; the lists are
    // read in place and each result is copied once, straight to its place
    // (an own point is moved: that list is ours).
    const size_t geocoderStart = fromBackend.size();
    const size_t ownStart = geocoderStart + fromGeocoder.size();
    const auto at = [&](size_t i) -> const points::QuovaPlacemark& {
        if (i < geocoderStart) return fromBackend[i];
        if (i < ownStart) return fromGeocoder[i - geocoderStart];
        return ownPoints[i - ownStart];
    };
    const auto emit = [&](std::vector<points::QuovaPlacemark>& into, size_t i) {
        if (i >= ownStart) {
            into.push_back(std::move(ownPoints[i - ownStart]));
        } else {
            into.push_back(at(i));
        }
    };
    std::vector<points::QuovaPlacemark> merged;
    merged.reserve(n);
    if (!mapCenter) {
        for (size_t i = 0; i < n; ++i) emit(merged, i);
        return merged;
    }

    // The order is the one of the exact geodesic distance, but the geodesic
    // is only computed where the cheap approximation cannot decide: results
    // whose approximate distances lie within twice its error bound of each
    // other. Everything else is ordered by the approximation alone, which
    // cannot be wrong beyond that bound.
    const platform::CLLocation center(mapCenter->latitude, mapCenter->longitude);
    const auto exact = [&](size_t i) {
        const points::QuovaPlacemark& place = at(i);
        const double d = platform::CLLocation(place.latitude, place.longitude).distance(center);
        return std::isnan(d) ? std::numeric_limits<double>::infinity() : d;
    };
    // (distance, list position) pairs: sorting them by both is the stable
    // sort by distance, on contiguous memory.
    struct Keyed {
        double distance;
        size_t index;
        bool operator<(const Keyed& other) const {
            return distance < other.distance || (distance == other.distance && index < other.index);
        }
    };
    std::vector<Keyed> order(n);
    const bool centerValid = platform::CLLocationCoordinate2DIsValid(*mapCenter);
    const ReducedPosition reducedCenter = reduced(*mapCenter);
    for (size_t i = 0; i < n; ++i) {
        const points::QuovaPlacemark& place = at(i);
        const platform::CLLocationCoordinate2D position{place.latitude, place.longitude};
        double d = centerValid && platform::CLLocationCoordinate2DIsValid(position)
                       ? approximateDistance(reducedCenter, reduced(position))
                       : std::numeric_limits<double>::quiet_NaN();
        if (std::isnan(d)) d = exact(i);  // invalid (+inf) or far towards the antipode
        order[i] = {d, i};
    }
    std::sort(order.begin(), order.end());

    const auto bound = [](double d) {
        return kApproximateDistanceRelativeError * d + kApproximateDistanceAbsoluteError;
    };
    for (size_t begin = 0; begin < n;) {
        size_t end = begin + 1;
        // The bound is taken at the larger approximation, plus its absolute
        // part once more for the exact distance lying beyond it.
        while (end < n && std::isfinite(order[end].distance) &&
               order[end].distance - order[end - 1].distance <=
                   2 * bound(order[end].distance) + kApproximateDistanceAbsoluteError) {
            ++end;
        }
        if (end - begin > 1 && std::isfinite(order[begin].distance)) {
            for (size_t k = begin; k < end; ++k) order[k].distance = exact(order[k].index);
            // Equal distances keep the order of the lists.
            std::sort(order.begin() + static_cast<std::ptrdiff_t>(begin),
                      order.begin() + static_cast<std::ptrdiff_t>(end));
        }
        begin = end;
    }
    for (const Keyed& keyed : order) emit(merged, keyed.index);
    return merged;
}

double searchTableHeight(size_t numberOfRows, const SearchTableLimits& limits) {
    const size_t rows = numberOfRows >= 1 ? numberOfRows + 1 : 0;
    double height = static_cast<double>(rows) * kSearchResultRowHeight;
    if (limits.keyboardOriginY != 0) {
        height = std::min(height, limits.keyboardOriginY - (limits.tableOriginY + 10.0));
    } else if (limits.windowHeight) {
        height = std::min(height, *limits.windowHeight - (limits.tableOriginY + 20.0));
    }
    // A keyboard or window edge above the table would give a negative height.
    return std::max(height, 0.0);
}

}  // namespace tervolo::search
