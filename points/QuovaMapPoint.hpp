#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/dispatch/Date.hpp"
#include "platform/location/CLLocationCoordinate2D.hpp"

namespace tervolo::points {

// One entry of the user's collection of map points, and the unit of storage:
// every point is one JSON file "<documents>/points/<uuid>.QuovaMapPoint".
// Points are shared by reference (std::shared_ptr) between the store, the map
// and the screens, and are used on the main thread only; the point takes no
// lock. Equality is identity.
//
// The fields are public, in the order of the file's members. Instants are
// seconds since 2001-01-01 00:00:00 UTC; coordinates are WGS84 degrees.
class QuovaMapPoint : public std::enable_shared_from_this<QuovaMapPoint> {
  public:
    static constexpr const char* kFileExtension = ".QuovaMapPoint";

    std::optional<std::string> title;
    // The second line: an address or a note.
    std::optional<std::string> subtitle;
    // Never set: the platform's invalid coordinate (-180, -180).
    platform::CLLocationCoordinate2D coordinate = platform::kCLLocationCoordinate2DInvalid;
    // The application version (CFBundleVersion) that last ran save().
    std::optional<std::string> lastSavedByAppVersion;
    // Identifier and file name; an upper-case UUID text once ensureUUID() ran.
    std::optional<std::string> uuid;
    // True once the user typed the title; automatic titles replace it only while false.
    bool hasHandcraftedTitle = false;
    std::optional<std::string> alarmSound;
    // The alarm circle's radius in metres (the name notwithstanding).
    std::optional<double> alarmCircleDiameter;
    // Identifiers of the point's tags; a new point has the empty list, a file
    // without the member reads back as none.
    std::optional<std::vector<std::string>> tags = std::vector<std::string>{};
    platform::Date createdAt;
    platform::Date lastSavedAt;
    std::optional<platform::Date> deletedAt;
    std::optional<platform::Date> hiddenAt;
    std::optional<std::string> dataSourceName;
    std::optional<std::string> dataSourceUniqueID;
    std::optional<std::string> dataSourceURL;
    std::optional<std::string> dataSourceImageURL;

    // A new, unsaved point: createdAt and lastSavedAt both the current instant,
    // every other field its initial value.
    static std::shared_ptr<QuovaMapPoint> make(std::string title);

    // The points folder: the documents folder followed by "/points/", created
    // (with missing parents) when nothing exists at that path. A failure to
    // create it is logged and the path is returned all the same.
    static std::string documentDirectory();

    // The point read from `filePath`, or null. A file that cannot be read (or is
    // not a regular file, or is larger than the loaders' cap) gives null
    // silently; one that reads but does not decode logs "Can't decode file ".
    static std::shared_ptr<QuovaMapPoint> initWithFilePath(const std::string& filePath);

    // Strict decoding of the file format (any member order, unknown members
    // ignored, required members present and non-null, exact JSON types).
    // Throws DecodingError.
    static std::shared_ptr<QuovaMapPoint> decode(const nlohmann::json& object);
    // Decodes the bytes of a point file. Throws DecodingError, also for text
    // that is not JSON.
    static std::shared_ptr<QuovaMapPoint> decode(std::string_view fileBytes);

    // The file's JSON object, members in the order of the fields, optional ones
    // only when present. Throws EncodingError for a non-finite number.
    nlohmann::ordered_json encode() const;
    // The file's bytes: encode() written compactly with escaped solidus.
    // Throws EncodingError.
    std::string encodedFile() const;

    // Gives the point a new upper-case UUID when `uuid` is none or empty.
    void ensureUUID();

    // "title[, subtitle][, Long: x, Lat: y]" with "(unknown)" for a missing
    // title; the coordinate only when it is valid.
    std::string description() const;

    // Stamps lastSavedAt and lastSavedByAppVersion, then
    // savePreservingLastModification().
    void save();
    // Gives the point an identifier, hands it to the store's search index,
    // writes its file atomically and sets the store's needs-sync flag. Failures
    // are logged, never reported to the caller.
    void savePreservingLastModification();

    // Points have identity; copies would silently fork the stored object.
    QuovaMapPoint(const QuovaMapPoint&) = delete;
    QuovaMapPoint& operator=(const QuovaMapPoint&) = delete;

  private:
    struct Token {};

  public:
    // Use make(), decode() or initWithFilePath(); public only for make_shared.
    explicit QuovaMapPoint(Token);
};

}  // namespace tervolo::points
