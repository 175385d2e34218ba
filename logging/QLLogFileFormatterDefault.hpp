#pragma once

#include <functional>
#include <optional>
#include <string>

#include "logging/QLLogFormatter.hpp"
#include "platform/dispatch/Date.hpp"

namespace tervolo::logging {

// The default formatter of a file logger: the record's timestamp, two blanks
// and the message ("2024/01/31 13:45:07:123  ok"). No newline: the file logger
// adds it.
class QLLogFileFormatterDefault : public QLLogFormatter {
  public:
    using DateFormatter = std::function<std::string(platform::Date)>;

    // Without a date formatter: GMT "yyyy/MM/dd HH:mm:ss:SSS" (milliseconds truncated).
    explicit QLLogFileFormatterDefault(DateFormatter dateFormatter = nullptr);

    std::optional<std::string> formatLogMessage(const QLLogMessage& logMessage) override;
    // The same text appended to `out` (the file logger's path without a
    // string per record).
    void appendFormattedLogMessage(const QLLogMessage& logMessage, std::string& out);

  private:
    DateFormatter dateFormatter_;  // empty: the default GMT form
};

}  // namespace tervolo::logging
