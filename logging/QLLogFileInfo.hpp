#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/dispatch/Date.hpp"
#include "platform/foundation/FileManager.hpp"

namespace tervolo::logging {

// One log file on disk, as the file logger and its file manager see it: path,
// name, attributes, dates, size, age, and whether it has been archived.
//
// Everything but the path is read lazily and cached until reset(). Not
// thread-safe: the file logger uses an info only on its own queue, the file
// manager on the thread that calls it. File-system failures never throw: they
// are written to standard error and the info answers with what it has (no
// attributes, no dates, size 0, not archived).
//
// The archived mark is kept on the file itself, so it survives restarts: the
// extended attribute "quova.log.archived" ("user.quova.log.archived" on Linux)
// holding the single byte 1. Where the file system refuses user extended
// attributes (ENOTSUP), the mark is the file's mode without any write
// permission: an archived log file is never written again, and a file nobody
// may write cannot be continued anyway. Without that fallback a rolled file
// would look unarchived, be resumed by the next record and rolls would do
// nothing.
class QLLogFileInfo {
  public:
    static constexpr const char* kArchivedAttributeName = "quova.log.archived";

    // Empty for an empty path.
    static std::shared_ptr<QLLogFileInfo> logFileWithPath(const std::optional<std::string>& path);
    // `filePath` must not be empty (asserts).
    explicit QLLogFileInfo(std::string filePath);

    const std::string& filePath() const { return filePath_; }
    // Last path component of the path (cached).
    const std::string& fileName();

    // The file system's attributes of the file; empty when they cannot be read
    // (then asked again on the next call).
    std::optional<platform::FileAttributes> fileAttributes();
    // The file's birth time; where the file system keeps none, the date in a
    // log file name ("<app> yyyy-MM-dd--HH-mm-ss-SSS.log"), else the
    // modification date, so age and the roll timer still work. Cached.
    std::optional<platform::Date> creationDate();
    std::optional<platform::Date> modificationDate();
    // Bytes; cached, read again while the cached value is 0. reset() keeps it
    // (the logger measures a growing file through its open handle instead).
    uint64_t fileSize();
    // Seconds since creationDate (positive for a file created in the past); 0
    // without a creation date.
    double age();

    bool isArchived();
    void setIsArchived(bool isArchived);

    // Forgets the cached file name, attributes and dates (not the size).
    void reset();
    // Renames the file within its folder, replacing an item of the new name.
    void renameFile(const std::string& newFileName);

    // Mark helpers, by attribute name (without the "user." prefix).
    // Reading: a value of exactly one byte counts; an empty value or another
    // byte counts too and is rewritten as the byte 1.
    bool hasExtendedAttributeWithName(const std::string& attrName);
    void addExtendedAttributeWithName(const std::string& attrName);
    void removeExtendedAttributeWithName(const std::string& attrName);

    // Equal when the paths are equal text; dates play no part.
    bool operator==(const QLLogFileInfo& other) const { return filePath_ == other.filePath_; }
    size_t hash() const { return std::hash<std::string>{}(filePath_); }

    // Ordering for a newest-first sort: the other's date against this one's
    // (<0: this one first). A missing date is older than any date.
    int reverseCompareByCreationDate(QLLogFileInfo& another);
    int reverseCompareByModificationDate(QLLogFileInfo& another);

    // "{filePath = …; fileName = …; fileAttributes = {…}; creationDate = …;
    // modificationDate = …; fileSize = …; age = …; isArchived = 0|1}"; missing
    // values are empty.
    std::string description();

    // Makes every extended-attribute call of this class fail as on a file
    // system without user attributes (ENOTSUP). Process-wide; tests only.
    static void setExtendedAttributesRefusedForTesting(bool refused);

  private:
    std::string filePath_;
    std::optional<std::string> fileName_;
    std::optional<platform::FileAttributes> fileAttributes_;
    std::optional<platform::Date> creationDate_;
    std::optional<platform::Date> modificationDate_;
    uint64_t fileSize_ = 0;
};

// The date in a log file name: the last blank-separated piece with every ".log"
// removed, read as GMT "yyyy-MM-dd--HH-mm-ss-SSS"; empty when it is not one.
std::optional<platform::Date> QLLogFileNameDate(std::string_view fileName);

}  // namespace tervolo::logging

template <>
struct std::hash<tervolo::logging::QLLogFileInfo> {
    size_t operator()(const tervolo::logging::QLLogFileInfo& info) const { return info.hash(); }
};
