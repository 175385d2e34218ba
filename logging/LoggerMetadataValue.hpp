#pragma once

#include <cstddef>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include <fmt/format.h>

namespace tervolo::logging {

class LoggerMetadataValue;

// Orders metadata keys by the Unicode code points of their NFC forms (plain
// byte order for ASCII keys). Two canonically equivalent keys ("é" written
// precomposed or as "e" + combining accent) are one key, as in a dictionary
// keyed by text; and iteration order is the order in which handlers print keys.
struct MetadataKeyLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
};

// Logger::Metadata: text keys to metadata values.
using LoggerMetadata = std::map<std::string, LoggerMetadataValue, MetadataKeyLess>;

// A value that describes itself as text, kept as it is and described only when
// the description is needed (Logger::MetadataValue's stringConvertible case).
class CustomStringConvertible {
  public:
    virtual ~CustomStringConvertible() = default;
    virtual std::string description() const = 0;
};

namespace detail {

template <typename T>
concept HasDescription = requires(const T& value) {
    { value.description() } -> std::convertible_to<std::string>;
};

std::string describeDouble(double value);

// The text of a payload: Booleans as "true"/"false", floating-point numbers in
// their shortest round-trip form ("48.0"), texts as they are, a value with a
// description() member by that, anything else by its {fmt} form.
template <typename T>
std::string describePayload(const T& value) {
    if constexpr (std::is_same_v<T, bool>) {
        return value ? "true" : "false";
    } else if constexpr (std::is_floating_point_v<T>) {
        return describeDouble(static_cast<double>(value));
    } else if constexpr (std::is_convertible_v<const T&, std::string_view>) {
        return std::string(std::string_view(value));
    } else if constexpr (HasDescription<T>) {
        return std::string(value.description());
    } else {
        return fmt::format("{}", value);
    }
}

}  // namespace detail

// One payload of type T held for a stringConvertible metadata value.
template <typename T>
class StringConvertibleValue final : public CustomStringConvertible {
  public:
    explicit StringConvertibleValue(T value) : value_(std::move(value)) {}
    std::string description() const override { return detail::describePayload(value_); }
    const T& value() const { return value_; }

  private:
    T value_;
};

// Logger::MetadataValue: a text, a self-describing value, a nested metadata
// dictionary or a list of values. An immutable value: the payloads of the
// nested cases are shared between copies, never changed.
class LoggerMetadataValue {
  public:
    enum class Kind { string, stringConvertible, dictionary, array };

    // The empty text (so that `metadata["key"] = value` works).
    LoggerMetadataValue() : storage_(std::string()) {}
    // The text literal form: a string value.
    LoggerMetadataValue(std::string text) : storage_(std::move(text)) {}
    LoggerMetadataValue(std::string_view text) : storage_(std::string(text)) {}
    LoggerMetadataValue(const char* text) : storage_(std::string(text)) {}

    static LoggerMetadataValue string(std::string text) { return LoggerMetadataValue(std::move(text)); }
    static LoggerMetadataValue stringConvertible(std::shared_ptr<const CustomStringConvertible> value);
    // Keeps `value`; its description is taken when a handler prints it.
    template <typename T>
    static LoggerMetadataValue stringConvertible(T value) {
        return stringConvertible(std::shared_ptr<const CustomStringConvertible>(
            std::make_shared<const StringConvertibleValue<std::decay_t<T>>>(std::move(value))));
    }
    static LoggerMetadataValue dictionary(LoggerMetadata entries);
    // The dictionary literal form: a key given twice stops the program with
    // "Duplicate values for key: '<key>'".
    static LoggerMetadataValue dictionary(
        std::initializer_list<std::pair<const std::string, LoggerMetadataValue>> entries);
    // The list literal form.
    static LoggerMetadataValue array(std::vector<LoggerMetadataValue> elements);

    Kind kind() const { return static_cast<Kind>(storage_.index()); }
    // The payload of the value's case; nullptr for the other cases.
    const std::string* asString() const { return std::get_if<0>(&storage_); }
    const CustomStringConvertible* asStringConvertible() const;
    const LoggerMetadata* asDictionary() const;
    const std::vector<LoggerMetadataValue>* asArray() const;
    // The payload of a stringConvertible value when it holds a T, else nullptr.
    template <typename T>
    const T* stringConvertiblePayload() const {
        const auto* box = dynamic_cast<const StringConvertibleValue<T>*>(asStringConvertible());
        return box == nullptr ? nullptr : &box->value();
    }

    // A string as its bare text; a stringConvertible by its payload's
    // description; an array as ["a", "b"] and a dictionary as ["k": "v"] (each
    // element's description in double quotes with backslash escapes); the
    // empty array "[]", the empty dictionary "[:]".
    std::string description() const;

    // Same case and equal payloads: texts under canonical equivalence,
    // self-describing values by their descriptions, dictionaries key by key,
    // arrays element by element.
    friend bool operator==(const LoggerMetadataValue& a, const LoggerMetadataValue& b);

  private:
    using Storage = std::variant<std::string, std::shared_ptr<const CustomStringConvertible>,
                                 std::shared_ptr<const LoggerMetadata>,
                                 std::shared_ptr<const std::vector<LoggerMetadataValue>>>;
    explicit LoggerMetadataValue(Storage storage) : storage_(std::move(storage)) {}

    Storage storage_;
};

// Texts compare equal under canonical equivalence ("é" precomposed equals
// "e" + combining accent); plain byte comparison when both are ASCII.
bool textsEqual(std::string_view a, std::string_view b);

// Two metadata dictionaries with the same keys and equal values under each.
bool metadataEqual(const LoggerMetadata& a, const LoggerMetadata& b);

// The platform's debug form of a text: in double quotes, with a backslash
// before quote and backslash, and escapes for control characters (C0, DEL,
// C1), the Unicode line and paragraph separators and bytes that are not
// UTF-8: whatever it is given, the result is one line, cut after 4 KiB with
// the whole size noted (platform::text::logQuoted). Every text from outside
// the program (links, file names, titles, server replies) is logged through
// it.
std::string debugQuoted(std::string_view text);

}  // namespace tervolo::logging
