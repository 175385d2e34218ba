#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "logging/QLLogFormatter.hpp"
#include "logging/QLLoggingContextSet.hpp"

namespace tervolo::logging {

// Passes a record unchanged when its context is on the allowlist and drops it
// otherwise; an empty allowlist drops every record. Any thread may change the
// list while loggers format.
class QLContextAllowlistFilterLogFormatter : public QLLogFormatter {
  public:
    void addToAllowlist(int64_t loggingContext) { contextSet_.addToSet(loggingContext); }
    void removeFromAllowlist(int64_t loggingContext) { contextSet_.removeFromSet(loggingContext); }
    // In no defined order.
    std::vector<int64_t> allowlist() const { return contextSet_.currentSet(); }
    bool isOnAllowlist(int64_t loggingContext) const { return contextSet_.isInSet(loggingContext); }

    // Older names of the same operations.
    void addToWhitelist(int64_t loggingContext) { addToAllowlist(loggingContext); }
    void removeFromWhitelist(int64_t loggingContext) { removeFromAllowlist(loggingContext); }
    std::vector<int64_t> whitelist() const { return allowlist(); }
    bool isOnWhitelist(int64_t loggingContext) const { return isOnAllowlist(loggingContext); }

    std::optional<std::string> formatLogMessage(const QLLogMessage& logMessage) override {
        if (isOnAllowlist(logMessage.context())) return std::string(logMessage.messageText());
        return std::nullopt;
    }

  private:
    QLLoggingContextSet contextSet_;
};

}  // namespace tervolo::logging
