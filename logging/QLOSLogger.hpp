#pragma once

#include <memory>
#include <optional>
#include <string>

#include "logging/QLAbstractLogger.hpp"
#include "platform/foundation/OSLog.hpp"

namespace tervolo::logging {

// Writes each record to the unified system log (platform::OSLog). The only
// logger the application installs, so every log line of the program ends here.
//
// Entry type by the record's flag value (equality, not a bit test): error →
// error; warning and info → info; anything else (debug, verbose, combined
// flags) → debug. The text is always written as data, never redacted.
class QLOSLogger : public QLAbstractLogger {
  public:
    // Created once, writes to the default system log; never destroyed.
    static const std::shared_ptr<QLOSLogger>& sharedInstance();

    // Subsystem and category: both or neither. With only one given an assertion
    // fails and the logger writes to the default system log.
    QLOSLogger(std::optional<std::string> subsystem, std::optional<std::string> category);
    QLOSLogger() : QLOSLogger(std::nullopt, std::nullopt) {}

    void logMessage(const QLLogMessagePtr& logMessage) override;

    const std::optional<std::string>& subsystem() const { return subsystem_; }
    const std::optional<std::string>& category() const { return category_; }

    // The system-log object, made by getLogger() on first use.
    std::shared_ptr<platform::OSLog> logger();
    void setLogger(std::shared_ptr<platform::OSLog> logger);

    // For subsystem and category when both are set, else the default system log.
    std::shared_ptr<platform::OSLog> getLogger() const;

    static constexpr const char* kLoggerName = "quova.logging.osLogger";

  private:
    const std::optional<std::string> subsystem_;
    const std::optional<std::string> category_;
    std::mutex loggerMutex_;  // `logger` may be read and replaced from any thread
    std::shared_ptr<platform::OSLog> logger_;
};

}  // namespace tervolo::logging
