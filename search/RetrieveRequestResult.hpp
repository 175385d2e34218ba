#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "points/QuovaPlacemark.hpp"
#include "search/CodingKeyTable.hpp"

namespace platform {
class KeyedDecodingContainer;
class KeyedEncodingContainer;
}  // namespace platform

namespace tervolo::search {

// The backend's reply to one poll for results. Every member but "placemarks"
// is required with exactly its JSON type ("isDone" 1 is not a boolean);
// "placemarks" missing or null means no list, which is not an empty list, and
// one element that is no valid place fails the whole reply
// (platform::DecodingError). Other members are ignored. A value; any thread.
struct RetrieveRequestResult {
    int64_t status = 0;   // not interpreted
    std::string message;  // not interpreted
    std::string uuid;     // the search's identifier; not compared
    // How many results the backend has so far.
    int64_t hits = 0;
    // The results so far; written only when the record holds a list.
    std::optional<std::vector<points::QuovaPlacemark>> placemarks;
    // True once the backend has finished this search.
    bool isDone = false;

    enum class CodingKeys { status, message, uuid, hits, placemarks, isDone };
    static constexpr CodingKeyTable<CodingKeys, 6> codingKeys{
        {"status", "message", "uuid", "hits", "placemarks", "isDone"}};
    static constexpr const char* codingTypeName = "RetrieveRequestResult";

    static RetrieveRequestResult decode(const platform::KeyedDecodingContainer& container);
    void encode(platform::KeyedEncodingContainer& container) const;

    bool operator==(const RetrieveRequestResult&) const = default;
};

}  // namespace tervolo::search
