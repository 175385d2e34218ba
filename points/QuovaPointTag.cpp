#include "points/QuovaPointTag.hpp"

#include <cctype>

#include "logging/QLLogging.hpp"
#include "platform/coding/JSONDecoder.hpp"
#include "platform/foundation/FileManager.hpp"
#include "platform/text/UUID.hpp"
#include "platform/text/Unicode.hpp"
#include "points/FileIdentifier.hpp"
#include "points/QuovaAppVersion.hpp"
#include "points/RecordFile.hpp"

namespace tervolo::points {

using json = nlohmann::json;
using ordered_json = nlohmann::ordered_json;

namespace {

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
    if (!object.is_object()) platform::coding_detail::throwTypeMismatch("QuovaPointTag", object, {});
    const platform::KeyedDecodingContainer container(object, {});
    auto tag = std::make_shared<QuovaPointTag>(Token{});
    tag->title = container.decode<std::string>("title");
    tag->lastSavedByAppVersion = container.decodeIfPresent<std::string>("lastSavedByAppVersion");
    tag->uuid = container.decode<std::string>("uuid");
    tag->colorString = container.decodeIfPresent<std::string>("colorString");
    tag->createdAt = container.decode<platform::Date>("createdAt");
    tag->lastSavedAt = container.decodeIfPresent<platform::Date>("lastSavedAt");
    tag->deletedAt = container.decodeIfPresent<platform::Date>("deletedAt");
    tag->hiddenAt = container.decodeIfPresent<platform::Date>("hiddenAt");
    // The identifier names the file the tag is saved to: one that could reach
    // outside the tags folder ("../x") makes the file unreadable rather than
    // a way to write anywhere.
    if (!isSafeFileIdentifier(tag->uuid, kFileExtension)) {
        platform::coding_detail::throwDataCorrupted({"uuid"}, "Identifier cannot name a tag file");
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
    } catch (const platform::EncodingError& error) {
        QLLogError("QuovaPointTag: can't encode tag (" + error.debugDescription() + " at " +
                   recordfile::pathText(error.codingPath()) + "), nothing written: " + title);
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
