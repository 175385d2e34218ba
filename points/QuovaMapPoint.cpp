#include "points/QuovaMapPoint.hpp"

#include <string_view>

#include "logging/QLLogging.hpp"
#include "platform/foundation/FileManager.hpp"
#include "platform/text/Numbers.hpp"
#include "platform/text/UUID.hpp"
#include "points/CodingError.hpp"
#include "points/FileIdentifier.hpp"
#include "points/QuovaAppVersion.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/RecordFile.hpp"

namespace tervolo::points {

using Category = DecodingError::Category;
using json = nlohmann::json;
using ordered_json = nlohmann::ordered_json;

namespace {

// --- strict member readers -------------------------------------------------
// A missing member and a null member both give none for optional members; a
// present member must have exactly the expected JSON type.

const json* member(const json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) return nullptr;
    return &*it;
}

[[noreturn]] void typeMismatch(const std::string& path, const char* expected) {
    throw DecodingError(Category::typeMismatch, path, "Expected to decode " + std::string(expected));
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

double numberValue(const json& value, const std::string& path) {
    if (!value.is_number()) typeMismatch(path, "a number");
    return value.get<double>();
}

std::optional<std::string> optionalString(const json& object, const char* key) {
    const json* value = member(object, key);
    if (value == nullptr) return std::nullopt;
    if (!value->is_string()) typeMismatch(key, "a string");
    return value->get<std::string>();
}

std::optional<double> optionalNumber(const json& object, const char* key) {
    const json* value = member(object, key);
    if (value == nullptr) return std::nullopt;
    return numberValue(*value, key);
}

std::optional<platform::Date> optionalDate(const json& object, const char* key) {
    if (auto seconds = optionalNumber(object, key)) return platform::Date{*seconds};
    return std::nullopt;
}

platform::Date requiredDate(const json& object, const char* key) {
    return platform::Date{numberValue(required(object, key), key)};
}

// The coordinate's own JSON form, fixed for the whole system: an array whose
// first element is the longitude and second the latitude; further elements
// are ignored.
platform::CLLocationCoordinate2D decodeCoordinate(const json& value, const std::string& path) {
    if (!value.is_array()) typeMismatch(path, "an array");
    if (value.size() < 2) {
        throw DecodingError(Category::valueNotFound, path + "[" + std::to_string(value.size()) + "]",
                            "Unkeyed container is at end");
    }
    platform::CLLocationCoordinate2D coordinate;
    coordinate.longitude = numberValue(value[0], path + "[0]");
    coordinate.latitude = numberValue(value[1], path + "[1]");
    return coordinate;
}

ordered_json encodeCoordinate(const platform::CLLocationCoordinate2D& coordinate) {
    return ordered_json::array({coordinate.longitude, coordinate.latitude});
}

template <class T>
void putIfPresent(ordered_json& object, const char* key, const std::optional<T>& value) {
    if (value) object[key] = *value;
}

void putIfPresent(ordered_json& object, const char* key, const std::optional<platform::Date>& value) {
    if (value) object[key] = value->secondsSince2001;
}

}  // namespace

QuovaMapPoint::QuovaMapPoint(Token) : createdAt(platform::Date::now()), lastSavedAt(createdAt) {}

std::shared_ptr<QuovaMapPoint> QuovaMapPoint::make(std::string title) {
    auto point = std::make_shared<QuovaMapPoint>(Token{});
    point->title = std::move(title);
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
    if (!object.is_object()) typeMismatch("", "a dictionary");
    auto point = std::make_shared<QuovaMapPoint>(Token{});
    point->title = optionalString(object, "title");
    point->subtitle = optionalString(object, "subtitle");
    point->coordinate = decodeCoordinate(required(object, "coordinate"), "coordinate");
    point->lastSavedByAppVersion = optionalString(object, "lastSavedByAppVersion");
    point->uuid = optionalString(object, "uuid");
    const json& handcrafted = required(object, "hasHandcraftedTitle");
    if (!handcrafted.is_boolean()) typeMismatch("hasHandcraftedTitle", "a boolean");
    point->hasHandcraftedTitle = handcrafted.get<bool>();
    point->alarmSound = optionalString(object, "alarmSound");
    point->alarmCircleDiameter = optionalNumber(object, "alarmCircleDiameter");
    if (const json* tags = member(object, "tags")) {
        if (!tags->is_array()) typeMismatch("tags", "an array");
        std::vector<std::string> identifiers;
        identifiers.reserve(tags->size());
        for (std::size_t i = 0; i < tags->size(); ++i) {
            const json& tag = (*tags)[i];
            if (!tag.is_string()) typeMismatch("tags[" + std::to_string(i) + "]", "a string");
            identifiers.push_back(tag.get<std::string>());
        }
        point->tags = std::move(identifiers);
    } else {
        point->tags = std::nullopt;
    }
    point->createdAt = requiredDate(object, "createdAt");
    point->lastSavedAt = requiredDate(object, "lastSavedAt");
    point->deletedAt = optionalDate(object, "deletedAt");
    point->hiddenAt = optionalDate(object, "hiddenAt");
    point->dataSourceName = optionalString(object, "dataSourceName");
    point->dataSourceUniqueID = optionalString(object, "dataSourceUniqueID");
    point->dataSourceURL = optionalString(object, "dataSourceURL");
    point->dataSourceImageURL = optionalString(object, "dataSourceImageURL");

    // The identifier becomes a file name on the next save: one that could
    // name anything but a plain entry of the points folder ("../x", "a/b") is
    // dropped here, so the point gets a fresh identifier when it is saved and
    // the hostile name never reaches a path or the search index.
    if (point->uuid && !point->uuid->empty() && !isSafeFileIdentifier(*point->uuid, kFileExtension)) {
        QLLogWarn("QuovaMapPoint: ignoring identifier that cannot name a point file: " + *point->uuid);
        point->uuid = std::nullopt;
    }
    return point;
}

ordered_json QuovaMapPoint::encode() const {
    ordered_json object = ordered_json::object();
    putIfPresent(object, "title", title);
    putIfPresent(object, "subtitle", subtitle);
    object["coordinate"] = encodeCoordinate(coordinate);
    putIfPresent(object, "lastSavedByAppVersion", lastSavedByAppVersion);
    putIfPresent(object, "uuid", uuid);
    object["hasHandcraftedTitle"] = hasHandcraftedTitle;
    putIfPresent(object, "alarmSound", alarmSound);
    putIfPresent(object, "alarmCircleDiameter", alarmCircleDiameter);
    putIfPresent(object, "tags", tags);
    object["createdAt"] = createdAt.secondsSince2001;
    object["lastSavedAt"] = lastSavedAt.secondsSince2001;
    putIfPresent(object, "deletedAt", deletedAt);
    putIfPresent(object, "hiddenAt", hiddenAt);
    putIfPresent(object, "dataSourceName", dataSourceName);
    putIfPresent(object, "dataSourceUniqueID", dataSourceUniqueID);
    putIfPresent(object, "dataSourceURL", dataSourceURL);
    putIfPresent(object, "dataSourceImageURL", dataSourceImageURL);
    return object;
}

std::string QuovaMapPoint::encodedFile() const {
    return recordfile::encodeCompact(encode());
}

void QuovaMapPoint::ensureUUID() {
    // An identifier that cannot name a file in the points folder counts as
    // none: keeping it would let the next save write outside the folder.
    if (!uuid || uuid->empty() || !isSafeFileIdentifier(*uuid, kFileExtension)) {
        uuid = platform::UUID::random().uuidString();
    }
}

std::string QuovaMapPoint::description() const {
    std::string text = title.value_or("(unknown)");
    if (subtitle) text += ", " + *subtitle;
    if (platform::CLLocationCoordinate2DIsValid(coordinate)) {
        text += ", Long: " + platform::text::describe(coordinate.longitude);
        text += ", Lat: " + platform::text::describe(coordinate.latitude);
    }
    return text;
}

void QuovaMapPoint::save(QuovaMapPointStore& store) {
    lastSavedAt = platform::Date::now();
    lastSavedByAppVersion = quovaAppVersion();
    savePreservingLastModification(store);
}

void QuovaMapPoint::savePreservingLastModification(QuovaMapPointStore& store) {
    ensureUUID();

    // Every save re-indexes the point, whether or not the write succeeds.
    store.addPointsToCoreSpotlight({shared_from_this()});

    const std::string path = documentDirectory() + *uuid + kFileExtension;
    std::string bytes;
    bool encoded = false;
    try {
        bytes = encodedFile();
        encoded = true;
    } catch (const EncodingError& error) {
        // Nothing is written, as before, but the failure is no longer silent:
        // the point in memory now differs from its file.
        QLLogError("QuovaMapPoint: can't encode point (" + std::string(error.what()) + " at " +
                   error.codingPath() + "), nothing written - self.description: " + description());
    }
    if (encoded && !recordfile::writeRecordFile(path, bytes)) {
        QLLogInfo("Couldn't serialize point - self.description: " + description());
    }
    store.setNeedsSync();
}

}  // namespace tervolo::points
