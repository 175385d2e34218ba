#include "points/QuovaMapPoint.hpp"

#include <string_view>

#include "logging/LoggerMetadataValue.hpp"
#include "logging/QLLogging.hpp"
#include "platform/coding/JSONDecoder.hpp"
#include "platform/foundation/FileManager.hpp"
#include "platform/text/Numbers.hpp"
#include "platform/text/UUID.hpp"
#include "points/CoordinateCoding.hpp"
#include "points/FileIdentifier.hpp"
#include "points/QuovaAppVersion.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/RecordFile.hpp"

namespace tervolo::points {

using json = nlohmann::json;
using ordered_json = nlohmann::ordered_json;
using platform::KeyedDecodingContainer;

namespace {

template <class T>
void putIfPresent(ordered_json& object, const char* key, const std::optional<T>& value) {
    if (value) object[key] = *value;
}

void putIfPresent(ordered_json& object, const char* key, const std::optional<platform::Date>& value) {
    if (value) object[key] = value->secondsSince2001;
}

}  // namespace

QuovaMapPoint::QuovaMapPoint(Token) : createdAt_(platform::Date::now()), lastSavedAt_(createdAt_) {}

std::shared_ptr<QuovaMapPoint> QuovaMapPoint::make(std::string title) {
    auto point = std::make_shared<QuovaMapPoint>(Token{});
    point->title_ = std::move(title);
    return point;
}

std::string QuovaMapPoint::documentDirectory() {
    return recordfile::documentSubfolder("points");
}

std::shared_ptr<QuovaMapPoint> QuovaMapPoint::initWithFilePath(const std::string& filePath) {
    return recordfile::loadRecordFile(filePath, kFileExtension,
                                      [](std::string_view bytes) { return decode(bytes); });
}

std::shared_ptr<QuovaMapPoint> QuovaMapPoint::decode(std::string_view fileBytes) {
    return decode(recordfile::parseDocument(fileBytes));
}

std::shared_ptr<QuovaMapPoint> QuovaMapPoint::decode(const json& object) {
    if (!object.is_object()) platform::coding_detail::throwTypeMismatch("QuovaMapPoint", object, {});
    const KeyedDecodingContainer container(object, {});
    auto point = std::make_shared<QuovaMapPoint>(Token{});
    point->title_ = container.decodeIfPresent<std::string>("title");
    point->subtitle_ = container.decodeIfPresent<std::string>("subtitle");
    point->coordinate_ = decodeCoordinate(container.rawValue("coordinate"), {"coordinate"});
    point->lastSavedByAppVersion_ = container.decodeIfPresent<std::string>("lastSavedByAppVersion");
    point->uuid_ = container.decodeIfPresent<std::string>("uuid");
    point->hasHandcraftedTitle_ = container.decode<bool>("hasHandcraftedTitle");
    point->alarmSound_ = container.decodeIfPresent<std::string>("alarmSound");
    point->alarmCircleDiameter_ = container.decodeIfPresent<double>("alarmCircleDiameter");
    point->tags_ = container.decodeIfPresent<std::vector<std::string>>("tags");
    point->createdAt_ = container.decode<platform::Date>("createdAt");
    point->lastSavedAt_ = container.decode<platform::Date>("lastSavedAt");
    point->deletedAt_ = container.decodeIfPresent<platform::Date>("deletedAt");
    point->hiddenAt_ = container.decodeIfPresent<platform::Date>("hiddenAt");
    point->dataSourceName_ = container.decodeIfPresent<std::string>("dataSourceName");
    point->dataSourceUniqueID_ = container.decodeIfPresent<std::string>("dataSourceUniqueID");
    point->dataSourceURL_ = container.decodeIfPresent<std::string>("dataSourceURL");
    point->dataSourceImageURL_ = container.decodeIfPresent<std::string>("dataSourceImageURL");

    // The identifier becomes a file name on the next save: one that could
    // name anything but a plain entry of the points folder ("../x", "a/b") is
    // dropped here, so the point gets a fresh identifier when it is saved and
    // the hostile name never reaches a path or the search index.
    if (point->uuid_ && !point->uuid_->empty() && !isSafeFileIdentifier(*point->uuid_, kFileExtension)) {
        QLLogWarn("QuovaMapPoint: ignoring identifier that cannot name a point file: " +
                  logging::debugQuoted(*point->uuid_));
        point->uuid_ = std::nullopt;
    }
    return point;
}

ordered_json QuovaMapPoint::encode() const {
    ordered_json object = ordered_json::object();
    putIfPresent(object, "title", title_);
    putIfPresent(object, "subtitle", subtitle_);
    object["coordinate"] = encodeCoordinate(coordinate_, {"coordinate"});
    putIfPresent(object, "lastSavedByAppVersion", lastSavedByAppVersion_);
    putIfPresent(object, "uuid", uuid_);
    object["hasHandcraftedTitle"] = hasHandcraftedTitle_;
    putIfPresent(object, "alarmSound", alarmSound_);
    putIfPresent(object, "alarmCircleDiameter", alarmCircleDiameter_);
    putIfPresent(object, "tags", tags_);
    object["createdAt"] = createdAt_.secondsSince2001;
    object["lastSavedAt"] = lastSavedAt_.secondsSince2001;
    putIfPresent(object, "deletedAt", deletedAt_);
    putIfPresent(object, "hiddenAt", hiddenAt_);
    putIfPresent(object, "dataSourceName", dataSourceName_);
    putIfPresent(object, "dataSourceUniqueID", dataSourceUniqueID_);
    putIfPresent(object, "dataSourceURL", dataSourceURL_);
    putIfPresent(object, "dataSourceImageURL", dataSourceImageURL_);
    return object;
}

std::string QuovaMapPoint::encodedFile() const {
    return recordfile::encodeCompact(encode());
}

void QuovaMapPoint::ensureUUID() {
    // An identifier that cannot name a file in the points folder counts as
    // none: keeping it would let the next save write outside the folder.
    if (!uuid_ || uuid_->empty() || !isSafeFileIdentifier(*uuid_, kFileExtension)) {
        uuid_ = platform::UUID::random().uuidString();
    }
}

std::string QuovaMapPoint::description() const {
    std::string text = title_.value_or("(unknown)");
    if (subtitle_) text += ", " + *subtitle_;
    if (platform::CLLocationCoordinate2DIsValid(coordinate_)) {
        text += ", Long: " + platform::text::describe(coordinate_.longitude);
        text += ", Lat: " + platform::text::describe(coordinate_.latitude);
    }
    return text;
}

platform::Result<std::string> QuovaMapPoint::save(QuovaMapPointStore& store) {
    lastSavedAt_ = platform::Date::now();
    lastSavedByAppVersion_ = quovaAppVersion();
    return savePreservingLastModification(store);
}

platform::Result<std::string> QuovaMapPoint::savePreservingLastModification(QuovaMapPointStore& store) {
    ensureUUID();

    // Every save re-indexes the point, whether or not the write succeeds.
    store.addPointsToCoreSpotlight({shared_from_this()});

    const std::string path = documentDirectory() + *uuid_ + kFileExtension;
    std::string bytes;
    std::optional<platform::Result<std::string>> written;
    try {
        bytes = encodedFile();
    } catch (const platform::EncodingError& error) {
        // Nothing is written, as before, but the failure is no longer silent:
        // the point in memory now differs from its file.
        const std::string reason =
            error.debugDescription() + " at " + recordfile::pathText(error.codingPath());
        QLLogError("QuovaMapPoint: can't encode point (" + reason +
                   "), nothing written - self.description: " + logging::debugQuoted(description()));
        written = platform::Error{
            recordfile::kRecordFileErrorDomain, recordfile::kRecordFileNotEncodable, reason, 0, {}};
    }
    if (!written) {
        written = recordfile::writeRecordFile(path, bytes);
        if (!written->ok())
            QLLogInfo("Couldn't serialize point - self.description: " + logging::debugQuoted(description()));
    }
    store.setNeedsSync();
    // Observers hear of what is on disk only.
    if (written->ok()) store.didSavePoint(shared_from_this());
    return std::move(*written);
}

}  // namespace tervolo::points
