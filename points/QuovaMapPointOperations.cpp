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
    point->subtitle_ = placemark.address;
    // The coordinate is taken as given, valid or not; only a non-finite number,
    // which the point file cannot hold, becomes the invalid coordinate.
    if (std::isfinite(placemark.latitude) && std::isfinite(placemark.longitude)) {
        point->coordinate_ = platform::CLLocationCoordinate2DMake(placemark.latitude, placemark.longitude);
    }
    point->dataSourceURL_ = placemark.url;
    point->dataSourceUniqueID_ = placemark.uniqueID;
    point->dataSourceImageURL_ = placemark.imageUrl;
    point->dataSourceName_ = placemark.datasource;
    return point;
}

std::shared_ptr<QuovaMapPoint> QuovaMapPoint::make(const Shorturl& shorturl) {
    const auto position = shorturl.coordinate();
    // A record from the network with a position off the globe would make a
    // point that can be neither shown nor shared: refused like unreadable text.
    if (!position || !platform::CLLocationCoordinate2DIsValid(*position)) return nullptr;
    auto point = make(shorturl.title);
    point->coordinate_ = *position;
    point->dataSourceURL_ = shorturl.dataSourceURL;
    point->dataSourceUniqueID_ = shorturl.dataSourceUniqueID;
    point->dataSourceImageURL_ = shorturl.dataSourceImageURL;
    point->dataSourceName_ = shorturl.dataSourceName;
    return point;
}

double QuovaMapPoint::distance(const platform::CLLocation& from) const {
    if (!platform::CLLocationCoordinate2DIsValid(coordinate_)) return std::numeric_limits<double>::infinity();
    return platform::CLLocation(coordinate_.latitude, coordinate_.longitude).distance(from);
}

std::optional<platform::Color> QuovaMapPoint::tagColor() const {
    if (!tags_ || tags_->empty()) return std::nullopt;
    const std::string last = platform::text::lowercased(tags_->back());
    const auto& storeTags = QuovaPointTagStore::shared().tags();
    if (!storeTags || storeTags->empty()) return std::nullopt;
    // The store holds only valid tags, so a point whose last tag was deleted
    // has no colour.
    for (const auto& tag : *storeTags) {
        if (!tag || platform::text::lowercased(tag->uuid()) != last) continue;
        if (!tag->colorString()) return std::nullopt;
        return colorFromStoredString(*tag->colorString());
    }
    return std::nullopt;
}

void QuovaMapPoint::setDataSource(int64_t code) {
    static constexpr const char* kNames[] = {"Facebook", "Google", "OSM", "Qype", "VBB", "Yelp"};
    if (code >= 1 && code <= 6) {
        dataSourceName_ = kNames[code - 1];
    } else {
        dataSourceName_ = std::nullopt;
    }
}

bool operator<(const QuovaMapPoint& a, const QuovaMapPoint& b) {
    if (!a.title_ || !b.title_) return false;
    return platform::text::compareCodePoints(*a.title_, *b.title_) < 0;
}

}  // namespace tervolo::points
