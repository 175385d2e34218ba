#pragma once

#include <cstdint>
#include <string>

#include "search/CodingKeyTable.hpp"

namespace platform {
class KeyedDecodingContainer;
class KeyedEncodingContainer;
}  // namespace platform

namespace tervolo::search {

// The backend's reply to the request that starts a search. All four members
// are required with exactly their JSON types (platform::DecodingError
// otherwise), other members are ignored. A value; any thread.
struct SearchRequestResult {
    // The backend's status number; not interpreted.
    int64_t status = 0;
    // Backend text; only logged.
    std::string message;
    // The search's identifier on the backend; the polls use it. An empty or
    // otherwise unusable one makes the start count as failed.
    std::string uuid;
    // The searched text as echoed; not compared.
    std::string searchString;

    enum class CodingKeys { status, message, uuid, searchString };
    static constexpr CodingKeyTable<CodingKeys, 4> codingKeys{{"status", "message", "uuid", "searchString"}};
    static constexpr const char* codingTypeName = "SearchRequestResult";

    static SearchRequestResult decode(const platform::KeyedDecodingContainer& container);
    void encode(platform::KeyedEncodingContainer& container) const;

    bool operator==(const SearchRequestResult&) const = default;
};

}  // namespace tervolo::search
