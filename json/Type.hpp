#pragma once

#include <optional>

namespace tervolo::json {

// The kind of a JSON value. `bool` is a C++ keyword, hence `boolValue`.
enum class Type : int {
    number = 0,
    string = 1,
    boolValue = 2,
    array = 3,
    dictionary = 4,
    null = 5,
    unknown = 6
};

// 0 to 6 give their kind; any other integer, negative ones included, gives none.
inline std::optional<Type> typeFromRawValue(int rawValue) {
    if (rawValue < 0 || rawValue > 6) return std::nullopt;
    return static_cast<Type>(rawValue);
}

inline int rawValue(Type type) {
    return static_cast<int>(type);
}

}  // namespace tervolo::json
