#pragma once

#include <memory>
#include <optional>
#include <string>

#include "logging/LogHandler.hpp"
#include "logging/StdioOutputStream.hpp"

namespace tervolo::logging {

// Writes each message as one line of text to a text output stream:
//
//   2024-05-01T13:45:07+0200 info my.label : a=1 b=2 [source] message\n
//
// timestamp (local time, whole seconds, offset without a colon), level name,
// label, a blank and a colon, the metadata when there is any (keys in code
// point order), the source in square brackets, the message. File, function and
// line are not written.
//
// A value: copies share the stream and own their metadata. The handler holds no
// lock; each line goes out in one write of the stream, which serialises.
class StreamLogHandler final : public LogHandler {
  public:
    // Handlers on the shared standard-output (or standard-error) stream, with
    // the label, level info and no metadata.
    static StreamLogHandler standardOutput(const std::string& label);
    static StreamLogHandler standardError(const std::string& label);

    // A handler on a stream of the caller's choice (tests, other outputs).
    StreamLogHandler(std::string label, std::shared_ptr<TextOutputStream> stream);

    std::unique_ptr<LogHandler> clone() const override { return std::make_unique<StreamLogHandler>(*this); }

    const std::string& label() const { return label_; }
    const std::shared_ptr<TextOutputStream>& stream() const { return stream_; }
    // The rendering of the handler's metadata; absent when it is empty.
    const std::optional<std::string>& prettyMetadata() const { return prettyMetadata_; }

    using LogHandler::log;
    void log(LoggerLevel level, const LoggerMessage& message, const std::optional<LoggerMetadata>& metadata,
             const std::string& source, std::string_view file, std::string_view function,
             uint64_t line) override;

    std::optional<LoggerMetadataValue> metadataValue(const std::string& key) const override;
    void setMetadataValue(const std::string& key, std::optional<LoggerMetadataValue> value) override;
    LoggerMetadata metadata() const override { return metadata_; }
    void setMetadata(LoggerMetadata metadata) override;
    LoggerLevel logLevel() const override { return logLevel_; }
    void setLogLevel(LoggerLevel level) override { logLevel_ = level; }

    // "k1=v1 k2=v2", keys in code point order, values by their description;
    // absent for empty metadata.
    static std::optional<std::string> prettify(const LoggerMetadata& metadata);

  private:
    std::shared_ptr<TextOutputStream> stream_;
    std::string label_;
    LoggerLevel logLevel_ = LoggerLevel::info;
    // Kept in step with metadata_, so a call without metadata of its own needs
    // no rendering.
    std::optional<std::string> prettyMetadata_;
    LoggerMetadata metadata_;
};

}  // namespace tervolo::logging
