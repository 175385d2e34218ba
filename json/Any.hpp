#pragma once

#include <any>
#include <concepts>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "json/Number.hpp"

namespace tervolo::json {

class JSON;
class Any;

// The null marker.
struct Null {
    bool operator==(const Null&) const = default;
};

using Array = std::vector<Any>;
// Keys in code-point order (byte order of UTF-8), so printing is deterministic.
using Dictionary = std::map<std::string, Any, std::less<>>;
// Raw bytes.
using Data = std::vector<uint8_t>;

// A platform value: what a JSON value holds and hands out. It is a number
// (remembering its width and whether it was a boolean), a text, the null
// marker, an array or a text-keyed dictionary of platform values, raw bytes, a
// JSON value itself, or some other object the JSON value does not support.
//
// Texts, containers and bytes live in shared immutable storage: copying an Any
// is O(1) whatever it holds. Containers remember whether a JSON value is nested
// anywhere inside them, so normalising a container that holds none is O(1).
class Any {
  public:
    enum class Kind : uint8_t { null, number, string, array, dictionary, data, json, other };

    Any() noexcept = default;  // the null marker
    Any(Null) noexcept {}
    Any(std::nullptr_t) noexcept {}
    Any(Number number) noexcept : storage_(number) {}
    Any(bool value) noexcept : storage_(Number::fromBool(value)) {}
    template <std::integral T>
    requires(!std::same_as<T, bool>) Any(T value)
    noexcept : storage_(numberOf(value)) {}
    Any(double value) noexcept : storage_(Number::fromDouble(value)) {}
    Any(float value) noexcept : storage_(Number::fromFloat(value)) {}
    Any(std::string text);
    Any(const char* text) : Any(text ? Any(std::string(text)) : Any()) {}  // nullptr: the null marker
    Any(std::string_view text) : Any(std::string(text)) {}
    Any(std::shared_ptr<const std::string> text);
    Any(Array items);
    Any(Dictionary entries);
    Any(Data bytes);
    Any(const JSON& json);
    // Any other object (a date, say); kept as it is and compared by identity.
    static Any other(std::any object);

    Kind kind() const { return static_cast<Kind>(storage_.index()); }
    bool isNull() const { return kind() == Kind::null; }

    // Each gives the held value when the kind fits, nullptr otherwise.
    const Number* number() const { return std::get_if<Number>(&storage_); }
    const std::string* string() const;
    const Array* array() const;
    const Dictionary* dictionary() const;
    const Data* data() const;
    const JSON* json() const;
    const std::any* otherObject() const;

    // The shared storage of a text (nullptr for other kinds).
    const std::shared_ptr<const std::string>* stringStorage() const {
        return std::get_if<std::shared_ptr<const std::string>>(&storage_);
    }

    // Object equality of the platform: numbers by value (a boolean never equals
    // a number), texts by exact bytes, null equals null, containers item by
    // item, bytes by content, other objects by identity.
    friend bool operator==(const Any& a, const Any& b);

    // True when no JSON value is held at any depth.
    bool isPlain() const;

  private:
    // The JSON value shares these nodes with the platform values it hands
    // out, and changes one in place only while no one else holds it.
    friend class JSON;
    friend class JSONSerialization;

    // Containers known to hold no JSON value (parsed ones), made without a scan.
    struct PlainTag {};
    Any(Array items, PlainTag);
    Any(Dictionary entries, PlainTag);
    // One shared empty array and dictionary: parsed documents hold many, and a
    // shared node is copied before any change anyway.
    static Any emptyArray();
    static Any emptyDictionary();
    struct ArrayNode {
        Array items;
        bool plain = true;  // no JSON value nested anywhere inside
    };
    struct DictionaryNode {
        Dictionary entries;
        bool plain = true;
    };
    struct OtherNode {
        std::any object;
    };
    explicit Any(std::shared_ptr<ArrayNode> node) noexcept : storage_(std::move(node)) {}
    explicit Any(std::shared_ptr<DictionaryNode> node) noexcept : storage_(std::move(node)) {}
    const std::shared_ptr<ArrayNode>* arrayNode() const {
        return std::get_if<std::shared_ptr<ArrayNode>>(&storage_);
    }
    const std::shared_ptr<DictionaryNode>* dictionaryNode() const {
        return std::get_if<std::shared_ptr<DictionaryNode>>(&storage_);
    }

    template <typename T>
    static Number numberOf(T value) {
        if constexpr (std::is_signed_v<T>) {
            if constexpr (sizeof(T) == 1)
                return Number::fromInt8(value);
            else if constexpr (sizeof(T) == 2)
                return Number::fromInt16(value);
            else if constexpr (sizeof(T) == 4)
                return Number::fromInt32(value);
            else
                return Number::fromInt64(value);
        } else {
            if constexpr (sizeof(T) == 1)
                return Number::fromUInt8(value);
            else if constexpr (sizeof(T) == 2)
                return Number::fromUInt16(value);
            else if constexpr (sizeof(T) == 4)
                return Number::fromUInt32(value);
            else
                return Number::fromUInt64(value);
        }
    }

    // Order matches Kind.
    std::variant<Null, Number, std::shared_ptr<const std::string>, std::shared_ptr<ArrayNode>,
                 std::shared_ptr<DictionaryNode>, std::shared_ptr<const Data>, std::shared_ptr<const JSON>,
                 std::shared_ptr<const OtherNode>>
        storage_;
};

// Read on every element access: inline.

inline const std::string* Any::string() const {
    auto p = std::get_if<std::shared_ptr<const std::string>>(&storage_);
    return p ? p->get() : nullptr;
}

inline const Array* Any::array() const {
    auto p = std::get_if<std::shared_ptr<ArrayNode>>(&storage_);
    return p ? &(*p)->items : nullptr;
}

inline const Dictionary* Any::dictionary() const {
    auto p = std::get_if<std::shared_ptr<DictionaryNode>>(&storage_);
    return p ? &(*p)->entries : nullptr;
}

inline const Data* Any::data() const {
    auto p = std::get_if<std::shared_ptr<const Data>>(&storage_);
    return p ? p->get() : nullptr;
}

inline bool Any::isPlain() const {
    switch (kind()) {
        case Kind::json:
            return false;
        case Kind::array:
            return std::get_if<std::shared_ptr<ArrayNode>>(&storage_)->get()->plain;
        case Kind::dictionary:
            return std::get_if<std::shared_ptr<DictionaryNode>>(&storage_)->get()->plain;
        default:
            return true;
    }
}

}  // namespace tervolo::json
