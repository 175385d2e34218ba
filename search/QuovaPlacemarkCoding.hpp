#pragma once

#include <string>
#include <string_view>

#include "points/QuovaPlacemark.hpp"

namespace platform {
class KeyedDecodingContainer;
class KeyedEncodingContainer;
}  // namespace platform

namespace tervolo::search {

// The strict JSON form of a search result place, one object with the members
// "title", "address", "datasource" (strings), "longitude", "latitude"
// (numbers, degrees) and the optional strings "uniqueID", "url", "imageUrl".
//
// Decoding fails (platform::DecodingError) when a required member is missing,
// null or of another JSON type (a coordinate sent as a string); an optional
// member that is missing or null is absent; other members are ignored.
// Encoding writes the five required members always and an optional one only
// when present (never null); a non-finite coordinate refuses the encoding
// (platform::EncodingError). Any thread.
//
// A wrapper rather than members of the record, because the record lives below
// the search (points/) and the search owns its JSON form.
struct QuovaPlacemarkCoding {
    static constexpr const char* codingTypeName = "QuovaPlacemark";

    points::QuovaPlacemark placemark;

    static QuovaPlacemarkCoding decode(const platform::KeyedDecodingContainer& container);
    void encode(platform::KeyedEncodingContainer& container) const;

    // One record from JSON text; platform::DecodingError when it breaks the rules above.
    static points::QuovaPlacemark decodeJSON(std::string_view text);
    // Compact JSON text of one record; platform::EncodingError for a non-finite coordinate.
    static std::string encodeJSON(const points::QuovaPlacemark& placemark);
};

}  // namespace tervolo::search
