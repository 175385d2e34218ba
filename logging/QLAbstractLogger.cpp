#include "logging/QLAbstractLogger.hpp"

#include "logging/QLLog.hpp"
#include "platform/foundation/Assertion.hpp"

namespace tervolo::logging {

using platform::DispatchQueue;

QLAbstractLogger::QLAbstractLogger(std::string loggerName)
    : _loggerName(std::move(loggerName)), _loggerQueue(DispatchQueue::serial(_loggerName)) {
    // Key and value are the logger itself. The value does not own the logger:
    // the logger owns the queue.
    _loggerQueue->setSpecific(this, std::shared_ptr<void>(std::shared_ptr<void>(), this));
}

QLAbstractLogger::~QLAbstractLogger() = default;

void QLAbstractLogger::logMessage(const QLLogMessagePtr& logMessage) {
    (void)logMessage;
}

void QLAbstractLogger::assertNotOnLoggingQueues(const char* caller) const {
    // Both would wait on a queue the caller already holds.
    if (isOnGlobalLoggingQueue()) {
        platform::assertionFailure(caller, "QLLog", "Core architecture requirement failure");
    }
    if (isOnInternalLoggerQueue()) {
        platform::assertionFailure(caller, "QLLog", "MUST access ivar directly, NOT via self.* syntax.");
    }
}

std::shared_ptr<QLLogFormatter> QLAbstractLogger::logFormatter() {
    assertNotOnLoggingQueues("logFormatter");
    std::shared_ptr<QLLogFormatter> result;
    const auto queue = loggerQueue();
    QLLog::loggingQueue()->sync([&] { queue->sync([&] { result = _logFormatter; }); });
    return result;
}

void QLAbstractLogger::setLogFormatter(std::shared_ptr<QLLogFormatter> logFormatter) {
    assertNotOnLoggingQueues("setLogFormatter");
    const auto queue = loggerQueue();
    // The change holds the logger (as the platform's block retains it) so a
    // logger released meanwhile stays alive until the change has run.
    auto self = weak_from_this().lock();
    QLLog::loggingQueue()->async([this, self, queue, logFormatter = std::move(logFormatter)]() mutable {
        queue->async([this, self = std::move(self), logFormatter = std::move(logFormatter)] {
            if (logFormatter == _logFormatter) return;
            if (_logFormatter) _logFormatter->willRemoveFromLogger(*this);
            _logFormatter = logFormatter;
            if (_logFormatter) _logFormatter->didAddToLogger(*this, loggerQueue());
        });
    });
}

std::shared_ptr<DispatchQueue> QLAbstractLogger::loggerQueue() const {
    std::lock_guard lock(_loggerQueueMutex);
    return _loggerQueue;
}

void QLAbstractLogger::setLoggerQueue(std::shared_ptr<DispatchQueue> loggerQueue) {
    std::lock_guard lock(_loggerQueueMutex);
    _loggerQueue = std::move(loggerQueue);
}

bool QLAbstractLogger::isOnGlobalLoggingQueue() const {
    return QLLog::isOnLoggingQueue();
}

bool QLAbstractLogger::isOnInternalLoggerQueue() const {
    return DispatchQueue::getSpecific(this).get() == this;
}

}  // namespace tervolo::logging
