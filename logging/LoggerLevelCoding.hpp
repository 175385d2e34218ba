#pragma once

#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "logging/LoggerLevel.hpp"

// JSON coding of Logger::Level as a single text value, its name. Header-only,
// so that only code that codes levels needs the JSON library.
namespace tervolo::logging {

// Decoding met a value that is not one of the seven level names (or not a
// text): the data is corrupted.
class LoggerLevelDecodingError : public std::runtime_error {
  public:
    explicit LoggerLevelDecodingError(const std::string& description) : std::runtime_error(description) {}
};

inline void to_json(nlohmann::json& json, LoggerLevel level) {
    json = std::string(rawValue(level));
}

inline void from_json(const nlohmann::json& json, LoggerLevel& level) {
    if (!json.is_string()) {
        throw LoggerLevelDecodingError("Cannot initialize Level from a value that is not a text: " +
                                       json.dump());
    }
    const auto& text = json.get_ref<const std::string&>();
    const auto decoded = loggerLevelFromRawValue(text);
    if (!decoded) throw LoggerLevelDecodingError("Cannot initialize Level from invalid String value " + text);
    level = *decoded;
}

}  // namespace tervolo::logging
