#include "logging/QLAbstractLogger.hpp"

#include "logging/QLLog.hpp"
#include "platform/foundation/Assertion.hpp"

namespace tervolo::logging {

using platform::DispatchQueue;

QLAbstractLogger::QLAbstractLogger(std::string loggerName)
    : loggerName_(std::move(loggerName)), loggerQueue_(DispatchQueue::serial(loggerName_)) {
    // Key and value are the logger itself. The value does not own the logger:
    // the logger owns the queue.
    loggerQueue_->setSpecific(this, std::shared_ptr<void>(std::shared_ptr<void>(), this));
}

QLAbstractLogger::~QLAbstractLogger() {
    // The queue may outlive the logger (whoever else holds it): take the
    // identity away so a later logger at the same address is not mistaken for
    // this one.
    if (const auto queue = loggerQueue()) queue->setSpecific(this, nullptr);
}

void QLAbstractLogger::logMessage(const QLLogMessagePtr& logMessage) {
    (void)logMessage;
}

std::optional<std::string_view> QLAbstractLogger::formattedMessage(const QLLogMessage& logMessage,
                                                                   std::optional<std::string>& storage) {
    if (!logFormatter_) return logMessage.messageText();
    storage = logFormatter_->formatLogMessage(logMessage);
    if (!storage) return std::nullopt;
    return std::string_view(*storage);
}

std::shared_ptr<QLLogFormatter> QLAbstractLogger::logFormatter() {
    // Both queue hops wait, so a caller already on one of the queues would wait
    // on itself. That is a programming error and is reported; the read then
    // takes the part of the path that cannot deadlock.
    if (isOnInternalLoggerQueue()) {
        platform::assertionFailure("!isOnInternalLoggerQueue()", "QLLog",
                                   "MUST access ivar directly, NOT via self.* syntax.");
        return logFormatter_;
    }
    std::shared_ptr<QLLogFormatter> result;
    const auto queue = loggerQueue();
    if (isOnGlobalLoggingQueue()) {
        platform::assertionFailure("!isOnGlobalLoggingQueue()", "QLLog",
                                   "Core architecture requirement failure");
        queue->sync([&] { result = logFormatter_; });
        return result;
    }
    if (QLLog::isInsideWaitedLoggerCall()) {
        // Another logger's delivery: the logging queue waits for the caller.
        platform::assertionFailure("!QLLog::isInsideWaitedLoggerCall()", "QLLog",
                                   "Core architecture requirement failure");
        queue->sync([&] { result = logFormatter_; });
        return result;
    }
    // Logging queue first, then the logger's queue: the framework's lock order,
    // so the read waits for any record being delivered.
    QLLog::loggingQueue()->sync([&] { queue->sync([&] { result = logFormatter_; }); });
    return result;
}

void QLAbstractLogger::setLogFormatter(std::shared_ptr<QLLogFormatter> logFormatter) {
    if (isOnGlobalLoggingQueue()) {
        platform::assertionFailure("!isOnGlobalLoggingQueue()", "QLLog",
                                   "Core architecture requirement failure");
    }
    if (isOnInternalLoggerQueue()) {
        platform::assertionFailure("!isOnInternalLoggerQueue()", "QLLog",
                                   "MUST access ivar directly, NOT via self.* syntax.");
    }
    const auto queue = loggerQueue();
    // The change holds the logger (as the platform's block retains it), so a
    // logger released meanwhile stays alive until the change has run.
    auto change = [this, self = weak_from_this().lock(), logFormatter = std::move(logFormatter)] {
        if (logFormatter == logFormatter_) return;
        if (logFormatter_) logFormatter_->willRemoveFromLogger(*this);
        logFormatter_ = logFormatter;
        if (logFormatter_) logFormatter_->didAddToLogger(*this, loggerQueue());
    };
    if (isOnGlobalLoggingQueue()) {
        // Already in logging-queue order: the hop would only put the change
        // behind the caller.
        queue->async(std::move(change));
        return;
    }
    QLLog::loggingQueue()->async(
        [queue, change = std::move(change)]() mutable { queue->async(std::move(change)); });
}

std::shared_ptr<DispatchQueue> QLAbstractLogger::loggerQueue() const {
    std::lock_guard lock(loggerQueueMutex_);
    return loggerQueue_;
}

void QLAbstractLogger::setLoggerQueue(std::shared_ptr<DispatchQueue> loggerQueue) {
    std::lock_guard lock(loggerQueueMutex_);
    loggerQueue_ = std::move(loggerQueue);
}

bool QLAbstractLogger::isOnGlobalLoggingQueue() const {
    return QLLog::isOnLoggingQueue();
}

bool QLAbstractLogger::isOnInternalLoggerQueue() const {
    return DispatchQueue::getSpecific(this).get() == this;
}

}  // namespace tervolo::logging
