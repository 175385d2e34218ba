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

void report(const std::string& line) {
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

QLLogFileInfo::QLLogFileInfo(std::string filePath) : _filePath(std::move(filePath)) {
    if (_filePath.empty()) {
        platform::assertionFailure("aFilePath", "QLFileLogger",
                                   "Invalid parameter not satisfying: aFilePath");
    }
}

const std::string& QLLogFileInfo::fileName() {
    if (!_fileName) {
        const auto slash = _filePath.find_last_of('/');
        _fileName = slash == std::string::npos ? _filePath : _filePath.substr(slash + 1);
    }
    return *_fileName;
}

std::optional<platform::FileAttributes> QLLogFileInfo::fileAttributes() {
    if (!_fileAttributes && !_filePath.empty()) {
        auto attributes = FileManager::defaultManager().attributesOfItem(_filePath);
        if (attributes) {
            _fileAttributes = std::move(attributes.value());
        } else {
            report("QLLogFileInfo: Failed to read file attributes: " + attributes.error().fullDescription());
        }
    }
    return _fileAttributes;
}

std::optional<platform::Date> QLLogFileInfo::creationDate() {
    if (!_creationDate) {
        const auto attributes = fileAttributes();
        if (!attributes) return std::nullopt;
        if (attributes->creationDate) {
            _creationDate = attributes->creationDate;
        } else if (auto fromName = QLLogFileNameDate(fileName())) {
            _creationDate = fromName;
        } else {
            _creationDate = attributes->modificationDate;
        }
    }
    return _creationDate;
}

std::optional<platform::Date> QLLogFileInfo::modificationDate() {
    if (!_modificationDate) {
        const auto attributes = fileAttributes();
        if (attributes) _modificationDate = attributes->modificationDate;
    }
    return _modificationDate;
}

uint64_t QLLogFileInfo::fileSize() {
    if (_fileSize == 0) {
        const auto attributes = fileAttributes();
        if (attributes) _fileSize = attributes->size;
    }
    return _fileSize;
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
    _fileName.reset();
    _fileAttributes.reset();
    _creationDate.reset();
    _modificationDate.reset();
}

void QLLogFileInfo::renameFile(const std::string& newFileName) {
    if (newFileName == fileName()) return;
    const auto slash = _filePath.find_last_of('/');
    const std::string newFilePath =
        (slash == std::string::npos ? std::string() : _filePath.substr(0, slash + 1)) + newFileName;
    auto& files = FileManager::defaultManager();
    if (auto error = files.removeItem(newFilePath); error && !error->isNoSuchFile()) {
        report(fmt::format("QLLogFileInfo: Error deleting archive ({}): {}", fileName(),
                           error->fullDescription()));
    }
    if (auto error = files.moveItem(_filePath, newFilePath)) {
        report(
            fmt::format("QLLogFileInfo: Error renaming file ({}): {}", fileName(), error->fullDescription()));
    }
    _filePath = newFilePath;
    reset();
}

bool QLLogFileInfo::hasExtendedAttributeWithName(const std::string& attrName) {
    auto value = gExtendedAttributesRefused.load(std::memory_order_relaxed)
                     ? platform::Result<platform::Data>(refusedError(_filePath))
                     : FileManager::defaultManager().extendedAttribute(_filePath, attrName, 1);
    if (value) {
        if (value->size() == 1 && (*value)[0] == 1) return true;
        // Present but empty or another byte: the mark is there; make it canonical.
        addExtendedAttributeWithName(attrName);
        return true;
    }
    if (value.error().isNotSupported()) {
        struct stat info {};
        return ::stat(_filePath.c_str(), &info) == 0 && (info.st_mode & kWriteBits) == 0;
    }
    return false;
}

void QLLogFileInfo::addExtendedAttributeWithName(const std::string& attrName) {
    static constexpr std::array<uint8_t, 1> kMarked{1};
    auto error = gExtendedAttributesRefused.load(std::memory_order_relaxed)
                     ? std::optional<Error>(refusedError(_filePath))
                     : FileManager::defaultManager().setExtendedAttribute(_filePath, attrName, kMarked);
    if (error && error->isNotSupported()) error = setModeWritable(_filePath, false);
    if (error && !error->isNoSuchFile()) {
        report(fmt::format("QLLogFileInfo: setxattr({}, {}): error = {}", attrName, _filePath,
                           systemErrorText(error->posixCode)));
    }
}

void QLLogFileInfo::removeExtendedAttributeWithName(const std::string& attrName) {
    auto error = gExtendedAttributesRefused.load(std::memory_order_relaxed)
                     ? std::optional<Error>(refusedError(_filePath))
                     : FileManager::defaultManager().removeExtendedAttribute(_filePath, attrName);
    if (error && error->isNotSupported()) error = setModeWritable(_filePath, true);
    if (error && error->posixCode != ENODATA) {
        report(fmt::format("QLLogFileInfo: removexattr({}, {}): error = {}", attrName, fileName(),
                           systemErrorText(error->posixCode)));
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
        _filePath, fileName(), attributesText, dateText(creationDate()), dateText(modificationDate()),
        fileSize(), age(), isArchived() ? 1 : 0);
}

void QLLogFileInfo::setExtendedAttributesRefusedForTesting(bool refused) {
    gExtendedAttributesRefused.store(refused, std::memory_order_relaxed);
}

}  // namespace tervolo::logging
