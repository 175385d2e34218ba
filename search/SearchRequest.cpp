#include "search/SearchRequest.hpp"

#include "platform/coding/JSONDecoder.hpp"
#include "platform/coding/JSONEncoder.hpp"
#include "platform/text/Locale.hpp"
#include "platform/text/UUID.hpp"

namespace tervolo::search {

namespace {
using RequestKeys = SearchRequest::CodingKeys;
std::string requestKey(RequestKeys k) {
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
    request.searchString = c.decode<std::string>(requestKey(RequestKeys::searchString));
    request.uuid = c.decode<std::string>(requestKey(RequestKeys::uuid));
    request.mapLon = c.decode<double>(requestKey(RequestKeys::mapLon));
    request.mapLat = c.decode<double>(requestKey(RequestKeys::mapLat));
    request.userLon = c.decode<double>(requestKey(RequestKeys::userLon));
    request.userLat = c.decode<double>(requestKey(RequestKeys::userLat));
    request.startDate = c.decode<platform::Date>(requestKey(RequestKeys::startDate));
    request.searchProviders = c.decode<std::string>(requestKey(RequestKeys::searchProviders));
    request.locale = c.decode<std::string>(requestKey(RequestKeys::locale));
    request.prefLangs = c.decode<std::vector<std::string>>(requestKey(RequestKeys::prefLangs));
    return request;
}

void SearchRequest::encode(platform::KeyedEncodingContainer& c) const {
    c.encode(requestKey(RequestKeys::searchString), searchString);
    c.encode(requestKey(RequestKeys::uuid), uuid);
    c.encode(requestKey(RequestKeys::mapLon), mapLon);
    c.encode(requestKey(RequestKeys::mapLat), mapLat);
    c.encode(requestKey(RequestKeys::userLon), userLon);
    c.encode(requestKey(RequestKeys::userLat), userLat);
    c.encode(requestKey(RequestKeys::startDate), startDate);
    c.encode(requestKey(RequestKeys::searchProviders), searchProviders);
    c.encode(requestKey(RequestKeys::locale), locale);
    c.encode(requestKey(RequestKeys::prefLangs), prefLangs);
}

}  // namespace tervolo::search
