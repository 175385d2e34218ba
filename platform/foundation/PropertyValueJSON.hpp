#pragma once

#include <optional>

#include <nlohmann/json.hpp>

#include "platform/foundation/PropertyValue.hpp"

// The JSON form of property values, for the few files that store them (the
// user defaults). Apart from PropertyValue.hpp so that the many files that
// only use values do not parse the JSON library.
namespace platform {

// JSON form that keeps the types across a write and a read: numbers keep
// integer vs floating form (doubles are written with a fraction or an
// exponent), a date is {"$date": seconds since 2001}, and a dictionary that
// could be mistaken for such a tag is wrapped as {"$dict": {...}}.
// Non-finite doubles are written as null and read back as nothing.
nlohmann::json toJSON(const PropertyValue& value);

// Reading drops what it cannot represent (null, non-finite numbers, integers
// beyond int64, lists and dictionaries nested deeper than
// PropertyValue::kMaximumDepth).
std::optional<PropertyValue> propertyValueFromJSON(const nlohmann::json& json, int depth = 0);

}  // namespace platform
