#include "search/QuovaPlacemarkCoding.hpp"

#include "platform/coding/JSONDecoder.hpp"
#include "platform/coding/JSONEncoder.hpp"

namespace tervolo::search {

QuovaPlacemarkCoding QuovaPlacemarkCoding::decode(const platform::KeyedDecodingContainer& container) {
    points::QuovaPlacemark placemark;
    placemark.title = container.decode<std::string>("title");
    placemark.address = container.decode<std::string>("address");
    placemark.datasource = container.decode<std::string>("datasource");
    placemark.longitude = container.decode<double>("longitude");
    placemark.latitude = container.decode<double>("latitude");
    placemark.uniqueID = container.decodeIfPresent<std::string>("uniqueID");
    placemark.url = container.decodeIfPresent<std::string>("url");
    placemark.imageUrl = container.decodeIfPresent<std::string>("imageUrl");
    return {std::move(placemark)};
}

void QuovaPlacemarkCoding::encode(platform::KeyedEncodingContainer& container) const {
    container.encode("title", placemark.title);
    container.encode("address", placemark.address);
    container.encode("datasource", placemark.datasource);
    container.encode("longitude", placemark.longitude);
    container.encode("latitude", placemark.latitude);
    container.encodeIfPresent("uniqueID", placemark.uniqueID);
    container.encodeIfPresent("url", placemark.url);
    container.encodeIfPresent("imageUrl", placemark.imageUrl);
}

points::QuovaPlacemark QuovaPlacemarkCoding::decodeJSON(std::string_view text) {
    return platform::JSONDecoder().decode<QuovaPlacemarkCoding>(text).placemark;
}

std::string QuovaPlacemarkCoding::encodeJSON(const points::QuovaPlacemark& placemark) {
    return platform::JSONEncoder().encodeToString(QuovaPlacemarkCoding{placemark});
}

}  // namespace tervolo::search
