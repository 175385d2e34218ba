#pragma once

#include <string>
#include <vector>

#include "platform/coding/JSONDecoder.hpp"
#include "platform/coding/JSONEncoder.hpp"
#include "points/Shorturl.hpp"

namespace tervolo::backend {

// The JSON coding of the short-link lookup's reply record: fourteen required
// keys with exact JSON types (integers for "id", "device_id" and "zoom",
// strings for the rest, null refused) and four optional data-source strings
// (missing or null leave the field empty). Unknown keys are ignored; any
// failure refuses the whole record.
struct ShorturlRecord {
    static constexpr const char* codingTypeName = "Shorturl";
    points::Shorturl value;

    static ShorturlRecord decode(const platform::KeyedDecodingContainer& container);
    void encode(platform::KeyedEncodingContainer& container) const;
};

// Throws platform::DecodingError when `data` is not one complete record.
points::Shorturl decodeShorturl(const std::vector<uint8_t>& data);
// The fourteen keys always, a data-source key only when it holds a value.
std::string encodeShorturl(const points::Shorturl& shorturl);

}  // namespace tervolo::backend
