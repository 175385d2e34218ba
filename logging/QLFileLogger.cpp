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
      _logFileManager(logFileManager ? std::move(logFileManager)
                                     : std::make_shared<QLLogFileManagerDefault>()),
      _completionQueue(completionQueue ? std::move(completionQueue)
                                       : DispatchQueue::global(platform::QoS::Default)),
      _ownQueue(loggerQueue().get()) {
    _logFormatter = std::make_shared<QLLogFileFormatterDefault>();
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
    return DispatchQueue::current() == _ownQueue;
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
        return _maximumFileSize;
    }
    uint64_t result = 0;
    throughBothQueuesSync([&] { result = _maximumFileSize; });
    return result;
}

void QLFileLogger::setMaximumFileSize(uint64_t maximumFileSize) {
    if (onLoggerQueue()) platform::assertionFailure("!isOnInternalLoggerQueue", kSourceFile, kIvarText);
    throughBothQueuesAsync([this, self = strongSelf(), maximumFileSize] {
        _maximumFileSize = maximumFileSize;
        if (!_currentLogFileHandle && lt_currentLogFileHandle() == nullptr) return;
        lt_maybeRollLogFileDueToSize();
    });
}

double QLFileLogger::rollingFrequency() {
    if (onLoggerQueue()) {
        platform::assertionFailure("!isOnInternalLoggerQueue", kSourceFile, kIvarText);
        return _rollingFrequency;
    }
    double result = 0;
    throughBothQueuesSync([&] { result = _rollingFrequency; });
    return result;
}

void QLFileLogger::setRollingFrequency(double rollingFrequency) {
    if (onLoggerQueue()) platform::assertionFailure("!isOnInternalLoggerQueue", kSourceFile, kIvarText);
    throughBothQueuesAsync([this, self = strongSelf(), rollingFrequency] {
        _rollingFrequency = rollingFrequency;
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
        if (completionBlock) _completionQueue->async(completionBlock);
    };
    if (onLoggerQueue()) {
        work();
    } else {
        throughBothQueuesAsync(std::move(work));
    }
}

void QLFileLogger::logData(std::span<const uint8_t> data) {
    if (onLoggerQueue()) {
        lt_logData(data);
    } else {
        throughBothQueuesSync([&] { lt_logData(data); });
    }
}

void QLFileLogger::logMessage(const QLLogMessagePtr& logMessage) {
    if (!logMessage) return;
    _recordBytes.clear();
    if (lt_appendDataForMessage(*logMessage, _recordBytes) == 0) return;
    lt_logData(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(_recordBytes.data()), _recordBytes.size()));
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
    const bool appendNewline = _automaticallyAppendNewlineForCustomFormatters.load(std::memory_order_relaxed);
    QLLogFormatter* formatter = _logFormatter.get();
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
        if (text->back() != '\n' && (appendNewline || *text == logMessage.message())) out.push_back('\n');
    } else {
        if (logMessage.message().empty()) return 0;
        out.append(logMessage.message());
        if (out.back() != '\n') out.push_back('\n');
    }
    return out.size() - start;
}

void QLFileLogger::lt_logData(std::span<const uint8_t> data) {
    assertOnLoggerQueue(kLogMessageText);
    if (data.empty()) return;
    try {
        willLogMessage(_currentLogFileInfo);
        platform::FileHandle* handle = lt_currentLogFileHandle();
        if (handle == nullptr) {  // no file: the record is lost
            _failures.recordsLost();
            return;
        }
        // The file is open for appending: every write lands at its end, also
        // when another process appends to the same file (no seek to race with).
        if (_partialRecordOpen) {
            // An earlier record was cut short (a full disk): end it first, so
            // this one is not glued to it.
            if (auto error = handle->write(std::string_view("\n"))) {
                _failures.failure("QLFileLogger: Failed to write data: " + error->fullDescription());
                _failures.recordsLost();
                return;
            }
            _partialRecordOpen = false;
        }
        size_t written = 0;
        if (auto error = handle->write(data, &written)) {
            _failures.failure("QLFileLogger: Failed to write data: " + error->fullDescription());
            if (written > 0 && data[written - 1] != '\n' && handle->write(std::string_view("\n"))) {
                _partialRecordOpen = true;
            }
            _failures.recordsLost();
        } else {
            _failures.settle();
        }
        didLogMessage(_currentLogFileInfo);
    } catch (const std::exception& exception) {
        reportWriteException(exception.what());
    } catch (...) {
        reportWriteException("unknown exception");
    }
}

platform::FileHandle* QLFileLogger::lt_currentLogFileHandle() {
    assertOnLoggerQueue(kLtText);
    if (_currentLogFileHandle) return _currentLogFileHandle.get();
    // A chosen file that cannot be opened any more (deleted or renamed before
    // it was first opened) is dropped and a file is chosen or created anew,
    // again while files keep vanishing that way: a record is lost only when no
    // file can be made at all (the folder is not writable).
    for (int attempt = 0; attempt < kOpenAttempts && !_currentLogFileHandle; ++attempt) {
        const auto info = lt_currentLogFileInfo();
        if (!info) return nullptr;
        auto opened = platform::FileHandle::forAppending(info->filePath());
        if (!opened) {
            _failures.failure("QLFileLogger: Failed to open file: " + opened.error().fullDescription());
            _currentLogFileInfo.reset();
            continue;
        }
        _currentLogFileHandle = std::move(opened.value());
        _partialRecordOpen = false;
        // Appends go to the end regardless; the offset serves the size rule.
        if (auto offset = _currentLogFileHandle->seekToEnd(); !offset) {
            _failures.failure("QLFileLogger: Failed to seek to end of file: " +
                              offset.error().fullDescription());
        }
        lt_scheduleTimerToRollLogFileDueToAge();
        lt_monitorCurrentLogFileForExternalChanges();
    }
    return _currentLogFileHandle.get();
}

std::shared_ptr<QLLogFileInfo> QLFileLogger::lt_currentLogFileInfo() {
    assertOnLoggerQueue(kLtText);
    std::shared_ptr<QLLogFileInfo> candidate = _currentLogFileInfo;
    const bool isResuming = candidate == nullptr;
    if (isResuming) {
        auto sorted = _logFileManager->sortedLogFileInfos();
        if (!sorted.empty()) candidate = sorted.front();
    }
    if (candidate && lt_shouldUseLogFile(candidate, isResuming)) {
        _currentLogFileInfo = candidate;
        return _currentLogFileInfo;
    }
    platform::Error error;
    auto path = _logFileManager->createNewLogFileWithError(&error);
    if (!path) _failures.failure("QLFileLogger: Failed to create new log file: " + error.fullDescription());
    _currentLogFileInfo = QLLogFileInfo::logFileWithPath(path);
    return _currentLogFileInfo;
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
        if (_doNotReuseLogFiles.load() || lt_shouldLogFileBeArchived(*logFileInfo)) {
            logFileInfo->setIsArchived(true);
            _completionQueue->async([manager = _logFileManager, path = logFileInfo->filePath()] {
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
    if (_maximumFileSize > 0 && mostRecentLogFileInfo.fileSize() >= _maximumFileSize) return true;
    if (_rollingFrequency > 0 && mostRecentLogFileInfo.age() >= _rollingFrequency) return true;
    // The platform also archives a file carrying a stricter protection class
    // than the one a background application needs. Files here carry no
    // protection class ("none"), so that rule never applies.
    return false;
}

// MARK: - Rolling

void QLFileLogger::lt_maybeRollLogFileDueToSize() {
    assertOnLoggerQueue(kLtText);
    if (!_currentLogFileHandle || _maximumFileSize == 0) return;
    auto offset = _currentLogFileHandle->offset();
    if (!offset) {
        _failures.failure("QLFileLogger: Failed to get offset: " + offset.error().fullDescription());
        return;
    }
    if (offset.value() >= _maximumFileSize) lt_rollLogFileNow();
}

void QLFileLogger::lt_maybeRollLogFileDueToAge() {
    assertOnLoggerQueue(kLtText);
    if (_rollingFrequency > 0 && _currentLogFileInfo && _currentLogFileInfo->age() + 1 >= _rollingFrequency) {
        lt_rollLogFileNow();
    } else {
        lt_scheduleTimerToRollLogFileDueToAge();
    }
}

void QLFileLogger::lt_scheduleTimerToRollLogFileDueToAge() {
    assertOnLoggerQueue(kLtText);
    if (_rollingTimer) {
        _rollingTimer->cancel();
        _rollingTimer.reset();
    }
    if (!_currentLogFileInfo || !(_rollingFrequency > 0)) return;
    // Without a creation date the file has age 0 and never rolls by age; a
    // timer would only fire again and again.
    const auto created = _currentLogFileInfo->creationDate();
    if (!created) return;
    double rollTime = created->secondsSince2001 + _rollingFrequency;
    if (!std::isfinite(rollTime)) rollTime = std::numeric_limits<double>::max();
    double delay = rollTime - platform::Date::now().secondsSince2001;
    if (!(delay > 0)) delay = 0;  // a time in the past fires at once
    if (delay > kMaximumTimerDelay) delay = kMaximumTimerDelay;

    _rollingTimer = platform::DispatchSourceTimer::create(loggerQueue());
    std::weak_ptr<QLAbstractLogger> weak = weak_from_this();
    _rollingTimer->setEventHandler([weak] {
        if (auto self = std::static_pointer_cast<QLFileLogger>(weak.lock()))
            self->lt_maybeRollLogFileDueToAge();
    });
    _rollingTimer->schedule(delay, std::nullopt, 1.0);
    _rollingTimer->activate();
}

void QLFileLogger::lt_monitorCurrentLogFileForExternalChanges() {
    assertOnLoggerQueue(kLtText);
    if (!_currentLogFileHandle) {
        platform::assertionFailure("_currentLogFileHandle", kSourceFile, "Can not monitor without handle.");
        return;
    }
    if (_currentLogFileVnode) _currentLogFileVnode->cancel();
    _currentLogFileVnode = platform::FileWatchSource::create(_currentLogFileHandle->fd(),
                                                             platform::FileWatchSource::Delete |
                                                                 platform::FileWatchSource::Rename |
                                                                 platform::FileWatchSource::Revoke,
                                                             loggerQueue());
    if (!_currentLogFileVnode) return;
    std::weak_ptr<QLAbstractLogger> weak = weak_from_this();
    _currentLogFileVnode->setEventHandler([weak](unsigned) {
        if (auto self = std::static_pointer_cast<QLFileLogger>(weak.lock())) self->lt_rollLogFileNow();
    });
    _currentLogFileVnode->activate();
}

void QLFileLogger::lt_rollLogFileNow() {
    assertOnLoggerQueue(kLtText);
    if (!_currentLogFileHandle) return;
    if (auto error = _currentLogFileHandle->synchronize()) {
        _failures.failure("QLFileLogger: Failed to synchronize file: " + error->fullDescription());
    }
    if (auto error = _currentLogFileHandle->close()) {
        _failures.failure("QLFileLogger: Failed to close file: " + error->fullDescription());
    }
    _currentLogFileHandle.reset();

    if (_currentLogFileInfo) {
        _currentLogFileInfo->setIsArchived(true);
        _completionQueue->async([manager = _logFileManager, path = _currentLogFileInfo->filePath()] {
            manager->didArchiveLogFile(path, true);
        });
    }
    _currentLogFileInfo.reset();
    if (_currentLogFileVnode) {
        _currentLogFileVnode->cancel();
        _currentLogFileVnode.reset();
    }
    if (_rollingTimer) {
        _rollingTimer->cancel();
        _rollingTimer.reset();
    }
}

void QLFileLogger::lt_flush() {
    assertOnLoggerQueue(kFlushText);
    if (!_currentLogFileHandle) return;
    if (auto error = _currentLogFileHandle->synchronize()) {
        _failures.failure("QLFileLogger: Failed to synchronize file: " + error->fullDescription());
    }
}

void QLFileLogger::lt_cleanup() {
    assertOnLoggerQueue(kLtText);
    _failures.flush();
    if (_currentLogFileHandle) {
        if (auto error = _currentLogFileHandle->synchronize()) {
            _failures.failure("QLFileLogger: Failed to synchronize file: " + error->fullDescription());
        }
        if (auto error = _currentLogFileHandle->close()) {
            _failures.failure("QLFileLogger: Failed to close file: " + error->fullDescription());
        }
        _currentLogFileHandle.reset();
    }
    if (_currentLogFileVnode) {
        _currentLogFileVnode->cancel();
        _currentLogFileVnode.reset();
    }
    if (_rollingTimer) {
        _rollingTimer->cancel();
        _rollingTimer.reset();
    }
}

}  // namespace tervolo::logging
