#include "logging/MultiplexLogHandler.hpp"

#include <algorithm>

namespace tervolo::logging {

namespace {

LoggerLevel lowestLevel(const std::vector<std::unique_ptr<LogHandler>>& handlers) {
    if (handlers.empty()) return LoggerLevel::trace;
    LoggerLevel lowest = handlers.front()->logLevel();
    for (const auto& handler : handlers) lowest = std::min(lowest, handler->logLevel());
    return lowest;
}

std::vector<std::unique_ptr<LogHandler>> cloned(const std::vector<std::unique_ptr<LogHandler>>& handlers) {
    std::vector<std::unique_ptr<LogHandler>> copies;
    copies.reserve(handlers.size());
    for (const auto& handler : handlers) copies.push_back(handler->clone());
    return copies;
}

}  // namespace

MultiplexLogHandler::MultiplexLogHandler(std::vector<std::unique_ptr<LogHandler>> handlers)
    : handlers_(std::move(handlers)), effectiveLogLevel_(lowestLevel(handlers_)) {}

std::vector<std::unique_ptr<LogHandler>> MultiplexLogHandler::cloneAll(
    std::initializer_list<const LogHandler*> handlers) {
    std::vector<std::unique_ptr<LogHandler>> copies;
    copies.reserve(handlers.size());
    for (const LogHandler* handler : handlers) copies.push_back(handler->clone());
    return copies;
}

MultiplexLogHandler::MultiplexLogHandler(const MultiplexLogHandler& other)
    : LogHandler(other), handlers_(cloned(other.handlers_)), effectiveLogLevel_(other.effectiveLogLevel_) {}

MultiplexLogHandler& MultiplexLogHandler::operator=(const MultiplexLogHandler& other) {
    if (this != &other) {
        handlers_ = cloned(other.handlers_);
        effectiveLogLevel_ = other.effectiveLogLevel_;
    }
    return *this;
}

void MultiplexLogHandler::log(LoggerLevel level, const LoggerMessage& message,
                              const std::optional<LoggerMetadata>& metadata, const std::string& source,
                              std::string_view file, std::string_view function, uint64_t line) {
    for (const auto& handler : handlers_) {
        if (handler->logLevel() > level) continue;
        handler->log(level, message, metadata, source, file, function, line);
    }
}

std::optional<LoggerMetadataValue> MultiplexLogHandler::metadataValue(const std::string& key) const {
    for (const auto& handler : handlers_) {
        if (auto value = handler->metadataValue(key)) return value;
    }
    return std::nullopt;
}

void MultiplexLogHandler::setMetadataValue(const std::string& key, std::optional<LoggerMetadataValue> value) {
    for (const auto& handler : handlers_) handler->setMetadataValue(key, value);
}

LoggerMetadata MultiplexLogHandler::metadata() const {
    LoggerMetadata merged;
    for (const auto& handler : handlers_) {
        // insert keeps an entry already present: the earliest handler wins.
        for (auto& entry : handler->metadata()) merged.insert(std::move(entry));
    }
    return merged;
}

void MultiplexLogHandler::setMetadata(LoggerMetadata metadata) {
    for (const auto& handler : handlers_) handler->setMetadata(metadata);
}

void MultiplexLogHandler::setLogLevel(LoggerLevel level) {
    for (const auto& handler : handlers_) handler->setLogLevel(level);
    effectiveLogLevel_ = level;
}

}  // namespace tervolo::logging
