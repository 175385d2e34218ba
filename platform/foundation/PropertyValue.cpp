#include "platform/foundation/PropertyValue.hpp"

#include <cmath>

namespace platform {

namespace {

constexpr int64_t kLargestExactInteger = int64_t{1} << 53;
constexpr const char* kDateTag = "$date";
constexpr const char* kDictionaryTag = "$dict";

// A one-member object whose key starts with '$' could be read as a tag.
bool looksLikeTag(const PropertyValue::Dictionary& dictionary) {
    return dictionary.size() == 1 && !dictionary.begin()->first.empty() &&
           dictionary.begin()->first[0] == '$';
}

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

nlohmann::json PropertyValue::toJSON() const {
    switch (type()) {
        case Type::Bool:
            return std::get<bool>(storage_);
        case Type::Integer:
            return std::get<int64_t>(storage_);
        case Type::Double: {
            const double value = std::get<double>(storage_);
            // JSON has no NaN or infinity; nlohmann would write null anyway.
            if (!std::isfinite(value)) return nullptr;
            return value;
        }
        case Type::String:
            return std::get<std::string>(storage_);
        case Type::Date: {
            const double seconds = std::get<platform::Date>(storage_).secondsSince2001;
            return nlohmann::json{{kDateTag, std::isfinite(seconds) ? nlohmann::json(seconds) : nullptr}};
        }
        case Type::List: {
            nlohmann::json array = nlohmann::json::array();
            for (const PropertyValue& item : std::get<List>(storage_)) array.push_back(item.toJSON());
            return array;
        }
        case Type::Dictionary: {
            const Dictionary& dictionary = std::get<Dictionary>(storage_);
            nlohmann::json object = nlohmann::json::object();
            for (const auto& [key, item] : dictionary) object[key] = item.toJSON();
            if (looksLikeTag(dictionary)) return nlohmann::json{{kDictionaryTag, std::move(object)}};
            return object;
        }
    }
    return nullptr;
}

std::optional<PropertyValue> PropertyValue::fromJSON(const nlohmann::json& json, int depth) {
    if (depth > kMaximumDepth) return std::nullopt;
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
            List list;
            list.reserve(json.size());
            for (const nlohmann::json& item : json) {
                // Items that cannot be represented are dropped, not the whole list.
                if (auto value = fromJSON(item, depth + 1)) list.push_back(std::move(*value));
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
                    Dictionary dictionary;
                    for (const auto& [key, item] : only.value().items()) {
                        if (auto value = fromJSON(item, depth + 1))
                            dictionary.emplace(key, std::move(*value));
                    }
                    return PropertyValue(std::move(dictionary));
                }
            }
            Dictionary dictionary;
            for (const auto& [key, item] : json.items()) {
                if (auto value = fromJSON(item, depth + 1)) dictionary.emplace(key, std::move(*value));
            }
            return PropertyValue(std::move(dictionary));
        }
        default:
            return std::nullopt;
    }
}

}  // namespace platform
