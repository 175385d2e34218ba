#pragma once

#include <memory>
#include <optional>
#include <string>

#include "logging/LogHandler.hpp"

namespace tervolo::logging {

// The handler that discards everything: logging switched off. Its level always
// reads critical (so a Logger still evaluates the message of a critical call),
// its metadata is always empty, and every write is ignored.
class FacadeNoOpLogHandler final : public LogHandler {
  public:
    FacadeNoOpLogHandler() = default;
    // Takes a label and discards it, so that it serves as a factory.
    explicit FacadeNoOpLogHandler(const std::string& label) { (void)label; }

    std::unique_ptr<LogHandler> clone() const override {
        return std::make_unique<FacadeNoOpLogHandler>(*this);
    }

    void log(LoggerLevel, const LoggerMessage&, const std::optional<LoggerMetadata>&, const std::string&,
             std::string_view, std::string_view, uint64_t) override {}
    void log(LoggerLevel, const LoggerMessage&, const std::optional<LoggerMetadata>&, std::string_view,
             std::string_view, uint64_t) override {}

    std::optional<LoggerMetadataValue> metadataValue(const std::string&) const override {
        return std::nullopt;
    }
    void setMetadataValue(const std::string&, std::optional<LoggerMetadataValue>) override {}
    LoggerMetadata metadata() const override { return {}; }
    void setMetadata(LoggerMetadata) override {}
    LoggerLevel logLevel() const override { return LoggerLevel::critical; }
    void setLogLevel(LoggerLevel) override {}
};

}  // namespace tervolo::logging
