#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace tervolo::analytics {

// JSON values of the analytics client. Objects keep their members in the
// order they were inserted, so the texts sent are deterministic: the server
// does not care, tests and people reading captures do.
using TallyJSON = nlohmann::ordered_json;

// A number for JSON: a whole double the way the server's other clients write
// it, without a fraction (1, not 1.0); any other double as it is.
TallyJSON TallyJSONNumber(double value);

// Compact JSON text of an array or object whose numbers are finite: no
// blanks, "/" unescaped, non-ASCII left as UTF-8 (an invalid UTF-8 byte
// becomes U+FFFD rather than losing the whole text). Anything else logs
// "Object is not valid for converting to JSON!" and gives nothing.
std::optional<std::string> TallyJSONFromObject(const TallyJSON& object);

// The JSON text, URL-escaped: ready to be a query value. Nothing when the
// object cannot be written.
std::optional<std::string> tly_JSONify(const TallyJSON& object);

// Keys cut to the key limit, string values to the value limit, each cut
// logged under "<name> key" or "<name> value"; other values kept. Two keys
// that cut to the same text keep one entry. A non-object is returned as is.
TallyJSON tly_truncated(const TallyJSON& dictionary, std::string_view name);

// At most `maxSegmentationValues` members: the first ones in the object's own
// order stay, the rest are removed and named in one warning.
TallyJSON tly_limited(const TallyJSON& dictionary, std::string_view name);

}  // namespace tervolo::analytics
