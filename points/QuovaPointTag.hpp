#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>

#include <nlohmann/json_fwd.hpp>

#include "platform/dispatch/Date.hpp"
#include "platform/foundation/Error.hpp"

namespace tervolo::points {

// A short word the user attaches to map points, with a colour. Every tag is
// one JSON file "<documents>/tags/<uuid>.QuovaPointTag"; deletion is soft (the
// file stays, with deletedAt and hiddenAt set). Tags have identity: two tags
// are equal only when they are the same object. Used on the main thread only.
//
// Instants are seconds since 2001-01-01 00:00:00 UTC.
class QuovaPointTag : public std::enable_shared_from_this<QuovaPointTag> {
  public:
    static constexpr const char* kFileExtension = ".QuovaPointTag";

    const std::string& title() const { return title_; }
    void setTitle(std::string value) { title_ = std::move(value); }
    const std::optional<std::string>& lastSavedByAppVersion() const { return lastSavedByAppVersion_; }
    void setLastSavedByAppVersion(std::optional<std::string> value) {
        lastSavedByAppVersion_ = std::move(value);
    }
    // Upper-case UUID text made when the tag is created; names the file.
    const std::string& uuid() const { return uuid_; }
    void setUuid(std::string value) { uuid_ = std::move(value); }
    // Decimal ("246,170,0") or hex ("F6AA00") colour text; none until the store
    // gives the tag a colour.
    const std::optional<std::string>& colorString() const { return colorString_; }
    void setColorString(std::optional<std::string> value) { colorString_ = std::move(value); }
    platform::Date createdAt() const { return createdAt_; }
    void setCreatedAt(platform::Date value) { createdAt_ = value; }
    const std::optional<platform::Date>& lastSavedAt() const { return lastSavedAt_; }
    void setLastSavedAt(std::optional<platform::Date> value) { lastSavedAt_ = std::move(value); }
    const std::optional<platform::Date>& deletedAt() const { return deletedAt_; }
    void setDeletedAt(std::optional<platform::Date> value) { deletedAt_ = std::move(value); }
    const std::optional<platform::Date>& hiddenAt() const { return hiddenAt_; }
    void setHiddenAt(std::optional<platform::Date> value) { hiddenAt_ = std::move(value); }

    // A new, unsaved tag: a fresh identifier, createdAt now, no other values.
    static std::shared_ptr<QuovaPointTag> make(std::string title);

    // The tags folder: the documents folder followed by "/tags/", created when
    // nothing exists at that path.
    static std::string documentDirectory();

    // The tag read from `filePath`, or null: silently for a file that cannot be
    // read (not a regular file, too large, missing), with "Can't decode file "
    // and the path for one that does not decode.
    static std::shared_ptr<QuovaPointTag> initWithFilePath(const std::string& filePath);

    // Strict decoding; throws platform::DecodingError.
    static std::shared_ptr<QuovaPointTag> decode(const nlohmann::json& object);
    static std::shared_ptr<QuovaPointTag> decode(std::string_view fileBytes);

    // Keys in field order, optional ones only when present. Throws
    // platform::EncodingError for a non-finite date or a text that is not UTF-8.
    nlohmann::ordered_json encode() const;
    std::string encodedFile() const;

    // Stamps lastSavedAt and lastSavedByAppVersion, then writes; answers as
    // savePreservingLastModification(). The stamps stay on failure.
    std::optional<platform::Error> save();
    // Writes the file atomically without touching the fields. Failures are
    // logged and answered (none: written): a record-file error or the file
    // manager's write error. A screen that changed the tag for the user must
    // not ignore it.
    std::optional<platform::Error> savePreservingLastModification();

    // Ordering by title: Unicode scalar order of the canonically composed texts.
    bool operator<(const QuovaPointTag& other) const;

    QuovaPointTag(const QuovaPointTag&) = delete;
    QuovaPointTag& operator=(const QuovaPointTag&) = delete;

  private:
    struct Token {};

    // In the order of the file's members.
    std::string title_;
    std::optional<std::string> lastSavedByAppVersion_;
    std::string uuid_;
    std::optional<std::string> colorString_;
    platform::Date createdAt_;
    std::optional<platform::Date> lastSavedAt_;
    std::optional<platform::Date> deletedAt_;
    std::optional<platform::Date> hiddenAt_;

  public:
    // Use make(), decode() or initWithFilePath(); public only for make_shared.
    explicit QuovaPointTag(Token);
};

}  // namespace tervolo::points
