#include "search/RetrieveRequestResult.hpp"

#include "platform/coding/JSONDecoder.hpp"
#include "platform/coding/JSONEncoder.hpp"
#include "search/QuovaPlacemarkCoding.hpp"

namespace tervolo::search {

namespace {
using Keys = RetrieveRequestResult::CodingKeys;
std::string key(Keys k) {
    return RetrieveRequestResult::codingKeys.name(k);
}
}  // namespace

RetrieveRequestResult RetrieveRequestResult::decode(const platform::KeyedDecodingContainer& c) {
    RetrieveRequestResult result;
    result.status = c.decode<int64_t>(key(Keys::status));
    result.message = c.decode<std::string>(key(Keys::message));
    result.uuid = c.decode<std::string>(key(Keys::uuid));
    result.hits = c.decode<int64_t>(key(Keys::hits));
    if (auto coded = c.decodeIfPresent<std::vector<QuovaPlacemarkCoding>>(key(Keys::placemarks))) {
        std::vector<points::QuovaPlacemark> placemarks;
        placemarks.reserve(coded->size());
        for (auto& element : *coded) placemarks.push_back(std::move(element.placemark));
        result.placemarks = std::move(placemarks);
    }
    result.isDone = c.decode<bool>(key(Keys::isDone));
    return result;
}

void RetrieveRequestResult::encode(platform::KeyedEncodingContainer& c) const {
    c.encode(key(Keys::status), status);
    c.encode(key(Keys::message), message);
    c.encode(key(Keys::uuid), uuid);
    c.encode(key(Keys::hits), hits);
    if (placemarks) {
        std::vector<QuovaPlacemarkCoding> coded;
        coded.reserve(placemarks->size());
        for (const auto& placemark : *placemarks) coded.push_back({placemark});
        c.encode(key(Keys::placemarks), coded);
    }
    c.encode(key(Keys::isDone), isDone);
}

}  // namespace tervolo::search
