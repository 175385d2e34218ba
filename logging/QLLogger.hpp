#pragma once

#include <memory>
#include <string>

#include "logging/QLLogFormatter.hpp"
#include "logging/QLLogMessage.hpp"
#include "platform/dispatch/DispatchQueue.hpp"

namespace tervolo::logging {

// What the registry (QLLog) can hold. The registry calls every member below
// only on the logger's own queue, one call at a time, except `loggerQueue` and
// `loggerName`, which it reads on the logging queue when the logger is added.
//
// Members that are optional in the protocol have defaults here that behave as
// "not answered": the registry's fallbacks then apply unchanged.
class QLLogger {
  public:
    virtual ~QLLogger() = default;

    virtual void logMessage(const QLLogMessagePtr& logMessage) = 0;
    virtual std::shared_ptr<QLLogFormatter> logFormatter() = 0;
    virtual void setLogFormatter(std::shared_ptr<QLLogFormatter> logFormatter) = 0;

    // After the registry added the logger. The form with the queue is called;
    // its default calls the form without it.
    virtual void didAddLogger() {}
    virtual void didAddLogger(const std::shared_ptr<platform::DispatchQueue>& inQueue) {
        (void)inQueue;
        didAddLogger();
    }
    virtual void willRemoveLogger() {}
    virtual void flush() {}
    // On the logger's queue, after records it was given while more records
    // were queued (QLLog::deliveryTurnContinues()) when the registry has
    // delivered the last record queued so far: collected records are written now.
    virtual void didEndDeliveryTurn() {}
    // The queue the registry must call this logger on; empty lets the registry
    // make a serial queue labelled with `loggerName()`.
    virtual std::shared_ptr<platform::DispatchQueue> loggerQueue() const { return nullptr; }
    virtual std::string loggerName() const { return {}; }
};

}  // namespace tervolo::logging
