#include "points/RecordFile.hpp"

#include <sys/stat.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "logging/LoggerMetadataValue.hpp"
#include "logging/QLLogging.hpp"
#include "platform/coding/JSONDecoder.hpp"
#include "platform/foundation/FileManager.hpp"
#include "platform/text/Unicode.hpp"

namespace tervolo::points::recordfile {
namespace {

using Path = std::vector<std::string>;

void writeString(std::string& out, std::string_view text, const Path& path) {
    out.push_back('"');
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '/':
                out += "\\/";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                    out += escaped;
                } else {
                    // JSON text must be valid Unicode.
                    const auto read = platform::text::nextCodePoint(text, i);
                    if (!read.valid) throw platform::EncodingError(path, "text is not valid UTF-8");
                    out.append(text.substr(i, read.length));
                    i += read.length;
                    continue;
                }
        }
        ++i;
    }
    out.push_back('"');
}

void writeNumber(std::string& out, double value, const Path& path) {
    if (!std::isfinite(value)) throw platform::EncodingError(path, "number is not finite");
    // Whole numbers within the exactly representable integer range are written
    // without fraction ("-180", not "-180.0"); everything else in the shortest
    // form that reads back to the same double.
    char buffer[32];
    if (value == 0 && std::signbit(value)) {
        out += "-0.0";  // "-0" would read back as the integer 0 and lose the sign
        return;
    }
    if (value == std::trunc(value) && std::fabs(value) < 9007199254740992.0) {
        auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, static_cast<long long>(value));
        (void)ec;
        out.append(buffer, end);
        return;
    }
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    (void)ec;
    out.append(buffer, end);
}

void write(std::string& out, const nlohmann::ordered_json& value, Path& path) {
    using value_t = nlohmann::ordered_json::value_t;
    switch (value.type()) {
        case value_t::null:
            out += "null";
            break;
        case value_t::boolean:
            out += value.get<bool>() ? "true" : "false";
            break;
        case value_t::number_integer:
            out += std::to_string(value.get<std::int64_t>());
            break;
        case value_t::number_unsigned:
            out += std::to_string(value.get<std::uint64_t>());
            break;
        case value_t::number_float:
            writeNumber(out, value.get<double>(), path);
            break;
        case value_t::string:
            writeString(out, value.get_ref<const std::string&>(), path);
            break;
        case value_t::array: {
            out.push_back('[');
            std::size_t index = 0;
            for (const auto& element : value) {
                if (index > 0) out.push_back(',');
                path.push_back(platform::coding_detail::indexKey(index));
                write(out, element, path);
                path.pop_back();
                ++index;
            }
            out.push_back(']');
            break;
        }
        case value_t::object: {
            out.push_back('{');
            bool first = true;
            for (const auto& [key, member] : value.items()) {
                if (!first) out.push_back(',');
                first = false;
                writeString(out, key, path);
                out.push_back(':');
                path.push_back(key);
                write(out, member, path);
                path.pop_back();
            }
            out.push_back('}');
            break;
        }
        case value_t::binary:
        case value_t::discarded:
            throw platform::EncodingError(path, "value has no JSON form");
    }
}

}  // namespace

std::string encodeCompact(const nlohmann::ordered_json& value) {
    std::string out;
    out.reserve(512);
    Path path;
    write(out, value, path);
    return out;
}

nlohmann::json parseDocument(std::string_view fileBytes) {
    platform::JSONDecoder decoder;
    decoder.maximumBytes = kMaxFileBytes;
    decoder.maximumDepth = kMaxNesting;
    return decoder.parse(fileBytes);
}

std::string pathText(const std::vector<std::string>& codingPath) {
    std::string text;
    for (const auto& key : codingPath) {
        if (key.rfind("Index ", 0) == 0) {
            text.push_back('[');
            text.append(key, 6);
            text.push_back(']');
        } else {
            if (!text.empty()) text += ".";
            text += key;
        }
    }
    return text;
}

std::string documentSubfolder(std::string_view name) {
    auto& fileManager = platform::FileManager::defaultManager();
    const std::string folder = fileManager.documentsDirectory() + "/" + std::string(name);
    if (!fileManager.fileExists(folder)) {
        if (auto error = fileManager.createDirectory(folder, true)) {
            QLLogInfo("Can't create directory: " + logging::debugQuoted(error->description));
        }
    }
    return folder + "/";
}

platform::Result<std::string> writeRecordFile(const std::string& filePath, std::string_view bytes) {
    if (bytes.size() > kMaxFileBytes) {
        const std::string reason = "it would be " + std::to_string(bytes.size()) + " bytes, more than the " +
                                   std::to_string(kMaxFileBytes) +
                                   " bytes a point or tag file may have to be read back";
        QLLogError("Not saving " + logging::debugQuoted(filePath) + ": " + reason);
        return platform::Error{kRecordFileErrorDomain, kRecordFileTooLarge, reason, 0, {}};
    }
    struct stat entry {};
    const bool wasLink = ::lstat(filePath.c_str(), &entry) == 0 && S_ISLNK(entry.st_mode);
    // Temporary file in the same folder, fsync, rename: a crash or a full
    // disk leaves the previous file or the new one, never a torn file that
    // the next start would reject (and so lose the record).
    if (auto error = platform::FileManager::defaultManager().writeFile(filePath, bytes,
                                                                       platform::WriteOptions::Atomic)) {
        QLLogError("Can't write " + logging::debugQuoted(filePath) + ": " +
                   logging::debugQuoted(error->description));
        return *error;
    }
    if (wasLink)
        QLLogWarn("Replaced the symbolic link " + logging::debugQuoted(filePath) + " with the saved file");
    return filePath;
}

void removeAbandonedSaves(const std::string& folder) {
    for (const auto& name : platform::FileManager::defaultManager().removeAbandonedTemporaryFiles(folder)) {
        QLLogInfo("Removed " + logging::debugQuoted(name) + ", left by a save that never completed");
    }
}

namespace detail {

std::optional<std::string> readRecordFile(const std::string& filePath, std::string_view extension) {
    auto bytes = platform::FileManager::defaultManager().readFileSafely(filePath, kMaxFileBytes);
    if (!bytes.ok()) {
        // A file gone since the folder was listed has nothing left to name.
        if (!bytes.error().isNoSuchFile() && !extension.empty() && filePath.size() > extension.size() &&
            std::string_view(filePath).substr(filePath.size() - extension.size()) == extension) {
            QLLogWarn("Skipping " + logging::debugQuoted(filePath) + ": " +
                      logging::debugQuoted(bytes.error().description));
        }
        return std::nullopt;
    }
    const auto& data = bytes.value();
    return std::string(reinterpret_cast<const char*>(data.data()), data.size());
}

void logUndecodableFile(const std::string& filePath, const platform::DecodingError& error) {
    // The record is skipped and would vanish without a trace: say which file
    // and what in it was wrong, so it can be mended by hand.
    std::string reason = error.debugDescription();
    if (!error.codingPath().empty()) reason += " (at " + pathText(error.codingPath()) + ")";
    QLLogInfo("Can't decode file " + logging::debugQuoted(filePath) + ": " + reason);
}

}  // namespace detail

}  // namespace tervolo::points::recordfile
