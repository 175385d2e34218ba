// The point's operations other than storage: the constructors from a search
// result and from a short-link record, distance, ordering, tag colour and the
// legacy data-source codes.
#include <cmath>
#include <limits>

#include "platform/text/Unicode.hpp"
#include "points/QuovaMapPoint.hpp"
#include "points/QuovaPointTagStore.hpp"
#include "points/QuovaStringRepresentation.hpp"

namespace tervolo::points {

std::shared_ptr<QuovaMapPoint> QuovaMapPoint::make(const QuovaPlacemark& placemark) {
    auto point = make(placemark.title);
    point->subtitle = placemark.address;
    // The coordinate is taken as given, valid or not; only a non-finite number,
    // which the point file cannot hold, becomes the invalid coordinate.
    if (std::isfinite(placemark.latitude) && std::isfinite(placemark.longitude)) {
        point->coordinate = platform::CLLocationCoordinate2DMake(placemark.latitude, placemark.longitude);
    }
    point->dataSourceURL = placemark.url;
    point->dataSourceUniqueID = placemark.uniqueID;
    point->dataSourceImageURL = placemark.imageUrl;
    point->dataSourceName = placemark.datasource;
    return point;
}

std::shared_ptr<QuovaMapPoint> QuovaMapPoint::make(const Shorturl& shorturl) {
    const auto coordinate = shorturl.coordinate();
    // A record from the network with a position off the globe would make a
    // point that can be neither shown nor shared: refused like unreadable text.
    if (!coordinate || !platform::CLLocationCoordinate2DIsValid(*coordinate)) return nullptr;
    auto point = make(shorturl.title);
    point->coordinate = *coordinate;
    point->dataSourceURL = shorturl.dataSourceURL;
    point->dataSourceUniqueID = shorturl.dataSourceUniqueID;
    point->dataSourceImageURL = shorturl.dataSourceImageURL;
    point->dataSourceName = shorturl.dataSourceName;
    return point;
}

double QuovaMapPoint::distance(const platform::CLLocation& from) const {
    if (!platform::CLLocationCoordinate2DIsValid(coordinate)) return std::numeric_limits<double>::infinity();
    return platform::CLLocation(coordinate.latitude, coordinate.longitude).distance(from);
}

std::optional<platform::Color> QuovaMapPoint::tagColor() const {
    if (!tags || tags->empty()) return std::nullopt;
    const std::string last = platform::text::lowercased(tags->back());
    const auto& storeTags = QuovaPointTagStore::shared().tags;
    if (!storeTags || storeTags->empty()) return std::nullopt;
    // The store holds only valid tags, so a point whose last tag was deleted
    // has no colour.
    for (const auto& tag : *storeTags) {
        if (!tag || platform::text::lowercased(tag->uuid) != last) continue;
        if (!tag->colorString) return std::nullopt;
        return colorFromStoredString(*tag->colorString);
    }
    return std::nullopt;
}

void QuovaMapPoint::setDataSource(int64_t code) {
    static constexpr const char* kNames[] = {"Facebook", "Google", "OSM", "Qype", "VBB", "Yelp"};
    if (code >= 1 && code <= 6) {
        dataSourceName = kNames[code - 1];
    } else {
        dataSourceName = std::nullopt;
    }
}

bool operator<(const QuovaMapPoint& a, const QuovaMapPoint& b) {
    if (!a.title || !b.title) return false;
    return platform::text::compareCodePoints(*a.title, *b.title) < 0;
}

}  // namespace tervolo::points
