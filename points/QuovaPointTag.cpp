#include "points/QuovaPointTag.hpp"

#include <cctype>

#include "logging/LoggerMetadataValue.hpp"
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
    : uuid_(platform::UUID::random().uuidString()), createdAt_(platform::Date::now()) {}

std::shared_ptr<QuovaPointTag> QuovaPointTag::make(std::string title) {
    auto tag = std::make_shared<QuovaPointTag>(Token{});
    tag->title_ = std::move(title);
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
    tag->title_ = container.decode<std::string>("title");
    tag->lastSavedByAppVersion_ = container.decodeIfPresent<std::string>("lastSavedByAppVersion");
    tag->uuid_ = container.decode<std::string>("uuid");
    tag->colorString_ = container.decodeIfPresent<std::string>("colorString");
    tag->createdAt_ = container.decode<platform::Date>("createdAt");
    tag->lastSavedAt_ = container.decodeIfPresent<platform::Date>("lastSavedAt");
    tag->deletedAt_ = container.decodeIfPresent<platform::Date>("deletedAt");
    tag->hiddenAt_ = container.decodeIfPresent<platform::Date>("hiddenAt");
    // The identifier names the file the tag is saved to: one that could reach
    // outside the tags folder ("../x") makes the file unreadable rather than
    // a way to write anywhere.
    if (!isSafeFileIdentifier(tag->uuid_, kFileExtension)) {
        platform::coding_detail::throwDataCorrupted({"uuid"}, "Identifier cannot name a tag file");
    }
    return tag;
}

ordered_json QuovaPointTag::encode() const {
    ordered_json object = ordered_json::object();
    object["title"] = title_;
    if (lastSavedByAppVersion_) object["lastSavedByAppVersion"] = *lastSavedByAppVersion_;
    object["uuid"] = uuid_;
    if (colorString_) object["colorString"] = *colorString_;
    object["createdAt"] = createdAt_.secondsSince2001;
    if (lastSavedAt_) object["lastSavedAt"] = lastSavedAt_->secondsSince2001;
    if (deletedAt_) object["deletedAt"] = deletedAt_->secondsSince2001;
    if (hiddenAt_) object["hiddenAt"] = hiddenAt_->secondsSince2001;
    return object;
}

std::string QuovaPointTag::encodedFile() const {
    return recordfile::encodeCompact(encode());
}

std::optional<platform::Error> QuovaPointTag::save() {
    lastSavedAt_ = platform::Date::now();
    lastSavedByAppVersion_ = quovaAppVersion();
    return savePreservingLastModification();
}

std::optional<platform::Error> QuovaPointTag::savePreservingLastModification() {
    if (!isSafeFileIdentifier(uuid_, kFileExtension)) {
        QLLogDebug("Couldn't serialize this tag: ");
        return platform::Error{recordfile::kRecordFileErrorDomain,
                               recordfile::kRecordFileNotEncodable,
                               "the identifier cannot name a tag file",
                               0,
                               {}};
    }
    const std::string path = documentDirectory() + uuid_ + kFileExtension;
    std::string bytes;
    try {
        bytes = encodedFile();
    } catch (const platform::EncodingError& error) {
        QLLogError("QuovaPointTag: can't encode tag (" + error.debugDescription() + " at " +
                   recordfile::pathText(error.codingPath()) +
                   "), nothing written: " + logging::debugQuoted(title_));
        return platform::Error{recordfile::kRecordFileErrorDomain,
                               recordfile::kRecordFileNotEncodable,
                               error.debugDescription(),
                               0,
                               {}};
    }
    auto written = recordfile::writeRecordFile(path, bytes);
    if (!written.ok()) {
        QLLogDebug("Couldn't serialize this tag: ");
        return written.error();
    }
    QLLogDebug("Tag written to " + logging::debugQuoted(fileURLString(path)));
    return std::nullopt;
}

bool QuovaPointTag::operator<(const QuovaPointTag& other) const {
    return platform::text::compareCodePoints(title_, other.title()) < 0;
}

}  // namespace tervolo::points
