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

std::vector<points::QuovaPlacemark> mergeSearchResults(
    const std::vector<points::QuovaPlacemark>& fromBackend,
    const std::vector<points::QuovaPlacemark>& fromGeocoder,
    const std::vector<points::QuovaPlacemark>& ownPoints,
    std::optional<platform::CLLocationCoordinate2D> mapCenter) {
    std::vector<points::QuovaPlacemark> all;
    all.reserve(fromBackend.size() + fromGeocoder.size() + ownPoints.size());
    all.insert(all.end(), fromBackend.begin(), fromBackend.end());
    all.insert(all.end(), fromGeocoder.begin(), fromGeocoder.end());
    all.insert(all.end(), ownPoints.begin(), ownPoints.end());
    if (!mapCenter) return all;

    const platform::CLLocation center(mapCenter->latitude, mapCenter->longitude);
    std::vector<double> distances;
    distances.reserve(all.size());
    for (const auto& result : all) {
        distances.push_back(platform::CLLocation(result.latitude, result.longitude).distance(center));
    }
    sortByDistance(all, distances);
    return all;
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
