#include "search/SearchRequest.hpp"

#include "platform/coding/JSONDecoder.hpp"
#include "platform/coding/JSONEncoder.hpp"
#include "platform/text/Locale.hpp"
#include "platform/text/UUID.hpp"

namespace tervolo::search {

namespace {
using Keys = SearchRequest::CodingKeys;
std::string key(Keys k) {
    return SearchRequest::codingKeys.name(k);
}
}  // namespace

SearchRequest SearchRequest::make(std::string searchString, platform::CLLocationCoordinate2D mapCenter,
                                  platform::CLLocationCoordinate2D userLocation) {
    SearchRequest request;
    request.searchString = std::move(searchString);
    request.uuid = platform::UUID::random().uuidString();
    request.mapLon = mapCenter.longitude;
    request.mapLat = mapCenter.latitude;
    request.userLon = userLocation.longitude;
    request.userLat = userLocation.latitude;
    request.startDate = platform::Date::now();
    request.searchProviders = "all";
    request.locale = platform::text::Locale::current().identifier();
    request.prefLangs = platform::text::Locale::preferredLanguages();
    return request;
}

SearchRequest SearchRequest::decode(const platform::KeyedDecodingContainer& c) {
    SearchRequest request;
    request.searchString = c.decode<std::string>(key(Keys::searchString));
    request.uuid = c.decode<std::string>(key(Keys::uuid));
    request.mapLon = c.decode<double>(key(Keys::mapLon));
    request.mapLat = c.decode<double>(key(Keys::mapLat));
    request.userLon = c.decode<double>(key(Keys::userLon));
    request.userLat = c.decode<double>(key(Keys::userLat));
    request.startDate = c.decode<platform::Date>(key(Keys::startDate));
    request.searchProviders = c.decode<std::string>(key(Keys::searchProviders));
    request.locale = c.decode<std::string>(key(Keys::locale));
    request.prefLangs = c.decode<std::vector<std::string>>(key(Keys::prefLangs));
    return request;
}

void SearchRequest::encode(platform::KeyedEncodingContainer& c) const {
    c.encode(key(Keys::searchString), searchString);
    c.encode(key(Keys::uuid), uuid);
    c.encode(key(Keys::mapLon), mapLon);
    c.encode(key(Keys::mapLat), mapLat);
    c.encode(key(Keys::userLon), userLon);
    c.encode(key(Keys::userLat), userLat);
    c.encode(key(Keys::startDate), startDate);
    c.encode(key(Keys::searchProviders), searchProviders);
    c.encode(key(Keys::locale), locale);
    c.encode(key(Keys::prefLangs), prefLangs);
}

}  // namespace tervolo::search
