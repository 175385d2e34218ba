#include "search/SearchRequestResult.hpp"

#include "platform/coding/JSONDecoder.hpp"
#include "platform/coding/JSONEncoder.hpp"

namespace tervolo::search {

namespace {
using Keys = SearchRequestResult::CodingKeys;
std::string key(Keys k) {
    return SearchRequestResult::codingKeys.name(k);
}
}  // namespace

SearchRequestResult SearchRequestResult::decode(const platform::KeyedDecodingContainer& c) {
    SearchRequestResult result;
    result.status = c.decode<int64_t>(key(Keys::status));
    result.message = c.decode<std::string>(key(Keys::message));
    result.uuid = c.decode<std::string>(key(Keys::uuid));
    result.searchString = c.decode<std::string>(key(Keys::searchString));
    return result;
}

void SearchRequestResult::encode(platform::KeyedEncodingContainer& c) const {
    c.encode(key(Keys::status), status);
    c.encode(key(Keys::message), message);
    c.encode(key(Keys::uuid), uuid);
    c.encode(key(Keys::searchString), searchString);
}

}  // namespace tervolo::search
