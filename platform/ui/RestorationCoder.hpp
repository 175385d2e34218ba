#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>

#include "platform/dispatch/Date.hpp"
#include "platform/foundation/PropertyValue.hpp"

namespace platform {

// The keyed values one controller (or the application) keeps across a
// restart: bool, integer, double, string, date, list and dictionary values
// that keep their type through the archive file. Reading a key that is absent
// or holds another type gives none; a double read also takes an integer a
// double holds exactly. Not thread-safe; used on the main thread.
class RestorationCoder {
  public:
    RestorationCoder() = default;
    explicit RestorationCoder(PropertyValue::Dictionary values) : values_(std::move(values)) {}

    void encode(const std::string& key, PropertyValue value) { values_[key] = std::move(value); }

    // Any type.
    std::optional<PropertyValue> decodeObject(const std::string& key) const {
        auto found = values_.find(key);
        if (found == values_.end()) return std::nullopt;
        return found->second;
    }

    // T is one of bool, int64_t, double, std::string, Date, PropertyValue::List
    // or PropertyValue::Dictionary.
    template <typename T>
    std::optional<T> decode(const std::string& key) const {
        auto value = decodeObject(key);
        if (!value) return std::nullopt;
        if constexpr (std::is_same_v<T, bool>) {
            return value->asBool();
        } else if constexpr (std::is_same_v<T, int64_t>) {
            return value->asInteger();
        } else if constexpr (std::is_same_v<T, double>) {
            return value->asDouble();
        } else if constexpr (std::is_same_v<T, std::string>) {
            return value->asString();
        } else if constexpr (std::is_same_v<T, Date>) {
            return value->asDate();
        } else if constexpr (std::is_same_v<T, PropertyValue::List>) {
            if (const auto* list = value->asList()) return *list;
            return std::nullopt;
        } else {
            static_assert(std::is_same_v<T, PropertyValue::Dictionary>, "not a restorable value type");
            if (const auto* dictionary = value->asDictionary()) return *dictionary;
            return std::nullopt;
        }
    }

    bool containsValue(const std::string& key) const { return values_.count(key) != 0; }
    const PropertyValue::Dictionary& values() const { return values_; }

  private:
    PropertyValue::Dictionary values_;
};

}  // namespace platform
