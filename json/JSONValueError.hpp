#pragma once

#include <cstddef>
#include <exception>
#include <map>
#include <optional>
#include <string>

#include "platform/foundation/Error.hpp"

namespace tervolo::json {

// The errors of the JSON value library. Stored in a value's `error()` after a
// failed read and thrown by parsing-free operations that cannot go on
// (merging values of different kinds, producing raw data or text).
class JSONValueError : public std::exception {
  public:
    // Declaration order as the library lists them; the raw values are its codes.
    enum Case : int {
        unsupportedType = 999,
        indexOutOfBounds = 900,
        elementTooDeep = 902,
        wrongType = 901,
        notExist = 500,
        invalidJSON = 490,
    };

    JSONValueError(Case value) noexcept : case_(value) {}

    // Exactly the six codes above; any other integer gives no value.
    static std::optional<JSONValueError> fromRawValue(int rawValue);

    Case value() const { return case_; }
    int rawValue() const { return case_; }
    const char* what() const noexcept override;
    std::string localizedDescription() const { return what(); }

    // Bridging to the platform's error objects.
    static const std::string& errorDomain();  // ends in ".JSONValue"
    int errorCode() const { return case_; }
    // One entry: "NSLocalizedDescriptionKey" -> the description.
    std::map<std::string, std::string> errorUserInfo() const;
    // The platform's error object: this domain, the raw value, the description.
    platform::Error platformError() const;

    friend bool operator==(const JSONValueError& a, const JSONValueError& b) { return a.case_ == b.case_; }

  private:
    Case case_;
};

inline constexpr const char* NSLocalizedDescriptionKey = "NSLocalizedDescriptionKey";

}  // namespace tervolo::json

template <>
struct std::hash<tervolo::json::JSONValueError> {
    size_t operator()(const tervolo::json::JSONValueError& e) const noexcept {
        return std::hash<int>()(e.rawValue());
    }
};
