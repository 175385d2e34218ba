#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/dispatch/Date.hpp"

namespace platform {

// A property-list value that keeps its type: bool, integer, double, string,
// date, list or dictionary. An integer and a double of the same amount are
// different values, and neither is a bool.
class PropertyValue {
  public:
    using List = std::vector<PropertyValue>;
    using Dictionary = std::map<std::string, PropertyValue>;
    enum class Type { Bool, Integer, Double, String, Date, List, Dictionary };

    PropertyValue() : storage_(false) {}
    PropertyValue(bool value) : storage_(value) {}
    PropertyValue(int value) : storage_(int64_t{value}) {}
    PropertyValue(long value) : storage_(int64_t{value}) {}
    PropertyValue(long long value) : storage_(static_cast<int64_t>(value)) {}
    PropertyValue(double value) : storage_(value) {}
    PropertyValue(std::string value) : storage_(std::move(value)) {}
    PropertyValue(const char* value) : storage_(std::string(value)) {}
    PropertyValue(platform::Date value) : storage_(value) {}
    PropertyValue(List value) : storage_(std::move(value)) {}
    PropertyValue(Dictionary value) : storage_(std::move(value)) {}

    Type type() const { return static_cast<Type>(storage_.index()); }

    // Each answers only for its own type; asDouble() also takes an integer that
    // a double holds exactly (|value| <= 2^53), never a bool.
    std::optional<bool> asBool() const;
    std::optional<int64_t> asInteger() const;
    std::optional<double> asDouble() const;
    std::optional<std::string> asString() const;
    std::optional<platform::Date> asDate() const;
    const List* asList() const;
    const Dictionary* asDictionary() const;

    bool operator==(const PropertyValue& other) const;

    // How deep lists and dictionaries may nest in a stored form (see
    // PropertyValueJSON.hpp), so a hostile file cannot exhaust the stack.
    static constexpr int kMaximumDepth = 256;

  private:
    std::variant<bool, int64_t, double, std::string, platform::Date, List, Dictionary> storage_;
};

}  // namespace platform
