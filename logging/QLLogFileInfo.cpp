#include "logging/QLLogFileInfo.hpp"

#include <sys/stat.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>

#include <fmt/format.h>

#include "platform/dispatch/DateFormat.hpp"
#include "platform/foundation/Assertion.hpp"
#include "platform/foundation/Diagnostics.hpp"

namespace tervolo::logging {

using platform::Error;
using platform::FileManager;

namespace {

std::atomic<bool> gExtendedAttributesRefused{false};

void reportFileInfoProblem(const std::string& line) {
    platform::LineWriter::standardError().writeLine(line);
}

std::string systemErrorText(int errnoValue) {
    char buffer[256];
    // GNU strerror_r: returns the text, which may or may not be in `buffer`.
    return ::strerror_r(errnoValue, buffer, sizeof buffer);
}

Error refusedError(const std::string& path) {
    return Error::file(ENOTSUP, "extended attribute", path);
}

// The fallback mark for file systems without user extended attributes: no
// write permission for anyone (an archived log file is never written again).
constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

std::optional<Error> setModeWritable(const std::string& path, bool writable) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return Error::file(errno, "stat", path);
    mode_t mode = info.st_mode & 07777;
    mode = writable ? (mode | S_IWUSR) : (mode & ~kWriteBits);
    if (::chmod(path.c_str(), mode) != 0) return Error::file(errno, "chmod", path);
    return std::nullopt;
}

std::string dateText(const std::optional<platform::Date>& date) {
    return date ? platform::dateformat::gmtSlashed(*date) : std::string();
}

int compareDates(const std::optional<platform::Date>& mine, const std::optional<platform::Date>& other) {
    // The other's date against this one's, so that ascending order by this
    // comparison puts the newest first. A missing date is the oldest.
    if (other == mine) return 0;
    return other < mine ? -1 : 1;
}

}  // namespace

std::optional<platform::Date> QLLogFileNameDate(std::string_view fileName) {
    const auto blank = fileName.find_last_of(' ');
    std::string piece(blank == std::string_view::npos ? fileName : fileName.substr(blank + 1));
    for (auto at = piece.find(".log"); at != std::string::npos; at = piece.find(".log", at)) {
        piece.erase(at, 4);
    }
    return platform::dateformat::parseGMTFileName(piece);
}

std::shared_ptr<QLLogFileInfo> QLLogFileInfo::logFileWithPath(const std::optional<std::string>& path) {
    if (!path || path->empty()) return nullptr;
    return std::make_shared<QLLogFileInfo>(*path);
}

QLLogFileInfo::QLLogFileInfo(std::string filePath) : filePath_(std::move(filePath)) {
    if (filePath_.empty()) {
        platform::assertionFailure("aFilePath", "QLFileLogger",
                                   "Invalid parameter not satisfying: aFilePath");
    }
}

const std::string& QLLogFileInfo::fileName() {
    if (!fileName_) {
        const auto slash = filePath_.find_last_of('/');
        fileName_ = slash == std::string::npos ? filePath_ : filePath_.substr(slash + 1);
    }
    return *fileName_;
}

std::optional<platform::FileAttributes> QLLogFileInfo::fileAttributes() {
    if (!fileAttributes_ && !filePath_.empty()) {
        auto attributes = FileManager::defaultManager().attributesOfItem(filePath_);
        if (attributes) {
            fileAttributes_ = std::move(attributes.value());
        } else {
            reportFileInfoProblem("QLLogFileInfo: Failed to read file attributes: " +
                                  attributes.error().fullDescription());
        }
    }
    return fileAttributes_;
}

std::optional<platform::Date> QLLogFileInfo::creationDate() {
    if (!creationDate_) {
        const auto attributes = fileAttributes();
        if (!attributes) return std::nullopt;
        if (attributes->creationDate) {
            creationDate_ = attributes->creationDate;
        } else if (auto fromName = QLLogFileNameDate(fileName())) {
            creationDate_ = fromName;
        } else {
            creationDate_ = attributes->modificationDate;
        }
    }
    return creationDate_;
}

std::optional<platform::Date> QLLogFileInfo::modificationDate() {
    if (!modificationDate_) {
        const auto attributes = fileAttributes();
        if (attributes) modificationDate_ = attributes->modificationDate;
    }
    return modificationDate_;
}

uint64_t QLLogFileInfo::fileSize() {
    if (fileSize_ == 0) {
        const auto attributes = fileAttributes();
        if (attributes) fileSize_ = attributes->size;
    }
    return fileSize_;
}

double QLLogFileInfo::age() {
    const auto created = creationDate();
    if (!created) return 0;
    return platform::Date::now().timeIntervalSince(*created);
}

bool QLLogFileInfo::isArchived() {
    return hasExtendedAttributeWithName(kArchivedAttributeName);
}

void QLLogFileInfo::setIsArchived(bool isArchived) {
    if (isArchived) {
        addExtendedAttributeWithName(kArchivedAttributeName);
    } else {
        removeExtendedAttributeWithName(kArchivedAttributeName);
    }
}

void QLLogFileInfo::reset() {
    fileName_.reset();
    fileAttributes_.reset();
    creationDate_.reset();
    modificationDate_.reset();
}

void QLLogFileInfo::renameFile(const std::string& newFileName) {
    if (newFileName == fileName()) return;
    const auto slash = filePath_.find_last_of('/');
    const std::string newFilePath =
        (slash == std::string::npos ? std::string() : filePath_.substr(0, slash + 1)) + newFileName;
    auto& files = FileManager::defaultManager();
    if (auto error = files.removeItem(newFilePath); error && !error->isNoSuchFile()) {
        reportFileInfoProblem(fmt::format("QLLogFileInfo: Error deleting archive ({}): {}", fileName(),
                                          error->fullDescription()));
    }
    if (auto error = files.moveItem(filePath_, newFilePath)) {
        reportFileInfoProblem(
            fmt::format("QLLogFileInfo: Error renaming file ({}): {}", fileName(), error->fullDescription()));
    }
    filePath_ = newFilePath;
    reset();
}

bool QLLogFileInfo::hasExtendedAttributeWithName(const std::string& attrName) {
    auto value = gExtendedAttributesRefused.load(std::memory_order_relaxed)
                     ? platform::Result<platform::Data>(refusedError(filePath_))
                     : FileManager::defaultManager().extendedAttribute(filePath_, attrName, 1);
    if (value) {
        if (value->size() == 1 && (*value)[0] == 1) return true;
        // Present but empty or another byte: the mark is there; make it canonical.
        addExtendedAttributeWithName(attrName);
        return true;
    }
    if (value.error().isNotSupported()) {
        struct stat info {};
        return ::stat(filePath_.c_str(), &info) == 0 && (info.st_mode & kWriteBits) == 0;
    }
    return false;
}

void QLLogFileInfo::addExtendedAttributeWithName(const std::string& attrName) {
    static constexpr std::array<uint8_t, 1> kMarked{1};
    auto error = gExtendedAttributesRefused.load(std::memory_order_relaxed)
                     ? std::optional<Error>(refusedError(filePath_))
                     : FileManager::defaultManager().setExtendedAttribute(filePath_, attrName, kMarked);
    if (error && error->isNotSupported()) error = setModeWritable(filePath_, false);
    if (error && !error->isNoSuchFile()) {
        reportFileInfoProblem(fmt::format("QLLogFileInfo: setxattr({}, {}): error = {}", attrName, filePath_,
                                          systemErrorText(error->posixCode)));
    }
}

void QLLogFileInfo::removeExtendedAttributeWithName(const std::string& attrName) {
    auto error = gExtendedAttributesRefused.load(std::memory_order_relaxed)
                     ? std::optional<Error>(refusedError(filePath_))
                     : FileManager::defaultManager().removeExtendedAttribute(filePath_, attrName);
    if (error && error->isNotSupported()) error = setModeWritable(filePath_, true);
    if (error && error->posixCode != ENODATA) {
        reportFileInfoProblem(fmt::format("QLLogFileInfo: removexattr({}, {}): error = {}", attrName,
                                          fileName(), systemErrorText(error->posixCode)));
    }
}

int QLLogFileInfo::reverseCompareByCreationDate(QLLogFileInfo& another) {
    return compareDates(creationDate(), another.creationDate());
}

int QLLogFileInfo::reverseCompareByModificationDate(QLLogFileInfo& another) {
    return compareDates(modificationDate(), another.modificationDate());
}

std::string QLLogFileInfo::description() {
    const auto attributes = fileAttributes();
    std::string attributesText;
    if (attributes) {
        attributesText = fmt::format("{{size = {}; permissions = {:o}; linkCount = {}}}", attributes->size,
                                     attributes->permissions, attributes->linkCount);
    }
    return fmt::format(
        "{{filePath = {}; fileName = {}; fileAttributes = {}; creationDate = {}; modificationDate = {}; "
        "fileSize = {}; age = {}; isArchived = {}}}",
        filePath_, fileName(), attributesText, dateText(creationDate()), dateText(modificationDate()),
        fileSize(), age(), isArchived() ? 1 : 0);
}

void QLLogFileInfo::setExtendedAttributesRefusedForTesting(bool refused) {
    gExtendedAttributesRefused.store(refused, std::memory_order_relaxed);
}

}  // namespace tervolo::logging
