#include "points/QuovaMapPoint.hpp"

#include <string_view>

#include "logging/QLLogging.hpp"
#include "platform/coding/JSONDecoder.hpp"
#include "platform/foundation/FileManager.hpp"
#include "platform/text/Numbers.hpp"
#include "platform/text/UUID.hpp"
#include "points/FileIdentifier.hpp"
#include "points/QuovaAppVersion.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/RecordFile.hpp"

namespace tervolo::points {

using json = nlohmann::json;
using ordered_json = nlohmann::ordered_json;
using platform::KeyedDecodingContainer;

namespace {

// The coordinate's own JSON form, fixed for the whole system: an array whose
// first element is the longitude and second the latitude; further elements
// are ignored (whatever they hold).
platform::CLLocationCoordinate2D decodeCoordinate(const KeyedDecodingContainer& container) {
    const std::vector<std::string> path{"coordinate"};
    const json& value = container.rawValue("coordinate");
    const std::string typeName = "Array<Double>";
    if (value.is_null()) platform::coding_detail::throwValueNotFound(typeName, path);
    if (!value.is_array()) platform::coding_detail::throwTypeMismatch(typeName, value, path);
    const auto element = [&](std::size_t index) {
        auto elementPath = path;
        elementPath.push_back(platform::coding_detail::indexKey(index));
        if (index >= value.size()) {
            throw platform::DecodingError(platform::DecodingError::Category::valueNotFound, "Double",
                                          std::move(elementPath), "Unkeyed container is at end.");
        }
        return platform::coding_detail::decodeValue<double>(value[index], elementPath);
    };
    platform::CLLocationCoordinate2D coordinate;
    coordinate.longitude = element(0);
    coordinate.latitude = element(1);
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
    if (!object.is_object()) platform::coding_detail::throwTypeMismatch("QuovaMapPoint", object, {});
    const KeyedDecodingContainer container(object, {});
    auto point = std::make_shared<QuovaMapPoint>(Token{});
    point->title = container.decodeIfPresent<std::string>("title");
    point->subtitle = container.decodeIfPresent<std::string>("subtitle");
    point->coordinate = decodeCoordinate(container);
    point->lastSavedByAppVersion = container.decodeIfPresent<std::string>("lastSavedByAppVersion");
    point->uuid = container.decodeIfPresent<std::string>("uuid");
    point->hasHandcraftedTitle = container.decode<bool>("hasHandcraftedTitle");
    point->alarmSound = container.decodeIfPresent<std::string>("alarmSound");
    point->alarmCircleDiameter = container.decodeIfPresent<double>("alarmCircleDiameter");
    point->tags = container.decodeIfPresent<std::vector<std::string>>("tags");
    point->createdAt = container.decode<platform::Date>("createdAt");
    point->lastSavedAt = container.decode<platform::Date>("lastSavedAt");
    point->deletedAt = container.decodeIfPresent<platform::Date>("deletedAt");
    point->hiddenAt = container.decodeIfPresent<platform::Date>("hiddenAt");
    point->dataSourceName = container.decodeIfPresent<std::string>("dataSourceName");
    point->dataSourceUniqueID = container.decodeIfPresent<std::string>("dataSourceUniqueID");
    point->dataSourceURL = container.decodeIfPresent<std::string>("dataSourceURL");
    point->dataSourceImageURL = container.decodeIfPresent<std::string>("dataSourceImageURL");

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
    } catch (const platform::EncodingError& error) {
        // Nothing is written, as before, but the failure is no longer silent:
        // the point in memory now differs from its file.
        QLLogError("QuovaMapPoint: can't encode point (" + error.debugDescription() + " at " +
                   recordfile::pathText(error.codingPath()) +
                   "), nothing written - self.description: " + description());
    }
    if (encoded && !recordfile::writeRecordFile(path, bytes)) {
        QLLogInfo("Couldn't serialize point - self.description: " + description());
    }
    store.setNeedsSync();
    store.didSavePoint(shared_from_this());
}

}  // namespace tervolo::points
