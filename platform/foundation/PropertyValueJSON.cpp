#include "platform/foundation/PropertyValueJSON.hpp"

#include <cmath>
#include <cstdint>

namespace platform {

namespace {

constexpr const char* kDateTag = "$date";
constexpr const char* kDictionaryTag = "$dict";

// A one-member object whose key starts with '$' could be read as a tag.
bool looksLikeTag(const PropertyValue::Dictionary& dictionary) {
    return dictionary.size() == 1 && !dictionary.begin()->first.empty() &&
           dictionary.begin()->first[0] == '$';
}

}  // namespace

nlohmann::json toJSON(const PropertyValue& value) {
    switch (value.type()) {
        case PropertyValue::Type::Bool:
            return *value.asBool();
        case PropertyValue::Type::Integer:
            return *value.asInteger();
        case PropertyValue::Type::Double: {
            const double number = *value.asDouble();
            // JSON has no NaN or infinity; nlohmann would write null anyway.
            if (!std::isfinite(number)) return nullptr;
            return number;
        }
        case PropertyValue::Type::String:
            return *value.asString();
        case PropertyValue::Type::Date: {
            const double seconds = value.asDate()->secondsSince2001;
            return nlohmann::json{{kDateTag, std::isfinite(seconds) ? nlohmann::json(seconds) : nullptr}};
        }
        case PropertyValue::Type::List: {
            nlohmann::json array = nlohmann::json::array();
            for (const PropertyValue& item : *value.asList()) array.push_back(toJSON(item));
            return array;
        }
        case PropertyValue::Type::Dictionary: {
            const PropertyValue::Dictionary& dictionary = *value.asDictionary();
            nlohmann::json object = nlohmann::json::object();
            for (const auto& [key, item] : dictionary) object[key] = toJSON(item);
            if (looksLikeTag(dictionary)) return nlohmann::json{{kDictionaryTag, std::move(object)}};
            return object;
        }
    }
    return nullptr;
}

std::optional<PropertyValue> propertyValueFromJSON(const nlohmann::json& json, int depth) {
    if (depth > PropertyValue::kMaximumDepth) return std::nullopt;
    switch (json.type()) {
        case nlohmann::json::value_t::boolean:
            return PropertyValue(json.get<bool>());
        case nlohmann::json::value_t::number_integer:
            return PropertyValue(json.get<int64_t>());
        case nlohmann::json::value_t::number_unsigned: {
            const uint64_t value = json.get<uint64_t>();
            if (value > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
            return PropertyValue(static_cast<int64_t>(value));
        }
        case nlohmann::json::value_t::number_float: {
            const double value = json.get<double>();
            if (!std::isfinite(value)) return std::nullopt;
            return PropertyValue(value);
        }
        case nlohmann::json::value_t::string:
            return PropertyValue(json.get<std::string>());
        case nlohmann::json::value_t::array: {
            PropertyValue::List list;
            list.reserve(json.size());
            for (const nlohmann::json& item : json) {
                // Items that cannot be represented are dropped, not the whole list.
                if (auto value = propertyValueFromJSON(item, depth + 1)) list.push_back(std::move(*value));
            }
            return PropertyValue(std::move(list));
        }
        case nlohmann::json::value_t::object: {
            if (json.size() == 1) {
                const auto only = json.begin();
                if (only.key() == kDateTag) {
                    if (!only.value().is_number()) return std::nullopt;
                    const double seconds = only.value().get<double>();
                    if (!std::isfinite(seconds)) return std::nullopt;
                    return PropertyValue(platform::Date{seconds});
                }
                if (only.key() == kDictionaryTag && only.value().is_object()) {
                    PropertyValue::Dictionary dictionary;
                    for (const auto& [key, item] : only.value().items()) {
                        if (auto value = propertyValueFromJSON(item, depth + 1))
                            dictionary.emplace(key, std::move(*value));
                    }
                    return PropertyValue(std::move(dictionary));
                }
            }
            PropertyValue::Dictionary dictionary;
            for (const auto& [key, item] : json.items()) {
                if (auto value = propertyValueFromJSON(item, depth + 1))
                    dictionary.emplace(key, std::move(*value));
            }
            return PropertyValue(std::move(dictionary));
        }
        default:
            return std::nullopt;
    }
}

}  // namespace platform
