#include "search/SearchRequestResult.hpp"

#include "platform/coding/JSONDecoder.hpp"
#include "platform/coding/JSONEncoder.hpp"

namespace tervolo::search {

namespace {
using ResultKeys = SearchRequestResult::CodingKeys;
std::string resultKey(ResultKeys k) {
    return SearchRequestResult::codingKeys.name(k);
}
}  // namespace

SearchRequestResult SearchRequestResult::decode(const platform::KeyedDecodingContainer& c) {
    SearchRequestResult result;
    result.status = c.decode<int64_t>(resultKey(ResultKeys::status));
    result.message = c.decode<std::string>(resultKey(ResultKeys::message));
    result.uuid = c.decode<std::string>(resultKey(ResultKeys::uuid));
    result.searchString = c.decode<std::string>(resultKey(ResultKeys::searchString));
    return result;
}

void SearchRequestResult::encode(platform::KeyedEncodingContainer& c) const {
    c.encode(resultKey(ResultKeys::status), status);
    c.encode(resultKey(ResultKeys::message), message);
    c.encode(resultKey(ResultKeys::uuid), uuid);
    c.encode(resultKey(ResultKeys::searchString), searchString);
}

}  // namespace tervolo::search
