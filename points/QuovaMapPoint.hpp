#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "platform/dispatch/Date.hpp"
#include "platform/foundation/Result.hpp"
#include "platform/location/CLLocation.hpp"
#include "platform/location/CLLocationCoordinate2D.hpp"
#include "platform/text/Color.hpp"
#include "platform/text/Unicode.hpp"
#include "points/QuovaPlacemark.hpp"
#include "points/Shorturl.hpp"

namespace platform {
// The UI layer's share sheet (the platform's activity view controller).
class ActivityViewController;
}  // namespace platform

namespace tervolo::points {

class QuovaMapPointStore;

// One entry of the user's collection of map points, and the unit of storage:
// every point is one JSON file "<documents>/points/<uuid>.QuovaMapPoint".
// Points are shared by reference (std::shared_ptr) between the store, the map
// and the screens, and are used on the main thread only; the point takes no
// lock. Equality is identity.
//
// The properties are accessors (name(), setName(value)), in the order of the
// file's members. Instants are seconds since 2001-01-01 00:00:00 UTC;
// coordinates are WGS84 degrees.
class QuovaMapPoint : public std::enable_shared_from_this<QuovaMapPoint> {
  public:
    static constexpr const char* kFileExtension = ".QuovaMapPoint";

    const std::optional<std::string>& title() const { return title_; }
    void setTitle(std::optional<std::string> value) {
        title_ = std::move(value);
        foldedTitle_.reset();
    }
    // The second line: an address or a note.
    const std::optional<std::string>& subtitle() const { return subtitle_; }
    void setSubtitle(std::optional<std::string> value) {
        subtitle_ = std::move(value);
        foldedSubtitle_.reset();
    }
    // Title and subtitle in the comparison form of the store's filter, made on
    // first use and kept until the text changes: the filter runs over every
    // point on each search, and folding a non-ASCII text through ICU costs
    // far more than the containment test itself. Null without the text.
    const platform::text::FoldedText* foldedTitle() const { return folded(title_, foldedTitle_); }
    const platform::text::FoldedText* foldedSubtitle() const { return folded(subtitle_, foldedSubtitle_); }
    // Never set: the platform's invalid coordinate (-180, -180).
    platform::CLLocationCoordinate2D coordinate() const { return coordinate_; }
    void setCoordinate(platform::CLLocationCoordinate2D value) { coordinate_ = value; }
    // The application version (CFBundleVersion) that last ran save().
    const std::optional<std::string>& lastSavedByAppVersion() const { return lastSavedByAppVersion_; }
    void setLastSavedByAppVersion(std::optional<std::string> value) {
        lastSavedByAppVersion_ = std::move(value);
    }
    // Identifier and file name; an upper-case UUID text once ensureUUID() ran.
    const std::optional<std::string>& uuid() const { return uuid_; }
    void setUuid(std::optional<std::string> value) { uuid_ = std::move(value); }
    // True once the user typed the title; automatic titles replace it only while false.
    bool hasHandcraftedTitle() const { return hasHandcraftedTitle_; }
    void setHasHandcraftedTitle(bool value) { hasHandcraftedTitle_ = value; }
    const std::optional<std::string>& alarmSound() const { return alarmSound_; }
    void setAlarmSound(std::optional<std::string> value) { alarmSound_ = std::move(value); }
    // The alarm circle's radius in metres (the name notwithstanding).
    const std::optional<double>& alarmCircleDiameter() const { return alarmCircleDiameter_; }
    void setAlarmCircleDiameter(std::optional<double> value) { alarmCircleDiameter_ = std::move(value); }
    // Identifiers of the point's tags; a new point has the empty list, a file
    // without the member reads back as none.
    const std::optional<std::vector<std::string>>& tags() const { return tags_; }
    void setTags(std::optional<std::vector<std::string>> value) { tags_ = std::move(value); }
    platform::Date createdAt() const { return createdAt_; }
    void setCreatedAt(platform::Date value) { createdAt_ = value; }
    platform::Date lastSavedAt() const { return lastSavedAt_; }
    void setLastSavedAt(platform::Date value) { lastSavedAt_ = value; }
    const std::optional<platform::Date>& deletedAt() const { return deletedAt_; }
    void setDeletedAt(std::optional<platform::Date> value) { deletedAt_ = std::move(value); }
    const std::optional<platform::Date>& hiddenAt() const { return hiddenAt_; }
    void setHiddenAt(std::optional<platform::Date> value) { hiddenAt_ = std::move(value); }
    const std::optional<std::string>& dataSourceName() const { return dataSourceName_; }
    void setDataSourceName(std::optional<std::string> value) { dataSourceName_ = std::move(value); }
    const std::optional<std::string>& dataSourceUniqueID() const { return dataSourceUniqueID_; }
    void setDataSourceUniqueID(std::optional<std::string> value) { dataSourceUniqueID_ = std::move(value); }
    const std::optional<std::string>& dataSourceURL() const { return dataSourceURL_; }
    void setDataSourceURL(std::optional<std::string> value) { dataSourceURL_ = std::move(value); }
    const std::optional<std::string>& dataSourceImageURL() const { return dataSourceImageURL_; }
    void setDataSourceImageURL(std::optional<std::string> value) { dataSourceImageURL_ = std::move(value); }

    // A new, unsaved point: createdAt and lastSavedAt both the current instant,
    // every other field its initial value.
    static std::shared_ptr<QuovaMapPoint> make(std::string title);
    // A new, unsaved point from a search result: title, subtitle (the
    // address), coordinate and the four data-source fields. A non-finite
    // latitude or longitude gives the invalid coordinate instead, so the point
    // can still be saved (a NaN cannot be written to the file).
    static std::shared_ptr<QuovaMapPoint> make(const QuovaPlacemark& placemark);
    // A new, unsaved point from a received short-link record: its title,
    // coordinate and four data-source fields; null when the record's
    // coordinate texts do not read as finite decimals or give a position off
    // the globe (the record comes from the network).
    static std::shared_ptr<QuovaMapPoint> make(const Shorturl& shorturl);

    // The points folder: the documents folder followed by "/points/", created
    // (with missing parents) when nothing exists at that path. A failure to
    // create it is logged and the path is returned all the same.
    static std::string documentDirectory();

    // The point read from `filePath`, or null. A file that cannot be read (or is
    // not a regular file, or is larger than the loaders' cap) gives null, with
    // a line naming it and the reason when its name has the point extension;
    // one that reads but does not decode logs "Can't decode file ".
    static std::shared_ptr<QuovaMapPoint> initWithFilePath(const std::string& filePath);

    // Strict decoding of the file format (any member order, unknown members
    // ignored, required members present and non-null, exact JSON types).
    // Throws platform::DecodingError.
    static std::shared_ptr<QuovaMapPoint> decode(const nlohmann::json& object);
    // Decodes the bytes of a point file. Throws platform::DecodingError, also for text
    // that is not JSON.
    static std::shared_ptr<QuovaMapPoint> decode(std::string_view fileBytes);

    // The file's JSON object, members in the order of the fields, optional ones
    // only when present. Throws platform::EncodingError for a non-finite number.
    nlohmann::ordered_json encode() const;
    // The file's bytes: encode() written compactly with escaped solidus.
    // Throws platform::EncodingError.
    std::string encodedFile() const;

    // Gives the point a new upper-case UUID when `uuid` is none or empty.
    void ensureUUID();

    // "title[, subtitle][, Long: x, Lat: y]" with "(unknown)" for a missing
    // title; the coordinate only when it is valid.
    std::string description() const;

    // Metres from `from` along the WGS84 ellipsoid; +infinity when the point's
    // coordinate is not valid.
    double distance(const platform::CLLocation& from) const;

    // The colour of the point's last tag among the tag store's valid tags
    // (identifiers compared without letter case), its colour text read as
    // decimal, then as hex; none when any piece is missing or unreadable.
    std::optional<platform::Color> tagColor() const;

    // The legacy data-source codes of earlier versions: 1 "Facebook",
    // 2 "Google", 3 "OSM", 4 "Qype", 5 "VBB", 6 "Yelp"; any other clears
    // dataSourceName.
    void setDataSource(int64_t code);

    // --- share-sheet item (the point is its own item source) ---------------
    // Each takes the asking share sheet (unused; the UI layer's share sheet)
    // and answers with a text. Meant for the main thread except the item
    // request, which the share sheet makes on a thread of its own: it reads and
    // changes the point and the store only through the main queue (so the
    // main thread must not wait for that thread), and waits for a running
    // short-link upload at most a bounded time (ShareItemWait). Called on the
    // main thread, it runs there and blocks it for that wait.

    // The short link when one is on file; otherwise the title (or the shared
    // title "Location Shared By Tervolo"), after starting the short-link upload
    // when none runs.
    std::string activityViewControllerPlaceholderItem(
        const platform::ActivityViewController* activityViewController);
    // The title, or the shared title.
    std::string activityViewControllerSubjectForActivityType(
        const platform::ActivityViewController* activityViewController,
        const std::optional<std::string>& activityType);
    // The text to share for the activity type (the UIActivityType* constants
    // of points/ShareActivityType.hpp): the short link, or the OpenStreetMap
    // link of the point when no short link can be had, alone or inside a text
    // (the mail body is HTML with the title and link escaped). A point without
    // a valid coordinate and without a short link shares its title alone.
    std::string activityViewControllerItemForActivityType(
        const platform::ActivityViewController* activityViewController,
        const std::optional<std::string>& activityType);

    // Stamps lastSavedAt and lastSavedByAppVersion, then
    // savePreservingLastModification(store), whose answer it returns.
    platform::Result<std::string> save(QuovaMapPointStore& store);
    // Gives the point an identifier, hands it to the search index of `store`
    // (the store that owns the point), writes its file atomically and sets the
    // store's needs-sync flag. Failures are logged; a file over the loaders'
    // cap (a note of more than a mebibyte) is refused, not written to be
    // skipped at the next start. Returns the path of the file written, or why
    // nothing was written: a record-file error (recordfile::kRecordFileTooLarge,
    // kRecordFileNotEncodable) or the file manager's write error (full disk,
    // read-only volume, no permission, a points folder that is no folder).
    // Callers that only log may ignore it; a screen holding the user's edit
    // must not.
    platform::Result<std::string> savePreservingLastModification(QuovaMapPointStore& store);

    // Points have identity; copies would silently fork the stored object.
    QuovaMapPoint(const QuovaMapPoint&) = delete;
    QuovaMapPoint& operator=(const QuovaMapPoint&) = delete;

    // Ordering by title: a before b when both have a title and a's NFC form
    // sorts before b's by code point (case-sensitive, no locale). A point
    // without a title is neither before nor after any point, so this is not a
    // strict weak ordering: never hand it to a sort or an ordered container
    // (QuovaMapPointStore::sortedPoints has the total order for that).
    friend bool operator<(const QuovaMapPoint& a, const QuovaMapPoint& b);
    friend bool operator>(const QuovaMapPoint& a, const QuovaMapPoint& b) { return b < a; }
    friend bool operator<=(const QuovaMapPoint& a, const QuovaMapPoint& b) { return !(b < a); }
    friend bool operator>=(const QuovaMapPoint& a, const QuovaMapPoint& b) { return !(a < b); }
    // Equality is identity: two distinct objects are never equal.
    friend bool operator==(const QuovaMapPoint& a, const QuovaMapPoint& b) { return &a == &b; }

  private:
    struct Token {};

    static const platform::text::FoldedText* folded(const std::optional<std::string>& text,
                                                    std::optional<platform::text::FoldedText>& cache) {
        if (!text) return nullptr;
        if (!cache) cache.emplace(*text);
        return &*cache;
    }

    // In the order of the file's members, the filter's forms aside.
    std::optional<std::string> title_;
    std::optional<std::string> subtitle_;
    platform::CLLocationCoordinate2D coordinate_ = platform::kCLLocationCoordinate2DInvalid;
    std::optional<std::string> lastSavedByAppVersion_;
    std::optional<std::string> uuid_;
    bool hasHandcraftedTitle_ = false;
    std::optional<std::string> alarmSound_;
    std::optional<double> alarmCircleDiameter_;
    std::optional<std::vector<std::string>> tags_ = std::vector<std::string>{};
    platform::Date createdAt_;
    platform::Date lastSavedAt_;
    std::optional<platform::Date> deletedAt_;
    std::optional<platform::Date> hiddenAt_;
    // Not in the file: the comparison forms of title and subtitle, dropped
    // by their setters, filled from const readers (a point is used on the
    // main thread only). Kept beside the two stamps the filter reads first,
    // so a pass over every point touches few cache lines of each.
    mutable std::optional<platform::text::FoldedText> foldedTitle_;
    mutable std::optional<platform::text::FoldedText> foldedSubtitle_;
    std::optional<std::string> dataSourceName_;
    std::optional<std::string> dataSourceUniqueID_;
    std::optional<std::string> dataSourceURL_;
    std::optional<std::string> dataSourceImageURL_;

  public:
    // Use make(), decode() or initWithFilePath(); public only for make_shared.
    explicit QuovaMapPoint(Token);
};

}  // namespace tervolo::points
