#include "platform/foundation/PropertyValue.hpp"

#include <cmath>

namespace platform {

namespace {

constexpr int64_t kLargestExactInteger = int64_t{1} << 53;

}  // namespace

std::optional<bool> PropertyValue::asBool() const {
    if (const bool* value = std::get_if<bool>(&storage_)) return *value;
    return std::nullopt;
}

std::optional<int64_t> PropertyValue::asInteger() const {
    if (const int64_t* value = std::get_if<int64_t>(&storage_)) return *value;
    return std::nullopt;
}

std::optional<double> PropertyValue::asDouble() const {
    if (const double* value = std::get_if<double>(&storage_)) return *value;
    if (const int64_t* value = std::get_if<int64_t>(&storage_)) {
        if (*value >= -kLargestExactInteger && *value <= kLargestExactInteger)
            return static_cast<double>(*value);
    }
    return std::nullopt;
}

std::optional<std::string> PropertyValue::asString() const {
    if (const std::string* value = std::get_if<std::string>(&storage_)) return *value;
    return std::nullopt;
}

std::optional<platform::Date> PropertyValue::asDate() const {
    if (const platform::Date* value = std::get_if<platform::Date>(&storage_)) return *value;
    return std::nullopt;
}

const PropertyValue::List* PropertyValue::asList() const {
    return std::get_if<List>(&storage_);
}

const PropertyValue::Dictionary* PropertyValue::asDictionary() const {
    return std::get_if<Dictionary>(&storage_);
}

bool PropertyValue::operator==(const PropertyValue& other) const {
    return storage_ == other.storage_;
}

}  // namespace platform
