#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/dispatch/Date.hpp"
#include "platform/coding/DecodingError.hpp"

namespace platform {

class KeyedDecodingContainer;

// A record type decodes itself from a keyed container:
//   struct Shorturl {
//       std::string name;  std::optional<std::string> source;
//       static constexpr const char* codingTypeName = "Shorturl";   // optional, for messages
//       static Shorturl decode(const KeyedDecodingContainer& c) {
//           return {c.decode<std::string>("name"), c.decodeIfPresent<std::string>("source")};
//       }
//   };
template <typename T>
concept DecodableRecord = requires(const KeyedDecodingContainer& container) {
    { T::decode(container) } -> std::same_as<T>;
};

namespace coding_detail {

template <typename T>
struct IsOptional : std::false_type {};
template <typename T>
struct IsOptional<std::optional<T>> : std::true_type {};
template <typename T>
struct IsVector : std::false_type {};
template <typename T, typename A>
struct IsVector<std::vector<T, A>> : std::true_type {};
template <typename T>
struct IsStringMap : std::false_type {};
template <typename T, typename C, typename A>
struct IsStringMap<std::map<std::string, T, C, A>> : std::true_type {};

template <typename T>
concept Integer = std::is_integral_v<T> && !std::is_same_v<T, bool>;

// Type names as the messages show them.
template <typename T>
std::string typeName() {
    if constexpr (std::is_same_v<T, std::string>) {
        return "String";
    } else if constexpr (std::is_same_v<T, bool>) {
        return "Bool";
    } else if constexpr (std::is_same_v<T, int64_t> || std::is_same_v<T, long long> ||
                         std::is_same_v<T, long>) {
        return "Int";
    } else if constexpr (std::is_same_v<T, uint64_t> || std::is_same_v<T, unsigned long long> ||
                         std::is_same_v<T, unsigned long>) {
        return "UInt";
    } else if constexpr (Integer<T>) {
        return std::string(std::is_signed_v<T> ? "Int" : "UInt") + std::to_string(sizeof(T) * 8);
    } else if constexpr (std::is_same_v<T, double>) {
        return "Double";
    } else if constexpr (std::is_same_v<T, float>) {
        return "Float";
    } else if constexpr (std::is_same_v<T, Date>) {
        return "Date";
    } else if constexpr (IsOptional<T>::value) {
        return "Optional<" + typeName<typename T::value_type>() + ">";
    } else if constexpr (IsVector<T>::value) {
        return "Array<" + typeName<typename T::value_type>() + ">";
    } else if constexpr (IsStringMap<T>::value) {
        return "Dictionary<String, " + typeName<typename T::mapped_type>() + ">";
    } else if constexpr (requires { T::codingTypeName; }) {
        return T::codingTypeName;
    } else {
        return "Dictionary<String, Any>";
    }
}

using Path = std::vector<std::string>;

[[noreturn]] void throwTypeMismatch(const std::string& expected, const nlohmann::json& found,
                                    const Path& path);
[[noreturn]] void throwValueNotFound(const std::string& expected, const Path& path);
[[noreturn]] void throwNumberDoesNotFit(const nlohmann::json& found, const std::string& expected,
                                        const Path& path);
[[noreturn]] void throwDataCorrupted(const Path& path, const std::string& description);
std::string indexKey(size_t index);

template <typename T>
T decodeValue(const nlohmann::json& value, const Path& path);

}  // namespace coding_detail

// The members of one JSON object, read strictly: a required key must be
// present and not null, and its value must have exactly the JSON type of the
// field (a string field refuses a number and the other way round; an integer
// field takes only a number with an integral value in range, so 12 and 12.0
// but not 12.5, "12" or true). Optional fields take a missing key or null.
// Keys the record does not read are ignored.
class KeyedDecodingContainer {
  public:
    KeyedDecodingContainer(const nlohmann::json& object, std::vector<std::string> codingPath)
        : object_(&object), codingPath_(std::move(codingPath)) {}

    const std::vector<std::string>& codingPath() const { return codingPath_; }
    bool contains(const std::string& key) const { return object_->contains(key); }
    std::vector<std::string> allKeys() const;
    // True when the key is missing or holds null.
    bool decodeNil(const std::string& key) const;

    template <typename T>
    T decode(const std::string& key) const {
        auto it = object_->find(key);
        if (it == object_->end()) throwKeyNotFound(key);
        return coding_detail::decodeValue<T>(*it, pathWith(key));
    }

    template <typename T>
    std::optional<T> decodeIfPresent(const std::string& key) const {
        auto it = object_->find(key);
        if (it == object_->end() || it->is_null()) return std::nullopt;
        return coding_detail::decodeValue<T>(*it, pathWith(key));
    }

    KeyedDecodingContainer nestedContainer(const std::string& key) const;
    // The raw JSON of a member, for the rare field that holds free-form data.
    const nlohmann::json& rawValue(const std::string& key) const;

  private:
    [[noreturn]] void throwKeyNotFound(const std::string& key) const;
    std::vector<std::string> pathWith(const std::string& key) const {
        auto path = codingPath_;
        path.push_back(key);
        return path;
    }

    const nlohmann::json* object_;
    std::vector<std::string> codingPath_;
};

// Parses JSON text with a size and a nesting limit and decodes a value of T
// from it: a record (DecodableRecord), std::string, bool, an integer type,
// double, Date (seconds since 2001 as a number), std::optional, std::vector
// or std::map<std::string, T> of these, or nlohmann::json itself.
class JSONDecoder {
  public:
    size_t maximumBytes = 16 * 1024 * 1024;
    int maximumDepth = 256;

    template <typename T>
    T decode(std::string_view text) const {
        nlohmann::json root = parse(text);
        return coding_detail::decodeValue<T>(root, {});
    }
    template <typename T>
    T decode(const std::vector<uint8_t>& bytes) const {
        return decode<T>(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }

    // The JSON value of the text; DecodingError (dataCorrupted) when it is not
    // valid JSON, too big, nested too deep or holds a number out of range.
    nlohmann::json parse(std::string_view text) const;
};

namespace coding_detail {

template <typename T>
T decodeValue(const nlohmann::json& value, const Path& path) {
    if constexpr (IsOptional<T>::value) {
        if (value.is_null()) return std::nullopt;
        return decodeValue<typename T::value_type>(value, path);
    } else if constexpr (std::is_same_v<T, nlohmann::json>) {
        return value;
    } else {
        if (value.is_null()) throwValueNotFound(typeName<T>(), path);
        if constexpr (std::is_same_v<T, std::string>) {
            if (!value.is_string()) throwTypeMismatch(typeName<T>(), value, path);
            return value.get_ref<const std::string&>();
        } else if constexpr (std::is_same_v<T, bool>) {
            if (!value.is_boolean()) throwTypeMismatch(typeName<T>(), value, path);
            return value.get<bool>();
        } else if constexpr (Integer<T>) {
            if (!value.is_number()) throwTypeMismatch(typeName<T>(), value, path);
            using Limits = std::numeric_limits<T>;
            if (value.is_number_unsigned()) {
                auto v = value.get<uint64_t>();
                if (v > static_cast<uint64_t>(Limits::max()))
                    throwNumberDoesNotFit(value, typeName<T>(), path);
                return static_cast<T>(v);
            }
            if (value.is_number_integer()) {
                auto v = value.get<int64_t>();
                if constexpr (std::is_signed_v<T>) {
                    if (v < static_cast<int64_t>(Limits::min()) || v > static_cast<int64_t>(Limits::max())) {
                        throwNumberDoesNotFit(value, typeName<T>(), path);
                    }
                } else {
                    if (v < 0 || static_cast<uint64_t>(v) > static_cast<uint64_t>(Limits::max())) {
                        throwNumberDoesNotFit(value, typeName<T>(), path);
                    }
                }
                return static_cast<T>(v);
            }
            // A floating-point form holding an exact integer in range (12.0,
            // 1.2e1) is that integer; a fraction does not fit.
            double v = value.get<double>();
            double lower = static_cast<double>(Limits::min());
            double upperExclusive = std::ldexp(1.0, Limits::digits);
            if (!std::isfinite(v) || v != std::trunc(v) || v < lower || v >= upperExclusive) {
                throwNumberDoesNotFit(value, typeName<T>(), path);
            }
            return static_cast<T>(v);
        } else if constexpr (std::is_floating_point_v<T>) {
            if (!value.is_number()) throwTypeMismatch(typeName<T>(), value, path);
            double v = value.get<double>();
            if (!std::isfinite(v) ||
                (std::is_same_v<T, float> && std::fabs(v) > std::numeric_limits<float>::max())) {
                throwNumberDoesNotFit(value, typeName<T>(), path);
            }
            return static_cast<T>(v);
        } else if constexpr (std::is_same_v<T, Date>) {
            if (!value.is_number()) throwTypeMismatch(typeName<T>(), value, path);
            double v = value.get<double>();
            if (!std::isfinite(v)) throwNumberDoesNotFit(value, typeName<T>(), path);
            return Date{v};
        } else if constexpr (IsVector<T>::value) {
            if (!value.is_array()) throwTypeMismatch(typeName<T>(), value, path);
            T result;
            result.reserve(value.size());
            for (size_t i = 0; i < value.size(); ++i) {
                auto elementPath = path;
                elementPath.push_back(indexKey(i));
                result.push_back(decodeValue<typename T::value_type>(value[i], elementPath));
            }
            return result;
        } else if constexpr (IsStringMap<T>::value) {
            if (!value.is_object()) throwTypeMismatch(typeName<T>(), value, path);
            T result;
            for (auto it = value.begin(); it != value.end(); ++it) {
                auto memberPath = path;
                memberPath.push_back(it.key());
                result.emplace(it.key(), decodeValue<typename T::mapped_type>(it.value(), memberPath));
            }
            return result;
        } else {
            static_assert(DecodableRecord<T>, "T must be a DecodableRecord or a supported value type");
            if (!value.is_object()) throwTypeMismatch(typeName<T>(), value, path);
            return T::decode(KeyedDecodingContainer(value, path));
        }
    }
}

}  // namespace coding_detail

}  // namespace platform
