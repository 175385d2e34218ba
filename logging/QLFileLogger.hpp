#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "logging/FailureReport.hpp"
#include "logging/QLAbstractLogger.hpp"
#include "logging/QLLogFileInfo.hpp"
#include "logging/QLLogFileManager.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/DispatchSourceTimer.hpp"
#include "platform/foundation/FileHandle.hpp"
#include "platform/foundation/FileWatchSource.hpp"

namespace tervolo::logging {

class QLBufferedProxy;

// Writes records to plain text files and rolls to a new file when the current
// one grows too large (1 MiB), grows too old (one day), is deleted or renamed
// by someone else, or when asked. The file manager owns the folder, names and
// clean-up; the logger owns the current file, its handle, the age timer and
// the file watch.
//
// All file work runs on the logger's serial queue; the age timer and the file
// watch deliver onto it and hold the logger weakly. Public accessors pass
// through the registry's logging queue and then the logger's queue (the
// framework's lock order), so they never overtake records already queued.
// Roll completions and manager notifications run on the completion queue.
// Files are opened for appending, so several loggers (or processes, when a
// second instance resumes the first one's file) append to one file without
// losing each other's records. A record cut short by a full disk is ended
// with a newline (at the latest before the next record). The logger's own
// failures go to standard error, the first one in full and then at most one
// summary line per ten seconds; a record that cannot be written is lost and
// counted. Records the registry delivers while more are queued behind them
// are collected and written with one write when the registry's turn ends
// (QLLogger::didEndDeliveryTurn), at kWriteBound bytes, when the size rule
// would roll after them, and before a roll, flush, removal, public write or
// close; everything else writes at once. Always held by std::shared_ptr.
class QLFileLogger : public QLAbstractLogger {
  public:
    static constexpr const char* kLoggerName = "quova.logging.fileLogger";
    static constexpr uint64_t kDefaultMaximumFileSize = 1048576;  // bytes
    static constexpr double kDefaultRollingFrequency = 86400;     // seconds
    // The most collected bytes written in one call.
    static constexpr size_t kWriteBound = 65536;

    // With a new QLLogFileManagerDefault.
    QLFileLogger();
    // A null completion queue means the global queue of default priority.
    explicit QLFileLogger(std::shared_ptr<QLLogFileManager> logFileManager,
                          std::shared_ptr<platform::DispatchQueue> completionQueue = nullptr);
    // Synchronises and closes the file on the logger's queue; no roll, no archive mark.
    ~QLFileLogger() override;

    // Bytes; 0: never roll by size. The setter opens the current file when
    // none is open and rolls when it is already that large.
    uint64_t maximumFileSize();
    void setMaximumFileSize(uint64_t maximumFileSize);
    // Seconds; 0 or less: never roll by age.
    double rollingFrequency();
    void setRollingFrequency(double rollingFrequency);
    // The file being written (chosen or created when there is none yet).
    std::shared_ptr<QLLogFileInfo> currentLogFileInfo();

    void rollLogFile();
    // Closes and archives the current file; then `completionBlock` runs once on
    // the completion queue. Asynchronous unless called on the logger's queue.
    void rollLogFileWithCompletionBlock(std::function<void()> completionBlock);
    // Writes bytes as they are (no formatting), waiting for the write.
    void logData(std::span<const uint8_t> data);

    // QLLogger
    void logMessage(const QLLogMessagePtr& logMessage) override;
    void flush() override;
    void willRemoveLogger() override;
    void didEndDeliveryTurn() override;

    // Hooks for subclasses, called on the logger's queue around each write
    // with the current file (empty before the first file is chosen); the
    // default after-hook rolls by size.
    virtual void willLogMessage(const std::shared_ptr<QLLogFileInfo>& logFileInfo);
    virtual void didLogMessage(const std::shared_ptr<QLLogFileInfo>& logFileInfo);
    // Whether a file found at start must be archived instead of continued; no by default.
    virtual bool shouldArchiveRecentLogFileInfo(QLLogFileInfo& recentLogFileInfo);

    bool doNotReuseLogFiles() const { return doNotReuseLogFiles_.load(); }
    void setDoNotReuseLogFiles(bool value) { doNotReuseLogFiles_.store(value); }
    bool automaticallyAppendNewlineForCustomFormatters() const {
        return automaticallyAppendNewlineForCustomFormatters_.load();
    }
    void setAutomaticallyAppendNewlineForCustomFormatters(bool value) {
        automaticallyAppendNewlineForCustomFormatters_.store(value);
    }
    const std::shared_ptr<QLLogFileManager>& logFileManager() const { return logFileManager_; }
    const std::shared_ptr<platform::DispatchQueue>& completionQueue() const { return completionQueue_; }

    // A buffering proxy in front of this logger; unwrapFromBuffer is the logger itself.
    std::shared_ptr<QLBufferedProxy> wrapWithBuffer();
    std::shared_ptr<QLFileLogger> unwrapFromBuffer();

    // Work on the logger's queue only (asserts). Public for the buffering proxy.
    // The bytes of a record: the formatter's text (or the message), "\n"
    // appended by the newline rules; empty optional: nothing to write.
    std::optional<std::string> lt_dataForMessage(const QLLogMessage& logMessage);
    // The same bytes appended to `out`; returns how many (0: nothing to write).
    size_t lt_appendDataForMessage(const QLLogMessage& logMessage, std::string& out);
    void lt_logData(std::span<const uint8_t> data);

    // Exceptions thrown while writing are counted once per process (the first
    // ten are reported); tests start the count again.
    static void resetExceptionCountForTesting();

  protected:
    // Work on the logger's queue (each asserts it).
    platform::FileHandle* lt_currentLogFileHandle();
    std::shared_ptr<QLLogFileInfo> lt_currentLogFileInfo();
    bool lt_shouldUseLogFile(const std::shared_ptr<QLLogFileInfo>& logFileInfo, bool isResuming);
    bool lt_shouldLogFileBeArchived(QLLogFileInfo& mostRecentLogFileInfo);
    void lt_maybeRollLogFileDueToSize();
    void lt_maybeRollLogFileDueToAge();
    void lt_scheduleTimerToRollLogFileDueToAge();
    void lt_monitorCurrentLogFileForExternalChanges();
    void lt_rollLogFileNow();
    void lt_flush();
    void lt_cleanup();

  private:
    // Writes the collected records (one call); a no-op when there are none.
    void lt_writeCollected();
    // One write of `data`, with the hooks, the size rule and failure accounting
    // (`records`: how many records are lost when it fails).
    void lt_writeBytes(std::span<const uint8_t> data, uint64_t records);
    bool onLoggerQueue() const;
    void assertOnLoggerQueue(const char* text) const;
    // The framework's path for public operations: logging queue, then the
    // logger's queue. Misuse from the logging queue (or from a delivery the
    // registry waits for) is reported and only the logger's queue is used.
    void throughBothQueuesSync(const std::function<void()>& work);
    void throughBothQueuesAsync(std::function<void()> work);
    std::shared_ptr<QLFileLogger> strongSelf();

    const std::shared_ptr<QLLogFileManager> logFileManager_;
    std::shared_ptr<QLLogFileInfo> currentLogFileInfo_;
    std::unique_ptr<platform::FileHandle> currentLogFileHandle_;
    std::shared_ptr<platform::FileWatchSource> currentLogFileVnode_;
    double rollingFrequency_ = kDefaultRollingFrequency;
    std::shared_ptr<platform::DispatchSourceTimer> rollingTimer_;
    uint64_t maximumFileSize_ = kDefaultMaximumFileSize;
    const std::shared_ptr<platform::DispatchQueue> completionQueue_;
    std::atomic<bool> doNotReuseLogFiles_{false};
    std::atomic<bool> automaticallyAppendNewlineForCustomFormatters_{true};
    // The queue created with the logger: its identity is what "on the logger's
    // queue" means (a cheap pointer test on every write).
    const platform::DispatchQueue* const ownQueue_;
    // Records delivered in the registry's current turn, not written yet, and
    // how many; `writing_` holds them during their write (a roll from the
    // size rule then finds nothing collected). Both keep their storage.
    std::string collected_;
    uint64_t collectedRecords_ = 0;
    std::string writing_;
    // The current file's size as far as this logger wrote it (the size rule
    // decides with it whether the collected bytes must be written before the
    // next record).
    uint64_t writtenOffset_ = 0;
    // Failures of this logger on standard error, limited so that a full disk
    // reports once and then a summary at most every ten seconds.
    FailureReport failures_{"QLFileLogger"};
    // The last write stopped inside a record and its newline could not be
    // added: the next write starts with one.
    bool partialRecordOpen_ = false;
    // Files chosen and found gone before they were opened, per record.
    static constexpr int kOpenAttempts = 10;
};

}  // namespace tervolo::logging
