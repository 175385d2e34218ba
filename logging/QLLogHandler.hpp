#pragma once

#include <memory>
#include <optional>
#include <string>

#include "logging/LogHandler.hpp"
#include "logging/LoggerLevel.hpp"
#include "logging/QLLog.hpp"

namespace tervolo::logging {

// The LogHandler that connects the Logger front end to a logger registry
// (QLLog): each call becomes a FacadeMessage record sent to the registry,
// synchronously for severe levels or when the call's metadata asks for it.
//
// A value: each Logger holds its own copy, so its level and metadata are its
// own; copies share the registry, which serialises the records.
class QLLogHandler final : public LogHandler {
  public:
    struct Configuration {
        struct SyncLogging {
            // Calls at this level or above are synchronous (the name keeps
            // the platform's spelling).
            LoggerLevel tresholdLevel = LoggerLevel::error;
            // The metadata key whose Boolean value true makes a call synchronous.
            std::string metadataKey;
        };
        // The registry that receives the records; held strongly.
        std::shared_ptr<QLLog> log;
        SyncLogging syncLogging;
    };
    struct LoggerInfo {
        std::string label;
        LoggerLevel logLevel = LoggerLevel::info;
        LoggerMetadata metadata;
    };

    static constexpr const char* defaultSynchronousLoggingMetadataKey = "log-synchronous";

    QLLogHandler(Configuration config, LoggerInfo loggerInfo)
        : config_(std::move(config)), loggerInfo_(std::move(loggerInfo)) {}

    // The factory LoggingSystem::bootstrapWithQuovaLogging installs: each call
    // makes a handler on the registry `forValue` (the shared registry when
    // null) with (threshold, key), the label, `defaultLogLevel` and no metadata.
    static LogHandlerFactory handlerFactory(
        std::shared_ptr<QLLog> forValue = nullptr, LoggerLevel defaultLogLevel = LoggerLevel::info,
        LoggerLevel loggingSynchronousAsOf = LoggerLevel::error,
        std::string synchronousLoggingMetadataKey = defaultSynchronousLoggingMetadataKey);

    // The shared registry as a pointer that never deletes it.
    static std::shared_ptr<QLLog> sharedRegistry();

    std::unique_ptr<LogHandler> clone() const override { return std::make_unique<QLLogHandler>(*this); }

    const Configuration& config() const { return config_; }
    const LoggerInfo& loggerInfo() const { return loggerInfo_; }

    using LogHandler::log;
    // Makes the record on the caller's thread (so it describes the caller) and
    // sends it. The Logger has already tested the level.
    void log(LoggerLevel level, const LoggerMessage& message, const std::optional<LoggerMetadata>& metadata,
             const std::string& source, std::string_view file, std::string_view function,
             uint64_t line) override;

    // Whether the call may be queued: false at or above the threshold, false
    // when the call's metadata holds the Boolean true (a stringConvertible
    // Bool) under the key; true otherwise, also for the text "true".
    bool logAsync_(LoggerLevel level, const std::optional<LoggerMetadata>& metadata) const;

    std::optional<LoggerMetadataValue> metadataValue(const std::string& key) const override;
    void setMetadataValue(const std::string& key, std::optional<LoggerMetadataValue> value) override;
    LoggerMetadata metadata() const override { return loggerInfo_.metadata; }
    void setMetadata(LoggerMetadata metadata) override { loggerInfo_.metadata = std::move(metadata); }
    LoggerLevel logLevel() const override { return loggerInfo_.logLevel; }
    void setLogLevel(LoggerLevel level) override { loggerInfo_.logLevel = level; }

  private:
    Configuration config_;
    LoggerInfo loggerInfo_;
};

}  // namespace tervolo::logging
