#include "logging/QLFileLogger.hpp"

#include <atomic>
#include <cmath>
#include <exception>
#include <limits>
#include <typeinfo>
#include <utility>

#include "logging/QLBufferedProxy.hpp"
#include "logging/QLLog.hpp"
#include "logging/QLLogFileFormatterDefault.hpp"
#include "logging/QLLogFileManagerDefault.hpp"
#include "platform/dispatch/Date.hpp"
#include "platform/foundation/Assertion.hpp"
#include "platform/foundation/Diagnostics.hpp"

namespace tervolo::logging {

using platform::DispatchQueue;

namespace {

constexpr const char* kSourceFile = "QLFileLogger";
constexpr const char* kLtText = "lt_ methods should be on logger queue.";
constexpr const char* kLogMessageText = "logMessage should only be executed on internal queue.";
constexpr const char* kFlushText = "flush should only be executed on internal queue.";
constexpr const char* kArchitectureText = "Core architecture requirement failure";
constexpr const char* kIvarText = "MUST access ivar directly, NOT via self.* syntax.";

// The longest delay the age timer accepts (seconds); the platform's limit.
constexpr double kMaximumTimerDelay = 9223372036.0;

void report(const std::string& line) {
    platform::LineWriter::standardError().writeLine(line);
}

// Exceptions thrown while writing, counted once per process: the first ten
// are reported, later ones are dropped silently.
std::atomic<int> gExceptionCount{0};

void reportWriteException(const char* what) {
    const int count = ++gExceptionCount;
    if (count > 10) return;
    report(std::string("QLFileLogger.logMessage: ") + what);
    if (count == 10) report("QLFileLogger.logMessage: Too many exceptions -- will not log any more of them.");
}

}  // namespace

QLFileLogger::QLFileLogger() : QLFileLogger(std::make_shared<QLLogFileManagerDefault>()) {}

QLFileLogger::QLFileLogger(std::shared_ptr<QLLogFileManager> logFileManager,
                           std::shared_ptr<DispatchQueue> completionQueue)
    : QLAbstractLogger(kLoggerName),
      logFileManager_(logFileManager ? std::move(logFileManager)
                                     : std::make_shared<QLLogFileManagerDefault>()),
      completionQueue_(completionQueue ? std::move(completionQueue)
                                       : DispatchQueue::global(platform::QoS::Default)),
      ownQueue_(loggerQueue().get()) {
    logFormatter_ = std::make_shared<QLLogFileFormatterDefault>();
}

QLFileLogger::~QLFileLogger() {
    // The last owner may let go on the logger's own queue (a timer or watch
    // handler, a queued operation): waiting for the queue there would wait
    // for ourselves.
    if (onLoggerQueue()) {
        lt_cleanup();
    } else {
        loggerQueue()->sync([this] { lt_cleanup(); });
    }
}

// MARK: - Queues

bool QLFileLogger::onLoggerQueue() const {
    return DispatchQueue::current() == ownQueue_;
}

void QLFileLogger::assertOnLoggerQueue(const char* text) const {
    if (!onLoggerQueue()) platform::assertionFailure("isOnInternalLoggerQueue", kSourceFile, text);
}

std::shared_ptr<QLFileLogger> QLFileLogger::strongSelf() {
    return std::static_pointer_cast<QLFileLogger>(weak_from_this().lock());
}

void QLFileLogger::throughBothQueuesSync(const std::function<void()>& work) {
    const auto queue = loggerQueue();
    if (isOnGlobalLoggingQueue() || QLLog::isInsideWaitedLoggerCall()) {
        // Waiting for the logging queue from there would never end.
        platform::assertionFailure("!isOnGlobalLoggingQueue", kSourceFile, kArchitectureText);
        queue->sync(work);
        return;
    }
    QLLog::loggingQueue()->sync([&] { queue->sync(work); });
}

void QLFileLogger::throughBothQueuesAsync(std::function<void()> work) {
    auto queue = loggerQueue();
    if (isOnGlobalLoggingQueue()) {
        platform::assertionFailure("!isOnGlobalLoggingQueue", kSourceFile, kArchitectureText);
        queue->async(std::move(work));
        return;
    }
    QLLog::loggingQueue()->async(
        [queue, work = std::move(work)]() mutable { queue->async(std::move(work)); });
}

// MARK: - Public operations

uint64_t QLFileLogger::maximumFileSize() {
    if (onLoggerQueue()) {
        platform::assertionFailure("!isOnInternalLoggerQueue", kSourceFile, kIvarText);
        return maximumFileSize_;
    }
    uint64_t result = 0;
    throughBothQueuesSync([&] { result = maximumFileSize_; });
    return result;
}

void QLFileLogger::setMaximumFileSize(uint64_t maximumFileSize) {
    if (onLoggerQueue()) platform::assertionFailure("!isOnInternalLoggerQueue", kSourceFile, kIvarText);
    throughBothQueuesAsync([this, self = strongSelf(), maximumFileSize] {
        maximumFileSize_ = maximumFileSize;
        if (!currentLogFileHandle_ && lt_currentLogFileHandle() == nullptr) return;
        lt_maybeRollLogFileDueToSize();
    });
}

double QLFileLogger::rollingFrequency() {
    if (onLoggerQueue()) {
        platform::assertionFailure("!isOnInternalLoggerQueue", kSourceFile, kIvarText);
        return rollingFrequency_;
    }
    double result = 0;
    throughBothQueuesSync([&] { result = rollingFrequency_; });
    return result;
}

void QLFileLogger::setRollingFrequency(double rollingFrequency) {
    if (onLoggerQueue()) platform::assertionFailure("!isOnInternalLoggerQueue", kSourceFile, kIvarText);
    throughBothQueuesAsync([this, self = strongSelf(), rollingFrequency] {
        rollingFrequency_ = rollingFrequency;
        lt_maybeRollLogFileDueToAge();
    });
}

std::shared_ptr<QLLogFileInfo> QLFileLogger::currentLogFileInfo() {
    if (onLoggerQueue()) {
        platform::assertionFailure("!isOnInternalLoggerQueue", kSourceFile, kIvarText);
        return lt_currentLogFileInfo();
    }
    std::shared_ptr<QLLogFileInfo> result;
    throughBothQueuesSync([&] { result = lt_currentLogFileInfo(); });
    return result;
}

void QLFileLogger::rollLogFile() {
    rollLogFileWithCompletionBlock(nullptr);
}

void QLFileLogger::rollLogFileWithCompletionBlock(std::function<void()> completionBlock) {
    auto work = [this, self = strongSelf(), completionBlock = std::move(completionBlock)] {
        lt_rollLogFileNow();
        if (completionBlock) completionQueue_->async(completionBlock);
    };
    if (onLoggerQueue()) {
        work();
    } else {
        throughBothQueuesAsync(std::move(work));
    }
}

void QLFileLogger::logData(std::span<const uint8_t> data) {
    // lt_logData writes the collected records first.
    if (onLoggerQueue()) {
        lt_logData(data);
    } else {
        throughBothQueuesSync([&] { lt_logData(data); });
    }
}

void QLFileLogger::logMessage(const QLLogMessagePtr& logMessage) {
    const bool turnContinues = QLLog::deliveryTurnContinues();
    if (logMessage && lt_appendDataForMessage(*logMessage, collected_) > 0) ++collectedRecords_;
    // Written with the last record of the turn, at the bound, and before the
    // size rule would roll: the file ends at the same record as one write per
    // record would have ended it. Without an open file its size is unknown:
    // the first record opens it.
    if (!turnContinues || !currentLogFileHandle_ || collected_.size() >= kWriteBound ||
        (maximumFileSize_ > 0 && writtenOffset_ + collected_.size() >= maximumFileSize_)) {
        lt_writeCollected();
    }
}

void QLFileLogger::didEndDeliveryTurn() {
    lt_writeCollected();
}

void QLFileLogger::flush() {
    if (onLoggerQueue()) {
        lt_flush();
    } else {
        throughBothQueuesSync([this] { lt_flush(); });
    }
}

void QLFileLogger::willRemoveLogger() {
    lt_rollLogFileNow();
}

void QLFileLogger::willLogMessage(const std::shared_ptr<QLLogFileInfo>& logFileInfo) {
    (void)logFileInfo;
}

void QLFileLogger::didLogMessage(const std::shared_ptr<QLLogFileInfo>& logFileInfo) {
    (void)logFileInfo;
    lt_maybeRollLogFileDueToSize();
}

bool QLFileLogger::shouldArchiveRecentLogFileInfo(QLLogFileInfo& recentLogFileInfo) {
    (void)recentLogFileInfo;
    return false;
}

std::shared_ptr<QLBufferedProxy> QLFileLogger::wrapWithBuffer() {
    return std::make_shared<QLBufferedProxy>(strongSelf());
}

std::shared_ptr<QLFileLogger> QLFileLogger::unwrapFromBuffer() {
    return strongSelf();
}

void QLFileLogger::resetExceptionCountForTesting() {
    gExceptionCount.store(0);
}

// MARK: - Writing

std::optional<std::string> QLFileLogger::lt_dataForMessage(const QLLogMessage& logMessage) {
    std::string bytes;
    if (lt_appendDataForMessage(logMessage, bytes) == 0) return std::nullopt;
    return bytes;
}

size_t QLFileLogger::lt_appendDataForMessage(const QLLogMessage& logMessage, std::string& out) {
    assertOnLoggerQueue(kLogMessageText);
    const size_t start = out.size();
    const bool appendNewline = automaticallyAppendNewlineForCustomFormatters_.load(std::memory_order_relaxed);
    QLLogFormatter* formatter = logFormatter_.get();
    if (formatter != nullptr && typeid(*formatter) == typeid(QLLogFileFormatterDefault)) {
        // The default formatter writes straight into `out`. Its text is never
        // empty (it holds the two blanks) and never the message itself.
        static_cast<QLLogFileFormatterDefault*>(formatter)->appendFormattedLogMessage(logMessage, out);
        if (appendNewline && out.back() != '\n') out.push_back('\n');
        return out.size() - start;
    }
    if (formatter != nullptr) {
        auto text = formatter->formatLogMessage(logMessage);
        if (!text || text->empty()) return 0;
        out.append(*text);
        // A formatter's text that is the message itself stands for "the
        // formatter returned the record's own message object".
        if (text->back() != '\n' && (appendNewline || *text == logMessage.messageText())) out.push_back('\n');
    } else {
        const std::string_view message = logMessage.messageText();
        if (message.empty()) return 0;
        out.append(message);
        if (out.back() != '\n') out.push_back('\n');
    }
    return out.size() - start;
}

void QLFileLogger::lt_logData(std::span<const uint8_t> data) {
    assertOnLoggerQueue(kLogMessageText);
    lt_writeCollected();
    lt_writeBytes(data, 1);
}

void QLFileLogger::lt_writeCollected() {
    if (collected_.empty()) return;
    std::swap(collected_, writing_);
    const uint64_t records = std::exchange(collectedRecords_, 0);
    lt_writeBytes(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(writing_.data()), writing_.size()),
        records);
    writing_.clear();
}

void QLFileLogger::lt_writeBytes(std::span<const uint8_t> data, uint64_t records) {
    if (data.empty()) return;
    try {
        willLogMessage(currentLogFileInfo_);
        platform::FileHandle* handle = lt_currentLogFileHandle();
        if (handle == nullptr) {  // no file: the records are lost
            failures_.recordsLost(records);
            return;
        }
        // The file is open for appending: every write lands at its end, also
        // when another process appends to the same file (no seek to race with).
        if (partialRecordOpen_) {
            // An earlier record was cut short (a full disk): end it first, so
            // this one is not glued to it.
            if (auto error = handle->write(std::string_view("\n"))) {
                failures_.failure("QLFileLogger: Failed to write data: " + error->fullDescription());
                failures_.recordsLost(records);
                return;
            }
            ++writtenOffset_;
            partialRecordOpen_ = false;
        }
        size_t written = 0;
        if (auto error = handle->write(data, &written)) {
            failures_.failure("QLFileLogger: Failed to write data: " + error->fullDescription());
            if (written > 0 && data[written - 1] != '\n') {
                if (handle->write(std::string_view("\n"))) {
                    partialRecordOpen_ = true;
                } else {
                    ++writtenOffset_;
                }
            }
            writtenOffset_ += written;
            failures_.recordsLost(records);
        } else {
            writtenOffset_ += data.size();
            failures_.settle();
        }
        didLogMessage(currentLogFileInfo_);
    } catch (const std::exception& exception) {
        reportWriteException(exception.what());
    } catch (...) {
        reportWriteException("unknown exception");
    }
}

platform::FileHandle* QLFileLogger::lt_currentLogFileHandle() {
    assertOnLoggerQueue(kLtText);
    if (currentLogFileHandle_) return currentLogFileHandle_.get();
    // A chosen file that cannot be opened any more (deleted or renamed before
    // it was first opened) is dropped and a file is chosen or created anew,
    // again while files keep vanishing that way: a record is lost only when no
    // file can be made at all (the folder is not writable).
    for (int attempt = 0; attempt < kOpenAttempts && !currentLogFileHandle_; ++attempt) {
        const auto info = lt_currentLogFileInfo();
        if (!info) return nullptr;
        auto opened = platform::FileHandle::forAppending(info->filePath());
        if (!opened) {
            failures_.failure("QLFileLogger: Failed to open file: " + opened.error().fullDescription());
            currentLogFileInfo_.reset();
            continue;
        }
        currentLogFileHandle_ = std::move(opened.value());
        partialRecordOpen_ = false;
        writtenOffset_ = 0;
        // Appends go to the end regardless; the offset serves the size rule.
        if (auto offset = currentLogFileHandle_->seekToEnd(); !offset) {
            failures_.failure("QLFileLogger: Failed to seek to end of file: " +
                              offset.error().fullDescription());
        } else {
            writtenOffset_ = offset.value();
        }
        lt_scheduleTimerToRollLogFileDueToAge();
        lt_monitorCurrentLogFileForExternalChanges();
    }
    return currentLogFileHandle_.get();
}

std::shared_ptr<QLLogFileInfo> QLFileLogger::lt_currentLogFileInfo() {
    assertOnLoggerQueue(kLtText);
    std::shared_ptr<QLLogFileInfo> candidate = currentLogFileInfo_;
    const bool isResuming = candidate == nullptr;
    if (isResuming) {
        auto sorted = logFileManager_->sortedLogFileInfos();
        if (!sorted.empty()) candidate = sorted.front();
    }
    if (candidate && lt_shouldUseLogFile(candidate, isResuming)) {
        currentLogFileInfo_ = candidate;
        return currentLogFileInfo_;
    }
    platform::Error error;
    auto path = logFileManager_->createNewLogFileWithError(&error);
    if (!path) failures_.failure("QLFileLogger: Failed to create new log file: " + error.fullDescription());
    currentLogFileInfo_ = QLLogFileInfo::logFileWithPath(path);
    return currentLogFileInfo_;
}

bool QLFileLogger::lt_shouldUseLogFile(const std::shared_ptr<QLLogFileInfo>& logFileInfo, bool isResuming) {
    assertOnLoggerQueue(kLtText);
    if (!logFileInfo) {
        platform::assertionFailure("logFileInfo", kSourceFile,
                                   "Invalid parameter not satisfying: logFileInfo");
        return false;
    }
    const bool isArchived = logFileInfo->isArchived();
    if (!isArchived && isResuming) {
        if (doNotReuseLogFiles_.load() || lt_shouldLogFileBeArchived(*logFileInfo)) {
            logFileInfo->setIsArchived(true);
            completionQueue_->async([manager = logFileManager_, path = logFileInfo->filePath()] {
                manager->didArchiveLogFile(path, false);
            });
            return false;
        }
        return true;
    }
    return !isArchived;
}

bool QLFileLogger::lt_shouldLogFileBeArchived(QLLogFileInfo& mostRecentLogFileInfo) {
    assertOnLoggerQueue(kLtText);
    if (shouldArchiveRecentLogFileInfo(mostRecentLogFileInfo)) return true;
    if (maximumFileSize_ > 0 && mostRecentLogFileInfo.fileSize() >= maximumFileSize_) return true;
    if (rollingFrequency_ > 0 && mostRecentLogFileInfo.age() >= rollingFrequency_) return true;
    // The platform also archives a file carrying a stricter protection class
    // than the one a background application needs. Files here carry no
    // protection class ("none"), so that rule never applies.
    return false;
}

// MARK: - Rolling

void QLFileLogger::lt_maybeRollLogFileDueToSize() {
    assertOnLoggerQueue(kLtText);
    if (!currentLogFileHandle_ || maximumFileSize_ == 0) return;
    auto offset = currentLogFileHandle_->offset();
    if (!offset) {
        failures_.failure("QLFileLogger: Failed to get offset: " + offset.error().fullDescription());
        return;
    }
    // The file's real size: another writer may have appended to it too.
    writtenOffset_ = offset.value();
    if (offset.value() >= maximumFileSize_) lt_rollLogFileNow();
}

void QLFileLogger::lt_maybeRollLogFileDueToAge() {
    assertOnLoggerQueue(kLtText);
    if (rollingFrequency_ > 0 && currentLogFileInfo_ && currentLogFileInfo_->age() + 1 >= rollingFrequency_) {
        lt_rollLogFileNow();
    } else {
        lt_scheduleTimerToRollLogFileDueToAge();
    }
}

void QLFileLogger::lt_scheduleTimerToRollLogFileDueToAge() {
    assertOnLoggerQueue(kLtText);
    if (rollingTimer_) {
        rollingTimer_->cancel();
        rollingTimer_.reset();
    }
    if (!currentLogFileInfo_ || !(rollingFrequency_ > 0)) return;
    // Without a creation date the file has age 0 and never rolls by age; a
    // timer would only fire again and again.
    const auto created = currentLogFileInfo_->creationDate();
    if (!created) return;
    double rollTime = created->secondsSince2001 + rollingFrequency_;
    if (!std::isfinite(rollTime)) rollTime = std::numeric_limits<double>::max();
    double delay = rollTime - platform::Date::now().secondsSince2001;
    if (!(delay > 0)) delay = 0;  // a time in the past fires at once
    if (delay > kMaximumTimerDelay) delay = kMaximumTimerDelay;

    rollingTimer_ = platform::DispatchSourceTimer::make(loggerQueue());
    std::weak_ptr<QLAbstractLogger> weak = weak_from_this();
    rollingTimer_->setEventHandler([weak] {
        if (auto self = std::static_pointer_cast<QLFileLogger>(weak.lock()))
            self->lt_maybeRollLogFileDueToAge();
    });
    rollingTimer_->schedule(delay, std::nullopt, 1.0);
    rollingTimer_->activate();
}

void QLFileLogger::lt_monitorCurrentLogFileForExternalChanges() {
    assertOnLoggerQueue(kLtText);
    if (!currentLogFileHandle_) {
        platform::assertionFailure("_currentLogFileHandle", kSourceFile, "Can not monitor without handle.");
        return;
    }
    if (currentLogFileVnode_) currentLogFileVnode_->cancel();
    currentLogFileVnode_ = platform::FileWatchSource::make(currentLogFileHandle_->fd(),
                                                           platform::FileWatchSource::Delete |
                                                               platform::FileWatchSource::Rename |
                                                               platform::FileWatchSource::Revoke,
                                                           loggerQueue());
    if (!currentLogFileVnode_) return;
    std::weak_ptr<QLAbstractLogger> weak = weak_from_this();
    currentLogFileVnode_->setEventHandler([weak](unsigned) {
        if (auto self = std::static_pointer_cast<QLFileLogger>(weak.lock())) self->lt_rollLogFileNow();
    });
    currentLogFileVnode_->activate();
}

void QLFileLogger::lt_rollLogFileNow() {
    assertOnLoggerQueue(kLtText);
    // Collected records belong to the file being closed.
    lt_writeCollected();
    if (!currentLogFileHandle_) return;
    if (auto error = currentLogFileHandle_->synchronize()) {
        failures_.failure("QLFileLogger: Failed to synchronize file: " + error->fullDescription());
    }
    if (auto error = currentLogFileHandle_->close()) {
        failures_.failure("QLFileLogger: Failed to close file: " + error->fullDescription());
    }
    currentLogFileHandle_.reset();

    if (currentLogFileInfo_) {
        currentLogFileInfo_->setIsArchived(true);
        completionQueue_->async([manager = logFileManager_, path = currentLogFileInfo_->filePath()] {
            manager->didArchiveLogFile(path, true);
        });
    }
    currentLogFileInfo_.reset();
    if (currentLogFileVnode_) {
        currentLogFileVnode_->cancel();
        currentLogFileVnode_.reset();
    }
    if (rollingTimer_) {
        rollingTimer_->cancel();
        rollingTimer_.reset();
    }
}

void QLFileLogger::lt_flush() {
    assertOnLoggerQueue(kFlushText);
    lt_writeCollected();
    if (!currentLogFileHandle_) return;
    if (auto error = currentLogFileHandle_->synchronize()) {
        failures_.failure("QLFileLogger: Failed to synchronize file: " + error->fullDescription());
    }
}

void QLFileLogger::lt_cleanup() {
    assertOnLoggerQueue(kLtText);
    lt_writeCollected();
    failures_.flush();
    if (currentLogFileHandle_) {
        if (auto error = currentLogFileHandle_->synchronize()) {
            failures_.failure("QLFileLogger: Failed to synchronize file: " + error->fullDescription());
        }
        if (auto error = currentLogFileHandle_->close()) {
            failures_.failure("QLFileLogger: Failed to close file: " + error->fullDescription());
        }
        currentLogFileHandle_.reset();
    }
    if (currentLogFileVnode_) {
        currentLogFileVnode_->cancel();
        currentLogFileVnode_.reset();
    }
    if (rollingTimer_) {
        rollingTimer_->cancel();
        rollingTimer_.reset();
    }
}

}  // namespace tervolo::logging
