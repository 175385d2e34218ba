#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace tervolo::logging {

// Logger::Message: the text of one log call. Made implicitly from any text, so
// a call site passes a literal or a formatted string as it is.
struct LoggerMessage {
    std::string value;

    LoggerMessage() = default;
    LoggerMessage(std::string text) : value(std::move(text)) {}
    LoggerMessage(std::string_view text) : value(text) {}
    LoggerMessage(const char* text) : value(text) {}

    // The text unchanged.
    const std::string& description() const { return value; }
};

// Texts compare under canonical equivalence, as every text of the program does.
bool operator==(const LoggerMessage& a, const LoggerMessage& b);

}  // namespace tervolo::logging
