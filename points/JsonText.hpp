#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "points/CodingError.hpp"

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

// Parses a whole record file; throws DecodingError (dataCorrupted) when the
// text is no JSON value.
nlohmann::json parseDocument(std::string_view fileBytes);

// The folder `name` of the documents folder, with a final "/", created when
// missing. Existence is checked on the path without its final "/", so a plain
// file of that name counts as present and is left alone.
std::string documentSubfolder(std::string_view name);

namespace detail {
std::optional<std::string> readRecordFile(const std::string& filePath);
void logUndecodableFile(const std::string& filePath);
}  // namespace detail

// Reads a record file through the safe read — regular files only, never
// blocking on a FIFO, never more than kMaxFileBytes — and decodes its bytes.
// A file that cannot be read is skipped without a line (like a sub-folder);
// one that reads but does not decode is logged. Returns the record or none.
template <class Decode>
auto loadRecordFile(const std::string& filePath, Decode decode) -> decltype(decode(std::string_view{})) {
    const std::optional<std::string> bytes = detail::readRecordFile(filePath);
    if (!bytes) return nullptr;
    try {
        return decode(*bytes);
    } catch (const DecodingError&) {
        detail::logUndecodableFile(filePath);
        return nullptr;
    }
}

}  // namespace tervolo::points::jsontext
