#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/coding/DecodingError.hpp"
#include "platform/coding/EncodingError.hpp"
#include "platform/foundation/Result.hpp"

// Point and tag record files: one JSON document per record in a folder of the
// documents folder. The text form is compact, members in the order the record
// inserted them, every solidus escaped as "\/" (the form the files have always
// had), numbers in the shortest text that reads back to the same double;
// reading is capped and safe against hostile folder entries, writing atomic.
namespace tervolo::points::recordfile {

// Writes `value` compactly. Throws platform::EncodingError for a non-finite
// number (nlohmann would silently write null) or a text that is not valid
// UTF-8.
std::string encodeCompact(const nlohmann::ordered_json& value);

// The largest file a loader reads, and so the largest a save writes; a point
// or tag file is a few hundred bytes (a long note a few kilobytes).
inline constexpr std::size_t kMaxFileBytes = 1024 * 1024;

// Deepest nesting of arrays and objects a reader accepts. Point and tag files
// nest two levels; the bound keeps hostile input from costing stack or time.
inline constexpr int kMaxNesting = 64;

// Parses a whole record file through the strict coding layer (at most
// kMaxFileBytes, nested at most kMaxNesting deep); throws
// platform::DecodingError (dataCorrupted) when the text is no JSON value.
nlohmann::json parseDocument(std::string_view fileBytes);

// A coding path as the logs show it: "tags[3]", "coordinate[0]".
std::string pathText(const std::vector<std::string>& codingPath);

// The folder `name` of the documents folder, with a final "/", created when
// missing. Existence is checked on the path without its final "/", so a plain
// file of that name counts as present and is left alone.
std::string documentSubfolder(std::string_view name);

// Why a record was not written, beside the file errors of the file manager
// (which keep their Cocoa codes and errno: a full disk is 640, a read-only
// volume 642, no permission 513).
inline constexpr const char* kRecordFileErrorDomain = "TervoloNG.RecordFile";
// The file would be larger than kMaxFileBytes.
inline constexpr int64_t kRecordFileTooLarge = 1;
// A value of the record cannot be written as JSON (a non-finite number, text
// that is not UTF-8).
inline constexpr int64_t kRecordFileNotEncodable = 2;

// Writes a record file atomically, replacing the entry of that name inside
// its folder (a symbolic link there is replaced, never followed out of the
// folder, and that is logged). Bytes over kMaxFileBytes are refused with a
// logged error (kRecordFileTooLarge): the loader would skip such a file and
// the record would be gone at the next start. Returns the path written, or
// the error when nothing was written (every failure is logged as well).
platform::Result<std::string> writeRecordFile(const std::string& filePath, std::string_view bytes);

// Removes what interrupted saves left in a records folder (temporary files
// of atomic writes older than a minute) and logs each one removed.
void removeAbandonedSaves(const std::string& folder);

namespace detail {
std::optional<std::string> readRecordFile(const std::string& filePath, std::string_view extension);
void logUndecodableFile(const std::string& filePath, const platform::DecodingError& error);
}  // namespace detail

// Reads a record file through the safe read — regular files only, never
// blocking on a FIFO, never more than kMaxFileBytes — and decodes its bytes.
// A file that cannot be read is skipped; when its name has the records'
// `extension` the skip is logged with the reason (other entries, such as a
// folder's housekeeping files, are skipped without a line). One that reads
// but does not decode is logged at info level as "Can't decode file ", the
// path in escaped double quotes (a file name is anybody's text), ": " and
// why. Returns the record or none.
template <class Decode>
auto loadRecordFile(const std::string& filePath, std::string_view extension, Decode decode)
    -> decltype(decode(std::string_view{})) {
    const std::optional<std::string> bytes = detail::readRecordFile(filePath, extension);
    if (!bytes) return nullptr;
    try {
        return decode(*bytes);
    } catch (const platform::DecodingError& error) {
        detail::logUndecodableFile(filePath, error);
        return nullptr;
    }
}

}  // namespace tervolo::points::recordfile
