#include "logging/Logger.hpp"

#include "logging/LoggingSystem.hpp"

namespace tervolo::logging {

Logger::Logger(std::string label) : label_(std::move(label)) {
    // The factory is called after the system's lock is released, so a factory
    // may itself create loggers.
    const std::shared_ptr<const LogHandlerFactory> factory = LoggingSystem::factory();
    handler_ = (*factory)(label_);
}

Logger::Logger(std::string label, const LogHandlerFactory& factory)
    : label_(std::move(label)), handler_(factory(label_)) {}

Logger::Logger(const Logger& other)
    : label_(other.label_), handler_(other.handler_ ? other.handler_->clone() : nullptr) {}

Logger& Logger::operator=(const Logger& other) {
    if (this != &other) {
        label_ = other.label_;
        handler_ = other.handler_ ? other.handler_->clone() : nullptr;
    }
    return *this;
}

void Logger::setHandler(std::unique_ptr<LogHandler> handler) {
    if (handler) handler_ = std::move(handler);
}

void Logger::emit(Level level, const Message& message, const std::optional<Metadata>& metadata,
                  std::optional<std::string> source, std::string_view file, std::string_view function,
                  uint64_t line) {
    const std::string resolvedSource = source ? std::move(*source) : currentModuleFileID(file);
    handler_->log(level, message, metadata, resolvedSource, file, function, line);
}

std::string Logger::currentModuleFileID(std::string_view fileID) {
    const auto slash = fileID.find('/');
    if (slash == std::string_view::npos) return "n/a";
    return std::string(fileID.substr(0, slash));
}

std::string Logger::currentModuleFilePath(std::string_view filePath) {
    const auto last = filePath.rfind('/');
    if (last == std::string_view::npos || last == 0) return "n/a";
    const auto previous = filePath.rfind('/', last - 1);
    if (previous == std::string_view::npos) return "n/a";
    return std::string(filePath.substr(previous + 1, last - previous - 1));
}

}  // namespace tervolo::logging
