#pragma once

#include <memory>
#include <optional>
#include <string>

#include "logging/QLLogMessage.hpp"
#include "platform/dispatch/DispatchQueue.hpp"

namespace tervolo::logging {

class QLLogger;

// Turns a record into the text a logger writes. Called only on the queue of
// the logger that owns the formatter.
class QLLogFormatter {
  public:
    virtual ~QLLogFormatter() = default;

    // The text to write, or an empty optional to drop the record for this logger.
    virtual std::optional<std::string> formatLogMessage(const QLLogMessage& logMessage) = 0;

    // Optional notifications; the defaults do nothing. A logger calls the form
    // with the queue, whose default calls the form without it, so a formatter
    // overrides whichever it needs.
    virtual void didAddToLogger(QLLogger& logger) { (void)logger; }
    virtual void didAddToLogger(QLLogger& logger, const std::shared_ptr<platform::DispatchQueue>& inQueue) {
        (void)inQueue;
        didAddToLogger(logger);
    }
    virtual void willRemoveFromLogger(QLLogger& logger) { (void)logger; }
};

}  // namespace tervolo::logging
