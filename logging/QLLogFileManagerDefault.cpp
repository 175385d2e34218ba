#include "logging/QLLogFileManagerDefault.hpp"

#include <algorithm>
#include <utility>

#include <fmt/format.h>

#include "platform/dispatch/DateFormat.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Assertion.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/Diagnostics.hpp"
#include "platform/foundation/FileManager.hpp"
#include "platform/foundation/ProcessInfo.hpp"

namespace tervolo::logging {

using platform::FileManager;

namespace {

bool isProtectionClass(const std::string& value) {
    return value == QLLogFileManagerDefault::kProtectionNone ||
           value == QLLogFileManagerDefault::kProtectionComplete ||
           value == QLLogFileManagerDefault::kProtectionCompleteUnlessOpen ||
           value == QLLogFileManagerDefault::kProtectionCompleteUntilFirstUserAuthentication;
}

// The candidate name of an attempt: the name itself first, then
// "<name without extension> <attempt>[.<extension>]".
std::string candidateName(const std::string& fileName, unsigned attempt) {
    if (attempt <= 1) return fileName;
    const auto dot = fileName.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && dot != 0;
    const std::string stem = hasExtension ? fileName.substr(0, dot) : fileName;
    return fmt::format("{} {}", stem, attempt) + (hasExtension ? fileName.substr(dot) : std::string());
}

// Deletion runs later on a global queue and must not meet a destroyed manager:
// the block holds it. A manager no shared_ptr owns deletes at once instead.
void scheduleDeletion(QLLogFileManagerDefault* manager) {
    std::shared_ptr<QLLogFileManagerDefault> owner = manager->weak_from_this().lock();
    if (!owner) {
        manager->deleteOldLogFiles();
        return;
    }
    platform::DispatchQueue::global(platform::QoS::Default)->async([owner] { owner->deleteOldLogFiles(); });
}

}  // namespace

bool doesAppRunInBackground() {
    const auto modes = platform::Bundle::main().objectForInfoDictionaryKey("UIBackgroundModes");
    const platform::PropertyValue::List* list = modes ? modes->asList() : nullptr;
    if (list == nullptr) return false;
    return std::any_of(list->begin(), list->end(), [](const platform::PropertyValue& mode) {
        const auto text = mode.asString();
        return text && !text->empty();
    });
}

QLLogFileManagerDefault::QLLogFileManagerDefault(std::optional<std::string> logsDirectory)
    : logsDirectory_(logsDirectory && !logsDirectory->empty() ? std::move(*logsDirectory)
                                                              : defaultLogsDirectory()) {}

QLLogFileManagerDefault::QLLogFileManagerDefault(std::optional<std::string> logsDirectory,
                                                 const std::string& defaultFileProtectionLevel)
    : QLLogFileManagerDefault(std::move(logsDirectory)) {
    if (isProtectionClass(defaultFileProtectionLevel))
        defaultFileProtectionLevel_ = defaultFileProtectionLevel;
}

std::string QLLogFileManagerDefault::defaultLogsDirectory() {
    return FileManager::defaultManager().cachesDirectory() + "/Logs";
}

const std::string& QLLogFileManagerDefault::applicationName() {
    static const std::string* name = [] {
        auto identifier = platform::Bundle::main().infoString("CFBundleIdentifier").value_or("");
        if (identifier.empty()) identifier = platform::ProcessInfo::processInfo().processName();
        return new std::string(std::move(identifier));
    }();
    return *name;
}

void QLLogFileManagerDefault::setMaximumNumberOfLogFiles(uint64_t maximumNumberOfLogFiles) {
    if (maximumNumberOfLogFiles_.exchange(maximumNumberOfLogFiles) == maximumNumberOfLogFiles) return;
    deleteOldFilesForConfigurationChange();
}

void QLLogFileManagerDefault::setLogFilesDiskQuota(uint64_t logFilesDiskQuota) {
    if (logFilesDiskQuota_.exchange(logFilesDiskQuota) == logFilesDiskQuota) return;
    deleteOldFilesForConfigurationChange();
}

void QLLogFileManagerDefault::deleteOldFilesForConfigurationChange() {
    scheduleDeletion(this);
}

std::string QLLogFileManagerDefault::logsDirectory() {
    std::vector<std::string> failures;
    std::string folder = logsDirectory(failures);
    failures_.failure(failures);
    return folder;
}

std::string QLLogFileManagerDefault::logsDirectory(std::vector<std::string>& failures) {
    if (logsDirectory_.empty()) {
        platform::assertionFailure("_logsDirectory.length > 0", "QLFileLogger", "Directory must be set.");
        return logsDirectory_;
    }
    auto& files = FileManager::defaultManager();
    if (!files.isDirectory(logsDirectory_)) {
        if (auto error = files.createDirectory(logsDirectory_, true)) {
            failures.push_back("QLFileLogManagerDefault: Error creating logsDirectory: " +
                               error->fullDescription());
        }
    }
    return logsDirectory_;
}

bool QLLogFileManagerDefault::isLogFile(std::string_view fileName) const {
    const std::string& application = applicationName();
    if (fileName.size() < application.size() + 1) return false;
    if (fileName.substr(0, application.size()) != application || fileName[application.size()] != ' ')
        return false;
    return fileName.ends_with(".log");
}

std::vector<std::string> QLLogFileManagerDefault::unsortedLogFilePaths() {
    const std::string folder = logsDirectory();
    std::vector<std::string> paths;
    auto names = FileManager::defaultManager().contentsOfDirectory(folder);
    if (!names) return paths;  // errors are ignored: no files
    for (const auto& name : names.value()) {
        if (isLogFile(name)) paths.push_back(folder + "/" + name);
    }
    return paths;
}

std::vector<std::string> QLLogFileManagerDefault::unsortedLogFileNames() {
    std::vector<std::string> names;
    for (const auto& path : unsortedLogFilePaths()) names.push_back(path.substr(path.find_last_of('/') + 1));
    return names;
}

std::vector<std::shared_ptr<QLLogFileInfo>> QLLogFileManagerDefault::unsortedLogFileInfos() {
    std::vector<std::shared_ptr<QLLogFileInfo>> infos;
    for (auto& path : unsortedLogFilePaths())
        infos.push_back(std::make_shared<QLLogFileInfo>(std::move(path)));
    return infos;
}

std::vector<std::shared_ptr<QLLogFileInfo>> QLLogFileManagerDefault::sortedLogFileInfos() {
    auto infos = unsortedLogFileInfos();
    // Each file's date is worked out once, before sorting: from its name, else
    // its creation date, else one "now" shared by all. Comparing dates that
    // were each resolved anew per comparison (a dateless file counting as
    // "now" on one side and as "equal" on the other) is no strict weak
    // ordering, which std::sort may answer with a crash.
    const platform::Date now = platform::Date::now();
    std::vector<std::pair<platform::Date, std::shared_ptr<QLLogFileInfo>>> dated;
    dated.reserve(infos.size());
    for (auto& info : infos) {
        const std::string& name = info->fileName();
        std::optional<platform::Date> date;
        if (!name.empty()) {
            date = QLLogFileNameDate(name);
            if (!date) date = info->creationDate();
        }
        dated.emplace_back(date.value_or(now), std::move(info));
    }
    std::stable_sort(dated.begin(), dated.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    infos.clear();
    for (auto& entry : dated) infos.push_back(std::move(entry.second));
    return infos;
}

std::vector<std::string> QLLogFileManagerDefault::sortedLogFilePaths() {
    std::vector<std::string> paths;
    for (const auto& info : sortedLogFileInfos()) paths.push_back(info->filePath());
    return paths;
}

std::vector<std::string> QLLogFileManagerDefault::sortedLogFileNames() {
    std::vector<std::string> names;
    for (const auto& info : sortedLogFileInfos()) names.push_back(info->fileName());
    return names;
}

std::string QLLogFileManagerDefault::logFileName(platform::Date date) {
    return fmt::format("{} {}.log", applicationName(), platform::dateformat::gmtFileName(date));
}

std::string QLLogFileManagerDefault::newLogFileName() const {
    return logFileName(platform::Date::now());
}

std::optional<std::string> QLLogFileManagerDefault::logFileHeaderData() const {
    auto header = logFileHeader();
    if (!header || header->empty()) return std::nullopt;
    if (header->back() != '\n') header->push_back('\n');
    return header;
}

std::string QLLogFileManagerDefault::logFileProtection() const {
    if (defaultFileProtectionLevel_) return *defaultFileProtectionLevel_;
    return doesAppRunInBackground() ? kProtectionCompleteUntilFirstUserAuthentication
                                    : kProtectionCompleteUnlessOpen;
}

std::optional<std::string> QLLogFileManagerDefault::createNewLogFileWithError(platform::Error* error) {
    // One failure however many lines it takes, so that an unwritable folder
    // reports its first creation in full and then only in summaries.
    std::vector<std::string> failures;
    const std::string fileName = newLogFileName();
    const std::string folder = logsDirectory(failures);
    const std::string contents = logFileHeaderData().value_or(std::string());

    unsigned attempt = 1;
    long criticalErrors = 0;
    std::optional<platform::Error> lastError;
    for (;;) {
        const std::string path = folder + "/" + candidateName(fileName, attempt);
        // Written atomically and never over an existing file: an atomic replace
        // alone never reports "exists", so a second file created in the same
        // millisecond would silently truncate the first one.
        auto failure = FileManager::defaultManager().writeFile(
            path, contents, platform::WriteOptions::Atomic | platform::WriteOptions::WithoutOverwriting);
        if (!failure) {
            failures_.failure(failures);
            scheduleDeletion(this);
            return path;
        }
        if (failure->isFileExists()) {
            ++attempt;
            continue;
        }
        failures.push_back("QLLogFileManagerDefault: Critical error while creating log file: " +
                           failure->fullDescription());
        ++criticalErrors;
        lastError = std::move(failure);
        if (criticalErrors >= 5) {
            failures.push_back(fmt::format(
                "QLLogFileManagerDefault: Bailing file creation, encountered {} errors.", criticalErrors));
            failures_.failure(failures);
            if (error != nullptr) *error = *lastError;
            return std::nullopt;
        }
    }
}

void QLLogFileManagerDefault::deleteOldLogFiles() {
    auto sorted = sortedLogFileInfos();
    const uint64_t quota = logFilesDiskQuota();
    const uint64_t maximumCount = maximumNumberOfLogFiles();

    std::optional<size_t> firstIndexToDelete;
    if (quota > 0) {
        uint64_t used = 0;
        for (size_t i = 0; i < sorted.size(); ++i) {
            used += sorted[i]->fileSize();
            if (used > quota) {
                firstIndexToDelete = i;
                break;
            }
        }
    }
    if (maximumCount > 0) {
        const auto byCount = static_cast<size_t>(std::min<uint64_t>(maximumCount, SIZE_MAX));
        firstIndexToDelete = firstIndexToDelete ? std::min(*firstIndexToDelete, byCount) : byCount;
    }
    if (!firstIndexToDelete) return;
    // The newest file is the one being written while it is not archived.
    if (*firstIndexToDelete == 0 && !sorted.empty() && !sorted[0]->isArchived()) firstIndexToDelete = 1;

    for (size_t i = *firstIndexToDelete; i < sorted.size(); ++i) {
        if (auto failure = FileManager::defaultManager().removeItem(sorted[i]->filePath())) {
            failures_.failure("QLLogFileManagerDefault: Error deleting file " + failure->fullDescription());
        }
    }
}

}  // namespace tervolo::logging
