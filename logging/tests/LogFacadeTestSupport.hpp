#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "logging/LogHandler.hpp"
#include "logging/StdioOutputStream.hpp"

namespace tervolo::logging::testing {

// One call a RecordingLogHandler received.
struct LogCall {
    std::string handler;
    LoggerLevel level;
    std::string message;
    std::optional<LoggerMetadata> metadata;
    std::string source;
    std::string file;
    std::string function;
    uint64_t line;
};

// A handler that writes every call into a journal. Copies share the journal
// (so a test sees what every copy received) but each has its own level and
// metadata, as handler values do.
class RecordingLogHandler final : public LogHandler {
  public:
    using Journal = std::vector<LogCall>;

    explicit RecordingLogHandler(std::string name, LoggerLevel level = LoggerLevel::trace,
                                 std::shared_ptr<Journal> journal = std::make_shared<Journal>())
        : name_(std::move(name)), level_(level), journal_(std::move(journal)) {}

    std::unique_ptr<LogHandler> clone() const override {
        return std::make_unique<RecordingLogHandler>(*this);
    }

    using LogHandler::log;
    void log(LoggerLevel level, const LoggerMessage& message, const std::optional<LoggerMetadata>& metadata,
             const std::string& source, std::string_view file, std::string_view function,
             uint64_t line) override {
        journal_->push_back(
            {name_, level, message.value, metadata, source, std::string(file), std::string(function), line});
    }

    std::optional<LoggerMetadataValue> metadataValue(const std::string& key) const override {
        const auto entry = metadata_.find(key);
        if (entry == metadata_.end()) return std::nullopt;
        return entry->second;
    }
    void setMetadataValue(const std::string& key, std::optional<LoggerMetadataValue> value) override {
        if (value) {
            metadata_.insert_or_assign(key, std::move(*value));
        } else {
            metadata_.erase(key);
        }
    }
    LoggerMetadata metadata() const override { return metadata_; }
    void setMetadata(LoggerMetadata metadata) override { metadata_ = std::move(metadata); }
    LoggerLevel logLevel() const override { return level_; }
    void setLogLevel(LoggerLevel level) override { level_ = level; }

    const std::shared_ptr<Journal>& journal() const { return journal_; }

  private:
    std::string name_;
    LoggerLevel level_;
    LoggerMetadata metadata_;
    std::shared_ptr<Journal> journal_;
};

// A text output stream that keeps what is written.
class CapturingStream final : public TextOutputStream {
  public:
    void write(std::string_view text) override {
        std::lock_guard lock(mutex_);
        writes_.emplace_back(text);
    }
    std::vector<std::string> writes() const {
        std::lock_guard lock(mutex_);
        return writes_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> writes_;
};

// Sets TZ for one test and puts the old value back.
class ScopedTimeZone {
  public:
    explicit ScopedTimeZone(const char* tz) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (old_) {
            setenv("TZ", old_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

  private:
    std::optional<std::string> old_;
};

}  // namespace tervolo::logging::testing
