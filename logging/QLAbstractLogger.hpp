#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "logging/QLLogFormatter.hpp"
#include "logging/QLLogger.hpp"
#include "platform/dispatch/DispatchQueue.hpp"

namespace tervolo::logging {

// The common base of the framework's loggers: owns the logger's serial queue and
// its optional formatter.
//
// The formatter is read and replaced only on the logger's queue, reached through
// the logging queue (the framework's lock order), so a change never lands in the
// middle of a record's delivery. Subclasses read `logFormatter_` directly inside
// logMessage (they are then on their own queue), never through logFormatter().
class QLAbstractLogger : public QLLogger, public std::enable_shared_from_this<QLAbstractLogger> {
  public:
    // `loggerName` is the name the subclass answers, which also labels the queue
    // (passed in because a base constructor cannot ask the subclass). A subclass
    // without a fixed name passes its class name.
    explicit QLAbstractLogger(std::string loggerName = "QLAbstractLogger");
    ~QLAbstractLogger() override;

    // Does nothing; subclasses write the record.
    void logMessage(const QLLogMessagePtr& logMessage) override;

    // Waits on the logging queue, then on this logger's queue, and returns the
    // formatter. Must not be called from either queue (asserts).
    std::shared_ptr<QLLogFormatter> logFormatter() override;
    // Returns at once; the change is made on this logger's queue, reached
    // through the logging queue. Must not be called from either queue (asserts).
    void setLogFormatter(std::shared_ptr<QLLogFormatter> logFormatter) override;

    std::shared_ptr<platform::DispatchQueue> loggerQueue() const override;
    void setLoggerQueue(std::shared_ptr<platform::DispatchQueue> loggerQueue);
    std::string loggerName() const override { return loggerName_; }

    // True when the caller runs on the registry's logging queue.
    bool isOnGlobalLoggingQueue() const;
    // True when the caller runs on this logger's own queue.
    bool isOnInternalLoggerQueue() const;

  protected:
    // The text to write for a record: the record's own message when there is no
    // formatter, else the formatter's text, kept in `storage` (so the message is
    // not copied when nothing formats it). Empty when the formatter drops the
    // record. Reads `logFormatter_`: call it from logMessage, on this logger's
    // queue.
    std::optional<std::string_view> formattedMessage(const QLLogMessage& logMessage,
                                                     std::optional<std::string>& storage);

    // Touched only on this logger's queue.
    std::shared_ptr<QLLogFormatter> logFormatter_;

  private:
    const std::string loggerName_;
    mutable std::mutex loggerQueueMutex_;  // the queue property may be replaced from any thread
    std::shared_ptr<platform::DispatchQueue> loggerQueue_;
};

}  // namespace tervolo::logging
