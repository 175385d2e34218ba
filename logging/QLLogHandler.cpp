#include "logging/QLLogHandler.hpp"

#include "logging/FacadeMessage.hpp"
#include "logging/LoggingSystem.hpp"

namespace tervolo::logging {

std::shared_ptr<QLLog> QLLogHandler::sharedRegistry() {
    // The shared registry is never destroyed; the pointer must not delete it.
    return std::shared_ptr<QLLog>(&QLLog::sharedInstance(), [](QLLog*) {});
}

LogHandlerFactory QLLogHandler::handlerFactory(std::shared_ptr<QLLog> forValue, LoggerLevel defaultLogLevel,
                                               LoggerLevel loggingSynchronousAsOf,
                                               std::string synchronousLoggingMetadataKey) {
    Configuration config{forValue ? std::move(forValue) : sharedRegistry(),
                         {loggingSynchronousAsOf, std::move(synchronousLoggingMetadataKey)}};
    return [config = std::move(config),
            defaultLogLevel](const std::string& label) -> std::unique_ptr<LogHandler> {
        return std::make_unique<QLLogHandler>(config, LoggerInfo{label, defaultLogLevel, {}});
    };
}

void LoggingSystem::bootstrapWithQuovaLogging(std::shared_ptr<QLLog> forValue, LoggerLevel defaultLogLevel,
                                              LoggerLevel loggingSynchronousAsOf,
                                              std::string synchronousLoggingMetadataKey) {
    bootstrap(QLLogHandler::handlerFactory(std::move(forValue), defaultLogLevel, loggingSynchronousAsOf,
                                           std::move(synchronousLoggingMetadataKey)));
}

void QLLogHandler::log(LoggerLevel level, const LoggerMessage& message,
                       const std::optional<LoggerMetadata>& metadata, const std::string& source,
                       std::string_view file, std::string_view function, uint64_t line) {
    auto record = std::make_shared<const FacadeMessage>(loggerInfo_.label, loggerInfo_.metadata, message,
                                                        level, metadata, source, file, function, line);
    config_.log->log(logAsync_(level, metadata), std::move(record));
}

bool QLLogHandler::logAsync_(LoggerLevel level, const std::optional<LoggerMetadata>& metadata) const {
    if (level >= config_.syncLogging.tresholdLevel) return false;
    if (!metadata) return true;
    const auto entry = metadata->find(config_.syncLogging.metadataKey);
    if (entry == metadata->end()) return true;
    // Only a Boolean says "synchronous"; the text "true" does not.
    if (const bool* synchronous = entry->second.stringConvertiblePayload<bool>()) return !*synchronous;
    return true;
}

std::optional<LoggerMetadataValue> QLLogHandler::metadataValue(const std::string& key) const {
    const auto entry = loggerInfo_.metadata.find(key);
    if (entry == loggerInfo_.metadata.end()) return std::nullopt;
    return entry->second;
}

void QLLogHandler::setMetadataValue(const std::string& key, std::optional<LoggerMetadataValue> value) {
    if (value) {
        loggerInfo_.metadata.insert_or_assign(key, std::move(*value));
    } else {
        loggerInfo_.metadata.erase(key);
    }
}

}  // namespace tervolo::logging
