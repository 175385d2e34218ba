#include "points/QuovaPointTag.hpp"

#include <cctype>

#include "logging/QLLogging.hpp"
#include "platform/foundation/FileManager.hpp"
#include "platform/text/UUID.hpp"
#include "platform/text/Unicode.hpp"
#include "points/CodingError.hpp"
#include "points/FileIdentifier.hpp"
#include "points/QuovaAppVersion.hpp"
#include "points/RecordFile.hpp"

namespace tervolo::points {

using Category = DecodingError::Category;
using json = nlohmann::json;
using ordered_json = nlohmann::ordered_json;

namespace {

const json* member(const json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) return nullptr;
    return &*it;
}

const json& required(const json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end()) {
        throw DecodingError(Category::keyNotFound, key, std::string("No value associated with key ") + key);
    }
    if (it->is_null()) {
        throw DecodingError(Category::valueNotFound, key, std::string("Expected a value for key ") + key);
    }
    return *it;
}

std::string stringValue(const json& value, const char* key) {
    if (!value.is_string()) throw DecodingError(Category::typeMismatch, key, "Expected to decode a string");
    return value.get<std::string>();
}

double numberValue(const json& value, const char* key) {
    if (!value.is_number()) throw DecodingError(Category::typeMismatch, key, "Expected to decode a number");
    return value.get<double>();
}

std::optional<std::string> optionalString(const json& object, const char* key) {
    if (const json* value = member(object, key)) return stringValue(*value, key);
    return std::nullopt;
}

std::optional<platform::Date> optionalDate(const json& object, const char* key) {
    if (const json* value = member(object, key)) return platform::Date{numberValue(*value, key)};
    return std::nullopt;
}

// The text form of a file URL: "file://" and the path with every byte outside
// the unreserved characters and "/" percent-encoded.
std::string fileURLString(const std::string& path) {
    std::string url = "file://";
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        const bool alphanumeric = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (alphanumeric || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
            url.push_back(c);
        } else {
            static constexpr char kHex[] = "0123456789ABCDEF";
            url.push_back('%');
            url.push_back(kHex[byte >> 4]);
            url.push_back(kHex[byte & 0x0F]);
        }
    }
    return url;
}

}  // namespace

QuovaPointTag::QuovaPointTag(Token)
    : uuid(platform::UUID::random().uuidString()), createdAt(platform::Date::now()) {}

std::shared_ptr<QuovaPointTag> QuovaPointTag::make(std::string title) {
    auto tag = std::make_shared<QuovaPointTag>(Token{});
    tag->title = std::move(title);
    return tag;
}

std::string QuovaPointTag::documentDirectory() {
    return recordfile::documentSubfolder("tags");
}

std::shared_ptr<QuovaPointTag> QuovaPointTag::initWithFilePath(const std::string& filePath) {
    return recordfile::loadRecordFile(filePath, kFileExtension,
                                      [](std::string_view bytes) { return decode(bytes); });
}

std::shared_ptr<QuovaPointTag> QuovaPointTag::decode(std::string_view fileBytes) {
    return decode(recordfile::parseDocument(fileBytes));
}

std::shared_ptr<QuovaPointTag> QuovaPointTag::decode(const json& object) {
    if (!object.is_object())
        throw DecodingError(Category::typeMismatch, "", "Expected to decode a dictionary");
    auto tag = std::make_shared<QuovaPointTag>(Token{});
    tag->title = stringValue(required(object, "title"), "title");
    tag->lastSavedByAppVersion = optionalString(object, "lastSavedByAppVersion");
    tag->uuid = stringValue(required(object, "uuid"), "uuid");
    tag->colorString = optionalString(object, "colorString");
    tag->createdAt = platform::Date{numberValue(required(object, "createdAt"), "createdAt")};
    tag->lastSavedAt = optionalDate(object, "lastSavedAt");
    tag->deletedAt = optionalDate(object, "deletedAt");
    tag->hiddenAt = optionalDate(object, "hiddenAt");
    // The identifier names the file the tag is saved to: one that could reach
    // outside the tags folder ("../x") makes the file unreadable rather than
    // a way to write anywhere.
    if (!isSafeFileIdentifier(tag->uuid, kFileExtension)) {
        throw DecodingError(Category::dataCorrupted, "uuid", "Identifier cannot name a tag file");
    }
    return tag;
}

ordered_json QuovaPointTag::encode() const {
    ordered_json object = ordered_json::object();
    object["title"] = title;
    if (lastSavedByAppVersion) object["lastSavedByAppVersion"] = *lastSavedByAppVersion;
    object["uuid"] = uuid;
    if (colorString) object["colorString"] = *colorString;
    object["createdAt"] = createdAt.secondsSince2001;
    if (lastSavedAt) object["lastSavedAt"] = lastSavedAt->secondsSince2001;
    if (deletedAt) object["deletedAt"] = deletedAt->secondsSince2001;
    if (hiddenAt) object["hiddenAt"] = hiddenAt->secondsSince2001;
    return object;
}

std::string QuovaPointTag::encodedFile() const {
    return recordfile::encodeCompact(encode());
}

void QuovaPointTag::save() {
    lastSavedAt = platform::Date::now();
    lastSavedByAppVersion = quovaAppVersion();
    savePreservingLastModification();
}

void QuovaPointTag::savePreservingLastModification() {
    if (!isSafeFileIdentifier(uuid, kFileExtension)) {
        QLLogDebug("Couldn't serialize this tag: ");
        return;
    }
    const std::string path = documentDirectory() + uuid + kFileExtension;
    std::string bytes;
    try {
        bytes = encodedFile();
    } catch (const EncodingError& error) {
        QLLogError("QuovaPointTag: can't encode tag (" + std::string(error.what()) + " at " +
                   error.codingPath() + "), nothing written: " + title);
        return;
    }
    if (!recordfile::writeRecordFile(path, bytes)) {
        QLLogDebug("Couldn't serialize this tag: ");
        return;
    }
    QLLogDebug("Tag written to " + fileURLString(path));
}

bool QuovaPointTag::operator<(const QuovaPointTag& other) const {
    return platform::text::compareCodePoints(title, other.title) < 0;
}

}  // namespace tervolo::points
