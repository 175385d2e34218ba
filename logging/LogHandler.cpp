#include "logging/LogHandler.hpp"

#include "logging/Logger.hpp"

namespace tervolo::logging {

void LogHandler::log(LoggerLevel level, const LoggerMessage& message,
                     const std::optional<LoggerMetadata>& metadata, std::string_view file,
                     std::string_view function, uint64_t line) {
    log(level, message, metadata, Logger::currentModuleFilePath(file), file, function, line);
}

void LogHandler::modifyMetadata(const std::function<void(LoggerMetadata&)>& change) {
    LoggerMetadata value = metadata();
    change(value);
    setMetadata(std::move(value));
}

void LogHandler::modifyMetadataValue(const std::string& key,
                                     const std::function<void(std::optional<LoggerMetadataValue>&)>& change) {
    std::optional<LoggerMetadataValue> value = metadataValue(key);
    change(value);
    setMetadataValue(key, std::move(value));
}

void LogHandler::modifyLogLevel(const std::function<void(LoggerLevel&)>& change) {
    LoggerLevel value = logLevel();
    change(value);
    setLogLevel(value);
}

}  // namespace tervolo::logging
