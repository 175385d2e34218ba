#pragma once

#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "platform/dispatch/Date.hpp"

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

    std::string title;
    std::optional<std::string> lastSavedByAppVersion;
    // Upper-case UUID text made when the tag is created; names the file.
    std::string uuid;
    // Decimal ("246,170,0") or hex ("F6AA00") colour text; none until the store
    // gives the tag a colour.
    std::optional<std::string> colorString;
    platform::Date createdAt;
    std::optional<platform::Date> lastSavedAt;
    std::optional<platform::Date> deletedAt;
    std::optional<platform::Date> hiddenAt;

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

    // Stamps lastSavedAt and lastSavedByAppVersion, then writes.
    void save();
    // Writes the file atomically without touching the fields; failures are
    // logged, never reported.
    void savePreservingLastModification();

    // Ordering by title: Unicode scalar order of the canonically composed texts.
    bool operator<(const QuovaPointTag& other) const;

    QuovaPointTag(const QuovaPointTag&) = delete;
    QuovaPointTag& operator=(const QuovaPointTag&) = delete;

  private:
    struct Token {};

  public:
    // Use make(), decode() or initWithFilePath(); public only for make_shared.
    explicit QuovaPointTag(Token);
};

}  // namespace tervolo::points
