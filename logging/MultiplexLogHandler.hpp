#pragma once

#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "logging/LogHandler.hpp"

namespace tervolo::logging {

// Feeds one Logger's messages to several handlers at once and keeps their
// levels and metadata in step. A value: copying it copies every handler in it.
// It holds no lock; the fan-out runs on the caller's thread, one handler after
// the other, and each handler serialises its own output.
class MultiplexLogHandler final : public LogHandler {
  public:
    // The handlers in the order given. The effective level starts as the
    // lowest (most verbose) of their levels. An empty list (outside the
    // contract) gives level trace and empty metadata, and logs nowhere.
    explicit MultiplexLogHandler(std::vector<std::unique_ptr<LogHandler>> handlers);
    // The same from handler values, each copied.
    template <typename... Handlers>
    requires(sizeof...(Handlers) > 0 && (std::is_base_of_v<LogHandler, Handlers> &&
                                         ...)) explicit MultiplexLogHandler(const Handlers&... handlers)
        : MultiplexLogHandler(cloneAll({&static_cast<const LogHandler&>(handlers)...})) {}

    MultiplexLogHandler(const MultiplexLogHandler& other);
    MultiplexLogHandler& operator=(const MultiplexLogHandler& other);
    MultiplexLogHandler(MultiplexLogHandler&&) noexcept = default;
    MultiplexLogHandler& operator=(MultiplexLogHandler&&) noexcept = default;

    std::unique_ptr<LogHandler> clone() const override {
        return std::make_unique<MultiplexLogHandler>(*this);
    }

    const std::vector<std::unique_ptr<LogHandler>>& handlers() const { return handlers_; }

    using LogHandler::log;
    // Hands the call, unchanged, to every handler whose own level lets the
    // message's level through, in list order.
    void log(LoggerLevel level, const LoggerMessage& message, const std::optional<LoggerMetadata>& metadata,
             const std::string& source, std::string_view file, std::string_view function,
             uint64_t line) override;

    // The value of the first handler in the list that has one.
    std::optional<LoggerMetadataValue> metadataValue(const std::string& key) const override;
    // Sets (or removes) the key in every handler, in list order.
    void setMetadataValue(const std::string& key, std::optional<LoggerMetadataValue> value) override;
    // The handlers' metadata merged; on a key clash the earliest handler wins.
    LoggerMetadata metadata() const override;
    // Sets `metadata` as the whole metadata of every handler.
    void setMetadata(LoggerMetadata metadata) override;
    // The effective level: the lowest of the handlers' levels at creation,
    // afterwards the level last set here.
    LoggerLevel logLevel() const override { return effectiveLogLevel_; }
    // Sets the level of every handler, in list order, and then the effective level.
    void setLogLevel(LoggerLevel level) override;

  private:
    static std::vector<std::unique_ptr<LogHandler>> cloneAll(
        std::initializer_list<const LogHandler*> handlers);

    std::vector<std::unique_ptr<LogHandler>> handlers_;
    LoggerLevel effectiveLogLevel_ = LoggerLevel::trace;
};

}  // namespace tervolo::logging
