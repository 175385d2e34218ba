#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "logging/QLLogFormatter.hpp"
#include "logging/QLLoggingContextSet.hpp"

namespace tervolo::logging {

// Drops a record whose context is on the denylist and passes every other one
// unchanged; an empty denylist passes every record. Any thread may change the
// list while loggers format.
class QLContextDenylistFilterLogFormatter : public QLLogFormatter {
  public:
    void addToDenylist(int64_t loggingContext) { contextSet_.addToSet(loggingContext); }
    void removeFromDenylist(int64_t loggingContext) { contextSet_.removeFromSet(loggingContext); }
    // In no defined order.
    std::vector<int64_t> denylist() const { return contextSet_.currentSet(); }
    bool isOnDenylist(int64_t loggingContext) const { return contextSet_.isInSet(loggingContext); }

    // Older names of the same operations.
    void addToBlacklist(int64_t loggingContext) { addToDenylist(loggingContext); }
    void removeFromBlacklist(int64_t loggingContext) { removeFromDenylist(loggingContext); }
    std::vector<int64_t> blacklist() const { return denylist(); }
    bool isOnBlacklist(int64_t loggingContext) const { return isOnDenylist(loggingContext); }

    std::optional<std::string> formatLogMessage(const QLLogMessage& logMessage) override {
        if (isOnDenylist(logMessage.context())) return std::nullopt;
        return std::string(logMessage.messageText());
    }

  private:
    QLLoggingContextSet contextSet_;
};

}  // namespace tervolo::logging
