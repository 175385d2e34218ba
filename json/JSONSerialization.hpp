#pragma once

#include <cstddef>
#include <exception>
#include <string>
#include <string_view>

#include "json/Any.hpp"

namespace tervolo::json {

// Options of the parser. All texts are read as RFC 8259 JSON, top-level
// scalars included, so `fragmentsAllowed` changes nothing; the container
// options only matter on a platform whose containers can be immutable.
struct ReadingOptions {
    static constexpr unsigned mutableContainers = 1;
    static constexpr unsigned mutableLeaves = 2;
    static constexpr unsigned fragmentsAllowed = 4;
    unsigned rawValue = 0;
    constexpr ReadingOptions(unsigned raw = 0) : rawValue(raw) {}
};

struct WritingOptions {
    static constexpr unsigned prettyPrinted = 1;  // two blanks per level, " : " between key and value
    static constexpr unsigned sortedKeys = 2;     // keys are always in code-point order here
    static constexpr unsigned fragmentsAllowed = 4;
    static constexpr unsigned withoutEscapingSlashes = 8;  // "/" stays as is instead of "\/"
    unsigned rawValue = 0;
    constexpr WritingOptions(unsigned raw = 0) : rawValue(raw) {}
    constexpr bool contains(unsigned option) const { return (rawValue & option) == option; }
    bool operator==(const WritingOptions&) const = default;
};

// The parser's own error: where and why a text is not JSON.
class JSONParseError : public std::exception {
  public:
    static constexpr int code = 3840;  // the platform's "corrupt JSON" code
    JSONParseError(std::string reason, size_t offset);
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& reason() const { return reason_; }
    size_t offset() const { return offset_; }  // byte offset into the input

  private:
    std::string reason_;
    size_t offset_;
    std::string message_;
};

// Parsing JSON text into platform values and writing platform values as JSON
// text (the platform's JSON serialisation).
class JSONSerialization {
  public:
    // Containers nested deeper than this are refused, which keeps the
    // recursive parser far from the end of the stack on any input.
    static constexpr size_t maxDepth = 512;
    // Inputs larger than this are refused before any work is done.
    static constexpr size_t maxInputSize = size_t{512} << 20;

    // Strict RFC 8259: valid UTF-8 only (a leading byte-order mark is skipped),
    // no lone surrogate escapes, no non-finite numbers; a later duplicate key
    // replaces the earlier one. Integers that fit are kept exactly (int64,
    // else uint64), all others are doubles. Throws JSONParseError.
    static Any jsonObject(std::string_view text, ReadingOptions options = {});
    static Any jsonObject(const Data& data, ReadingOptions options = {});

    // True for an array or dictionary (or, with fragments, any value) whose
    // every nested item is a text of valid UTF-8, a finite number, null, or
    // an array or text-keyed dictionary of the same.
    static bool isValidJSONObject(const Any& object, WritingOptions options = {});

    // Throws JSONValueError::invalidJSON when the object is not valid.
    static Data data(const Any& object, WritingOptions options = {});
    static void write(std::string& out, const Any& object, WritingOptions options = {});

    // A text quoted and escaped per RFC 8259 (control characters as \uXXXX,
    // "/" as "\/" unless told otherwise); false for invalid UTF-8.
    static bool appendQuoted(std::string& out, std::string_view text, bool escapeSlashes);
    static bool isValidUTF8(std::string_view text);
    // Shortest round-trip decimal text of a finite number; false for NaN and infinities.
    static bool appendNumber(std::string& out, const Number& number);

  private:
    class Parser;
};

}  // namespace tervolo::json
