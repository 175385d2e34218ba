#pragma once

#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/dispatch/Date.hpp"
#include "platform/coding/EncodingError.hpp"
#include "platform/coding/JSONDecoder.hpp"

namespace platform {

class KeyedEncodingContainer;

// A record type encodes its fields, in field order, into a keyed container:
//   void encode(KeyedEncodingContainer& c) const {
//       c.encode("name", name);  c.encodeIfPresent("source", source);
//   }
template <typename T>
concept EncodableRecord = requires(const T& value, KeyedEncodingContainer& container) {
    { value.encode(container) } -> std::same_as<void>;
};

namespace coding_detail {
template <typename T>
nlohmann::ordered_json encodeValue(const T& value, const Path& path);
[[noreturn]] void throwInvalidValue(double value, const Path& path);
}  // namespace coding_detail

// Members of one JSON object, kept in the order they are encoded.
class KeyedEncodingContainer {
  public:
    KeyedEncodingContainer(nlohmann::ordered_json& object, std::vector<std::string> codingPath)
        : object_(&object), codingPath_(std::move(codingPath)) {}

    const std::vector<std::string>& codingPath() const { return codingPath_; }

    // An absent optional given here is written as null.
    template <typename T>
    void encode(const std::string& key, const T& value) {
        (*object_)[key] = coding_detail::encodeValue(value, pathWith(key));
    }
    // An absent value leaves the key out.
    template <typename T>
    void encodeIfPresent(const std::string& key, const std::optional<T>& value) {
        if (value) encode(key, *value);
    }
    void encodeNil(const std::string& key) { (*object_)[key] = nullptr; }

  private:
    std::vector<std::string> pathWith(const std::string& key) const {
        auto path = codingPath_;
        path.push_back(key);
        return path;
    }
    nlohmann::ordered_json* object_;
    std::vector<std::string> codingPath_;
};

// Writes compact JSON: members in field order, dates as seconds since 2001,
// absent optionals omitted (through encodeIfPresent). A NaN or infinite number
// throws EncodingError instead of writing something that is not JSON.
class JSONEncoder {
  public:
    template <typename T>
    nlohmann::ordered_json encodeToJSON(const T& value) const {
        return coding_detail::encodeValue(value, {});
    }
    template <typename T>
    std::string encodeToString(const T& value) const {
        return encodeToJSON(value).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::strict);
    }
    template <typename T>
    std::vector<uint8_t> encode(const T& value) const {
        std::string text = encodeToString(value);
        return {text.begin(), text.end()};
    }
};

namespace coding_detail {

template <typename T>
nlohmann::ordered_json encodeValue(const T& value, const Path& path) {
    if constexpr (IsOptional<T>::value) {
        if (!value) return nullptr;
        return encodeValue(*value, path);
    } else if constexpr (std::is_same_v<T, nlohmann::json> || std::is_same_v<T, nlohmann::ordered_json>) {
        return nlohmann::ordered_json(value);
    } else if constexpr (std::is_same_v<T, std::string> || std::is_same_v<T, bool> || Integer<T>) {
        return value;
    } else if constexpr (std::is_convertible_v<T, std::string_view> && !std::is_arithmetic_v<T>) {
        return std::string(std::string_view(value));
    } else if constexpr (std::is_floating_point_v<T>) {
        if (!std::isfinite(value)) throwInvalidValue(static_cast<double>(value), path);
        return static_cast<double>(value);
    } else if constexpr (std::is_same_v<T, Date>) {
        if (!std::isfinite(value.secondsSince2001)) throwInvalidValue(value.secondsSince2001, path);
        return value.secondsSince2001;
    } else if constexpr (IsVector<T>::value) {
        nlohmann::ordered_json array = nlohmann::ordered_json::array();
        for (size_t i = 0; i < value.size(); ++i) {
            auto elementPath = path;
            elementPath.push_back(indexKey(i));
            array.push_back(encodeValue(value[i], elementPath));
        }
        return array;
    } else if constexpr (IsStringMap<T>::value) {
        nlohmann::ordered_json object = nlohmann::ordered_json::object();
        for (const auto& [key, member] : value) {
            auto memberPath = path;
            memberPath.push_back(key);
            object[key] = encodeValue(member, memberPath);
        }
        return object;
    } else {
        static_assert(EncodableRecord<T>, "T must be an EncodableRecord or a supported value type");
        nlohmann::ordered_json object = nlohmann::ordered_json::object();
        KeyedEncodingContainer container(object, path);
        value.encode(container);
        return object;
    }
}

}  // namespace coding_detail

}  // namespace platform
