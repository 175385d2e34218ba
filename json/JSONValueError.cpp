#include "json/JSONValueError.hpp"

namespace tervolo::json {

std::optional<JSONValueError> JSONValueError::fromRawValue(int rawValue) {
    switch (rawValue) {
        case unsupportedType:
        case indexOutOfBounds:
        case elementTooDeep:
        case wrongType:
        case notExist:
        case invalidJSON:
            return JSONValueError(static_cast<Case>(rawValue));
        default:
            return std::nullopt;
    }
}

const char* JSONValueError::what() const noexcept {
    switch (case_) {
        case unsupportedType:
            return "It is an unsupported type.";
        case indexOutOfBounds:
            return "Array Index is out of bounds.";
        case elementTooDeep:
            return "Element too deep. Increase maxObjectDepth and make sure there is no reference loop.";
        case wrongType:
            return "Couldn't merge, because the JSONs differ in type on top level.";
        case notExist:
            return "Dictionary key does not exist.";
        case invalidJSON:
            return "JSON is invalid.";
    }
    return "";
}

const std::string& JSONValueError::errorDomain() {
    static const std::string domain = "com.tervolo.JSONValue";
    return domain;
}

std::map<std::string, std::string> JSONValueError::errorUserInfo() const {
    return {{NSLocalizedDescriptionKey, what()}};
}

platform::Error JSONValueError::platformError() const {
    platform::Error error;
    error.domain = errorDomain();
    error.code = rawValue();
    error.description = what();
    return error;
}

}  // namespace tervolo::json
