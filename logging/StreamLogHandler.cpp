#include "logging/StreamLogHandler.hpp"

#include <cmath>
#include <ctime>

#include "platform/dispatch/Date.hpp"

namespace tervolo::logging {

namespace {

// The current time as local calendar time, formatted "%Y-%m-%dT%H:%M:%S%z"
// (whole seconds, the offset as a sign and four digits). localtime_r, not
// localtime: several threads log at once.
std::string timestamp() {
    const std::time_t now = static_cast<std::time_t>(std::floor(platform::Date::now().unixTime()));
    std::tm local{};
    localtime_r(&now, &local);
    char buffer[255] = {};
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S%z", &local);
    return std::string(buffer);
}

}  // namespace

StreamLogHandler StreamLogHandler::standardOutput(const std::string& label) {
    return StreamLogHandler(label, StdioOutputStream::standardOutput());
}

StreamLogHandler StreamLogHandler::standardError(const std::string& label) {
    return StreamLogHandler(label, StdioOutputStream::standardError());
}

StreamLogHandler::StreamLogHandler(std::string label, std::shared_ptr<TextOutputStream> stream)
    : stream_(std::move(stream)), label_(std::move(label)) {}

std::optional<std::string> StreamLogHandler::prettify(const LoggerMetadata& metadata) {
    if (metadata.empty()) return std::nullopt;
    // The map already iterates in code point order of the NFC keys.
    std::string out;
    for (const auto& [key, value] : metadata) {
        if (!out.empty()) out += ' ';
        out += key;
        out += '=';
        out += value.description();
    }
    return out;
}

std::optional<LoggerMetadataValue> StreamLogHandler::metadataValue(const std::string& key) const {
    const auto entry = metadata_.find(key);
    if (entry == metadata_.end()) return std::nullopt;
    return entry->second;
}

void StreamLogHandler::setMetadataValue(const std::string& key, std::optional<LoggerMetadataValue> value) {
    if (value) {
        metadata_.insert_or_assign(key, std::move(*value));
    } else {
        metadata_.erase(key);
    }
    prettyMetadata_ = prettify(metadata_);
}

void StreamLogHandler::setMetadata(LoggerMetadata metadata) {
    metadata_ = std::move(metadata);
    prettyMetadata_ = prettify(metadata_);
}

void StreamLogHandler::log(LoggerLevel level, const LoggerMessage& message,
                           const std::optional<LoggerMetadata>& metadata, const std::string& source,
                           std::string_view file, std::string_view function, uint64_t line) {
    (void)file;
    (void)function;
    (void)line;
    std::optional<std::string> metadataPart;
    if (!metadata || metadata->empty()) {
        metadataPart = prettyMetadata_;
    } else {
        // The call's value wins on a key clash; the handler's own metadata stays as it is.
        LoggerMetadata merged = *metadata;
        merged.insert(metadata_.begin(), metadata_.end());
        metadataPart = prettify(merged);
    }

    std::string text = timestamp();
    text += ' ';
    text += rawValue(level);
    text += ' ';
    text += label_;
    text += " :";
    if (metadataPart) {
        text += ' ';
        text += *metadataPart;
    }
    text += " [";
    text += source;
    text += "] ";
    text += message.description();
    text += '\n';
    stream_->write(text);
}

}  // namespace tervolo::logging
