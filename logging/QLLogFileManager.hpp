#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "logging/QLLogFileInfo.hpp"
#include "platform/foundation/Error.hpp"

namespace tervolo::logging {

// What a file logger leaves to its file manager: where the folder is, how new
// files are named, which files in it are log files, their order, and which
// old files are deleted.
//
// The optional notifications of the protocol have defaults that behave as
// "not answered"; the file logger calls the two-argument form, whose default
// calls didArchiveLogFile(path) for a file archived at start and
// didRollAndArchiveLogFile(path) for a rolled one.
class QLLogFileManager {
  public:
    virtual ~QLLogFileManager() = default;

    // Creates a new log file; its path, or empty with `error` (when given) set.
    virtual std::optional<std::string> createNewLogFileWithError(platform::Error* error) = 0;
    // The older form without an error.
    virtual std::optional<std::string> createNewLogFile() { return createNewLogFileWithError(nullptr); }

    // 0 means no limit.
    virtual uint64_t maximumNumberOfLogFiles() const = 0;
    virtual void setMaximumNumberOfLogFiles(uint64_t maximumNumberOfLogFiles) = 0;
    // Bytes; 0 means no limit.
    virtual uint64_t logFilesDiskQuota() const = 0;
    virtual void setLogFilesDiskQuota(uint64_t logFilesDiskQuota) = 0;

    virtual std::string logsDirectory() = 0;
    virtual std::vector<std::string> unsortedLogFilePaths() = 0;
    virtual std::vector<std::string> unsortedLogFileNames() = 0;
    virtual std::vector<std::shared_ptr<QLLogFileInfo>> unsortedLogFileInfos() = 0;
    // Newest first.
    virtual std::vector<std::string> sortedLogFilePaths() = 0;
    virtual std::vector<std::string> sortedLogFileNames() = 0;
    virtual std::vector<std::shared_ptr<QLLogFileInfo>> sortedLogFileInfos() = 0;

    // Called on the file logger's completion queue after a file was archived:
    // rolled by the logger (`wasRolled`) or found at start and not continued.
    virtual void didArchiveLogFile(const std::string& logFilePath, bool wasRolled) {
        if (wasRolled) {
            didRollAndArchiveLogFile(logFilePath);
        } else {
            didArchiveLogFile(logFilePath);
        }
    }
    virtual void didArchiveLogFile(const std::string& logFilePath) { (void)logFilePath; }
    virtual void didRollAndArchiveLogFile(const std::string& logFilePath) { (void)logFilePath; }
};

}  // namespace tervolo::logging
