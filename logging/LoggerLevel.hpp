#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tervolo::logging {

// Logger::Level: the seven severities of the Logger front end, in ascending
// order. The enumerators' values are the ordinals, so the built-in comparison
// operators order levels by severity (trace < debug < ... < critical); the raw
// value of each level is its name.
enum class LoggerLevel : uint8_t {
    trace = 0,
    debug = 1,
    info = 2,
    notice = 3,
    warning = 4,
    error = 5,
    critical = 6,
};

// The level's name: "trace", "debug", "info", "notice", "warning", "error", "critical".
constexpr std::string_view rawValue(LoggerLevel level) {
    switch (level) {
        case LoggerLevel::trace:
            return "trace";
        case LoggerLevel::debug:
            return "debug";
        case LoggerLevel::info:
            return "info";
        case LoggerLevel::notice:
            return "notice";
        case LoggerLevel::warning:
            return "warning";
        case LoggerLevel::error:
            return "error";
        case LoggerLevel::critical:
            return "critical";
    }
    return "critical";
}

// Every level in ordinal order.
constexpr std::array<LoggerLevel, 7> allLoggerLevels() {
    return {LoggerLevel::trace,   LoggerLevel::debug, LoggerLevel::info,    LoggerLevel::notice,
            LoggerLevel::warning, LoggerLevel::error, LoggerLevel::critical};
}

// The level whose name is exactly `raw` (case-sensitive: "Info" and "warn" give nothing).
constexpr std::optional<LoggerLevel> loggerLevelFromRawValue(std::string_view raw) {
    for (const LoggerLevel level : allLoggerLevels()) {
        if (rawValue(level) == raw) return level;
    }
    return std::nullopt;
}

}  // namespace tervolo::logging
