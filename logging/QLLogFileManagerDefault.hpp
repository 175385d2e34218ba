#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "logging/FailureReport.hpp"
#include "logging/QLLogFileManager.hpp"
#include "platform/dispatch/Date.hpp"

namespace tervolo::logging {

// The default file manager: log files "<application name> yyyy-MM-dd--HH-mm-ss-SSS.log"
// (GMT) in "<caches folder>/Logs", at most 5 files and 20 MiB by default.
//
// The manager holds only its settings; the folder is read afresh on every
// query. Old files are deleted on the global queue of default priority after
// each created file and after each changed limit, concurrently with the file
// logger's writes (holding the manager while they run), which is why the newest unarchived file (the one
// being written) is always spared. Queries may run on any thread; the two limits are atomics because the
// deletions read them on another thread.
class QLLogFileManagerDefault : public QLLogFileManager,
                                public std::enable_shared_from_this<QLLogFileManagerDefault> {
  public:
    // The platform's four file protection classes. Linux has no protection
    // classes: the choice is kept and reported, nothing else.
    static constexpr const char* kProtectionNone = "NSFileProtectionNone";
    static constexpr const char* kProtectionComplete = "NSFileProtectionComplete";
    static constexpr const char* kProtectionCompleteUnlessOpen = "NSFileProtectionCompleteUnlessOpen";
    static constexpr const char* kProtectionCompleteUntilFirstUserAuthentication =
        "NSFileProtectionCompleteUntilFirstUserAuthentication";

    static constexpr uint64_t kDefaultMaximumNumberOfLogFiles = 5;
    static constexpr uint64_t kDefaultLogFilesDiskQuota = 20971520;  // 20 MiB

    // An empty folder means defaultLogsDirectory().
    explicit QLLogFileManagerDefault(std::optional<std::string> logsDirectory = std::nullopt);
    // Keeps the protection class only when it is one of the four above.
    QLLogFileManagerDefault(std::optional<std::string> logsDirectory,
                            const std::string& defaultFileProtectionLevel);

    // "<caches folder>/Logs".
    static std::string defaultLogsDirectory();
    // The information value "CFBundleIdentifier", else the process name, else
    // "" (worked out once per process).
    static const std::string& applicationName();

    std::optional<std::string> createNewLogFileWithError(platform::Error* error) override;
    using QLLogFileManager::createNewLogFile;

    uint64_t maximumNumberOfLogFiles() const override { return maximumNumberOfLogFiles_.load(); }
    // A changed value is stored and old files are deleted on the global queue;
    // an unchanged value does nothing.
    void setMaximumNumberOfLogFiles(uint64_t maximumNumberOfLogFiles) override;
    uint64_t logFilesDiskQuota() const override { return logFilesDiskQuota_.load(); }
    void setLogFilesDiskQuota(uint64_t logFilesDiskQuota) override;

    // Creates the folder (with intermediate folders) when missing.
    std::string logsDirectory() override;
    // "<application name> " + anything + ".log".
    bool isLogFile(std::string_view fileName) const;

    std::vector<std::string> unsortedLogFilePaths() override;
    std::vector<std::string> unsortedLogFileNames() override;
    std::vector<std::shared_ptr<QLLogFileInfo>> unsortedLogFileInfos() override;
    std::vector<std::string> sortedLogFilePaths() override;
    std::vector<std::string> sortedLogFileNames() override;
    std::vector<std::shared_ptr<QLLogFileInfo>> sortedLogFileInfos() override;

    // A name by the naming rule for the current time.
    std::string newLogFileName() const;
    // The file name for a date ("<application name> <GMT date>.log").
    static std::string logFileName(platform::Date date);
    // Header text of every new file; none by default (subclasses may give one).
    virtual std::optional<std::string> logFileHeader() const { return std::nullopt; }
    // The header as bytes, "\n" appended when missing; empty without a header.
    std::optional<std::string> logFileHeaderData() const;

    // The kept protection class; else complete until first user
    // authentication when the application declares background modes, else
    // complete unless open.
    std::string logFileProtection() const;

    // Deletes files beyond the count limit and from the first file at which
    // the running total of sizes (newest first) exceeds the quota; the newest
    // file is spared while it is not archived.
    void deleteOldLogFiles();
    // deleteOldLogFiles, asynchronously on the global queue of default priority.
    void deleteOldFilesForConfigurationChange();

  private:
    // Adds the line of a folder that cannot be made to `failures`.
    std::string logsDirectory(std::vector<std::string>& failures);

    // Failures on standard error: the first in full, then at most one summary
    // line per ten seconds (an unwritable folder fails every record).
    FailureReport failures_{"QLLogFileManagerDefault"};
    std::atomic<uint64_t> maximumNumberOfLogFiles_{kDefaultMaximumNumberOfLogFiles};
    std::atomic<uint64_t> logFilesDiskQuota_{kDefaultLogFilesDiskQuota};
    const std::string logsDirectory_;
    std::optional<std::string> defaultFileProtectionLevel_;
};

// True when the information value "UIBackgroundModes" is a list holding at
// least one non-empty text.
bool doesAppRunInBackground();

}  // namespace tervolo::logging
