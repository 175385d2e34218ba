#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

// The JSON text form shared by point and tag files: compact, members in the
// order the record inserted them, every solidus escaped as "\/" (the form the
// files have always had), numbers in the shortest text that reads back to the
// same double.
namespace tervolo::points::jsontext {

// Writes `value` compactly. Throws EncodingError for a non-finite number
// (nlohmann would silently write null) or a text that is not valid UTF-8.
std::string encodeCompact(const nlohmann::ordered_json& value);

// The largest file a loader reads; a point or tag file is a few hundred bytes.
inline constexpr std::size_t kMaxFileBytes = 1024 * 1024;

// Deepest nesting of arrays and objects a reader accepts. Point and tag files
// nest two levels; the bound keeps hostile input from costing stack or time.
inline constexpr std::size_t kMaxNesting = 64;

// Parses `text` as one JSON value. Returns a discarded value (is_discarded())
// for malformed text, text nested deeper than kMaxNesting, or a number too
// large for a double.
nlohmann::json parse(std::string_view text);

}  // namespace tervolo::points::jsontext
