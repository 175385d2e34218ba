#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tervolo::analytics {

// Text helpers of the analytics client. Texts are UTF-8; lengths and limits
// count UTF-16 code units, as the server's other clients do.

// Percent-encodes every byte of the UTF-8 form outside the unreserved set of
// RFC 3986 (letters, digits, "-._~"), hex digits upper-case:
// "a b&c=d/é" → "a%20b%26c%3Dd%2F%C3%A9".
std::string tly_URLEscaped(std::string_view text);
// Appends the escaped form of `text` to `out` (no temporary string).
void tly_appendURLEscaped(std::string& out, std::string_view text);

// SHA-256 of the UTF-8 bytes as 64 lower-case hex digits.
std::string tly_SHA256(std::string_view text);

std::vector<uint8_t> tly_dataUTF8(std::string_view text);
// Nothing when the bytes are not valid UTF-8.
std::optional<std::string> tly_stringUTF8(const std::vector<uint8_t>& data);

// Percent-decodes `text`; nothing when an escape is malformed ("%4", "%zz").
std::optional<std::string> tly_percentDecoded(std::string_view text);

// Treats `query` as a URL's query ("a=1&b=x%20y") and answers the decoded
// value of the first item named `key`; nothing when there is none, when that
// item has no "=", or when its value is not validly escaped.
std::optional<std::string> tly_valueForQueryStringKey(std::string_view query, std::string_view key);

// Length in UTF-16 code units (an invalid byte counts as one unit).
size_t tly_utf16Length(std::string_view text);
// The longest prefix of at most `maxUnits` UTF-16 units that ends on a
// character boundary: never half of a surrogate pair, never part of a UTF-8
// sequence (so an emoji at the cut is dropped whole).
std::string_view tly_prefixOfUTF16Length(std::string_view text, size_t maxUnits);

// Cut to the common state's key or value limit; a cut logs one warning naming
// `name` ("Custom metric", "Event segmentation key", ...).
std::string tly_truncatedKey(std::string_view text, std::string_view name);
std::string tly_truncatedValue(std::string_view text, std::string_view name);

}  // namespace tervolo::analytics
