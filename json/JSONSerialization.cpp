#include "json/JSONSerialization.hpp"

#include <locale.h>

#include <algorithm>
#include <cassert>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>

#include "json/JSONValueError.hpp"
#include "platform/text/Unicode.hpp"

namespace tervolo::json {

JSONParseError::JSONParseError(std::string reason, size_t offset)
    : reason_(std::move(reason)),
      offset_(offset),
      message_("The data couldn't be read because it isn't in the correct format: " + reason_ +
               " around byte " + std::to_string(offset)) {}

namespace {

inline bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// True when any of the eight bytes is '"', '\\', a control character or non-ASCII.
inline bool hasSpecialByte(uint64_t v) {
    constexpr uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
    auto hasZero = [](uint64_t x) { return (x - ones) & ~x & highs; };
    uint64_t quote = hasZero(v ^ (ones * '"'));
    uint64_t backslash = hasZero(v ^ (ones * '\\'));
    uint64_t control = (v - ones * 0x20) & ~v & highs;
    return (quote | backslash | control | (v & highs)) != 0;
}

// True when any of the eight bytes is `byte`.
inline bool hasByte(uint64_t v, char byte) {
    constexpr uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
    const uint64_t x = v ^ (ones * static_cast<unsigned char>(byte));
    return ((x - ones) & ~x & highs) != 0;
}

// Length of the valid UTF-8 sequence starting at p (lead byte >= 0x80), or 0.
// Refuses overlong forms, surrogates and code points above U+10FFFF.
inline size_t utf8SequenceLength(const unsigned char* p, const unsigned char* end) {
    const auto read = platform::text::nextCodePoint(
        std::string_view(reinterpret_cast<const char*>(p), static_cast<size_t>(end - p)), 0);
    return read.valid ? read.length : 0;
}

// strtod in the C locale, whatever locale the program runs in.
double strtodC(const char* begin, const char* end) {
    static locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
    std::string copy(begin, end);
    return strtod_l(copy.c_str(), nullptr, cLocale);
}

}  // namespace

class JSONSerialization::Parser {
  public:
    Parser(std::string_view text) : begin_(text.data()), p_(text.data()), end_(text.data() + text.size()) {}

    Any parseDocument() {
        if (static_cast<size_t>(end_ - begin_) > JSONSerialization::maxInputSize) fail("Input too large");
        if (end_ - p_ >= 3 && std::memcmp(p_, "\xEF\xBB\xBF", 3) == 0) p_ += 3;
        Any value = parseValue();
        skipWhitespace();
        if (p_ != end_) fail("Garbage at end");
        return value;
    }

  private:
    [[noreturn]] void fail(const char* reason) {
        throw JSONParseError(reason, static_cast<size_t>(p_ - begin_));
    }

    void skipWhitespace() {
        while (p_ < end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) ++p_;
    }

    void expectWord(const char* word, size_t length) {
        if (static_cast<size_t>(end_ - p_) < length || std::memcmp(p_, word, length) != 0)
            fail("Invalid value");
        p_ += length;
    }

    Any parseValue() {
        skipWhitespace();
        if (p_ == end_) fail("Unexpected end of input");
        switch (*p_) {
            case '{':
                return parseObject();
            case '[':
                return parseArray();
            case '"':
                return Any(parseString());
            case 't':
                expectWord("true", 4);
                return Any(true);
            case 'f':
                expectWord("false", 5);
                return Any(false);
            case 'n':
                expectWord("null", 4);
                return Any();
            default:
                if (*p_ == '-' || isDigit(*p_)) return parseNumber();
                fail("Invalid value");
        }
    }

    void enter() {
        if (++depth_ > JSONSerialization::maxDepth) fail("Too many nested arrays or dictionaries");
        ++p_;
    }

    Any parseArray() {
        enter();
        Any array;
        skipWhitespace();
        if (p_ < end_ && *p_ == ']') {
            ++p_;
            --depth_;
            return Any::emptyArray();
        } else {
            // Elements gather on a stack shared by all levels, so each array
            // is allocated once at its final size.
            size_t base = stack_.size();
            for (;;) {
                stack_.push_back(parseValue());
                skipWhitespace();
                if (p_ == end_) fail("Unexpected end of input in array");
                if (*p_ == ',') {
                    ++p_;
                    continue;
                }
                if (*p_ == ']') {
                    ++p_;
                    break;
                }
                fail("Expected ',' or ']'");
            }
            array = Any::arrayOf(stack_.data() + base, stack_.size() - base);
            stack_.resize(base);
        }
        --depth_;
        return array;
    }

    Any parseObject() {
        enter();
        Dictionary entries;
        skipWhitespace();
        if (p_ < end_ && *p_ == '}') {
            ++p_;
            --depth_;
            return Any::emptyDictionary();
        } else {
            for (;;) {
                skipWhitespace();
                if (p_ == end_ || *p_ != '"') fail("Expected a key in double quotes");
                std::string key = parseString();
                skipWhitespace();
                if (p_ == end_ || *p_ != ':') fail("Expected ':' after a key");
                ++p_;
                Any value = parseValue();
                // A later duplicate replaces the earlier value.
                auto [it, inserted] = entries.try_emplace(std::move(key), std::move(value));
                if (!inserted) it->second = std::move(value);
                skipWhitespace();
                if (p_ == end_) fail("Unexpected end of input in dictionary");
                if (*p_ == ',') {
                    ++p_;
                    continue;
                }
                if (*p_ == '}') {
                    ++p_;
                    break;
                }
                fail("Expected ',' or '}'");
            }
        }
        --depth_;
        return Any(std::move(entries), Any::PlainTag{});
    }

    uint32_t parseHex4() {
        if (end_ - p_ < 4) fail("Truncated \\u escape");
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            char c = *p_++;
            v <<= 4;
            if (c >= '0' && c <= '9')
                v |= c - '0';
            else if (c >= 'a' && c <= 'f')
                v |= c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                v |= c - 'A' + 10;
            else
                fail("Invalid \\u escape");
        }
        return v;
    }

    // p_ at the opening quote; leaves p_ after the closing quote.
    std::string parseString() {
        ++p_;
        std::string out;
        const char* chunk = p_;
        for (;;) {
            while (end_ - p_ >= 8) {
                uint64_t v;
                std::memcpy(&v, p_, 8);
                if (hasSpecialByte(v)) break;
                p_ += 8;
            }
            if (p_ == end_) fail("Unterminated string");
            unsigned char c = static_cast<unsigned char>(*p_);
            if (c == '"') {
                out.append(chunk, p_);
                ++p_;
                return out;
            }
            if (c == '\\') {
                out.append(chunk, p_);
                ++p_;
                if (p_ == end_) fail("Unterminated string");
                switch (*p_++) {
                    case '"':
                        out.push_back('"');
                        break;
                    case '\\':
                        out.push_back('\\');
                        break;
                    case '/':
                        out.push_back('/');
                        break;
                    case 'b':
                        out.push_back('\b');
                        break;
                    case 'f':
                        out.push_back('\f');
                        break;
                    case 'n':
                        out.push_back('\n');
                        break;
                    case 'r':
                        out.push_back('\r');
                        break;
                    case 't':
                        out.push_back('\t');
                        break;
                    case 'u': {
                        uint32_t cp = parseHex4();
                        if (cp >= 0xDC00 && cp <= 0xDFFF) fail("Unpaired low surrogate");
                        if (cp >= 0xD800 && cp <= 0xDBFF) {
                            if (end_ - p_ < 2 || p_[0] != '\\' || p_[1] != 'u')
                                fail("Unpaired high surrogate");
                            p_ += 2;
                            uint32_t low = parseHex4();
                            if (low < 0xDC00 || low > 0xDFFF) fail("Unpaired high surrogate");
                            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                        }
                        platform::text::appendUTF8(out, cp);
                        break;
                    }
                    default:
                        --p_;
                        fail("Invalid escape");
                }
                chunk = p_;
                continue;
            }
            if (c < 0x20) fail("Unescaped control character in string");
            if (c >= 0x80) {
                size_t n = utf8SequenceLength(reinterpret_cast<const unsigned char*>(p_),
                                              reinterpret_cast<const unsigned char*>(end_));
                if (n == 0) fail("Invalid UTF-8");
                p_ += n;
                continue;
            }
            ++p_;
        }
    }

    Any parseNumber() {
        const char* start = p_;
        bool negative = false;
        if (*p_ == '-') {
            negative = true;
            ++p_;
        }
        if (p_ == end_ || !isDigit(*p_)) fail("Invalid number");
        // The significant digits gather in a 64-bit mantissa while they fit.
        uint64_t mantissa = 0;
        int significant = 0;  // digits in the mantissa, leading zeros excluded
        bool exact = true;    // every digit is in the mantissa
        int exponent10 = 0;
        auto addDigit = [&](char c, bool fraction) {
            if (significant < 19) {
                mantissa = mantissa * 10 + static_cast<unsigned>(c - '0');
                if (mantissa != 0) ++significant;
                if (fraction) --exponent10;
            } else {
                exact = false;
                if (!fraction) ++exponent10;
            }
        };
        if (*p_ == '0') {
            ++p_;
        } else {
            while (p_ < end_ && isDigit(*p_)) addDigit(*p_++, false);
        }
        bool integral = true;
        if (p_ < end_ && *p_ == '.') {
            ++p_;
            if (p_ == end_ || !isDigit(*p_)) fail("Invalid number");
            while (p_ < end_ && isDigit(*p_)) addDigit(*p_++, true);
            integral = false;
        }
        if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
            ++p_;
            bool negativeExponent = false;
            if (p_ < end_ && (*p_ == '+' || *p_ == '-')) negativeExponent = *p_++ == '-';
            if (p_ == end_ || !isDigit(*p_)) fail("Invalid number");
            int e = 0;
            while (p_ < end_ && isDigit(*p_)) {
                if (e < 100000) {
                    e = e * 10 + (*p_ - '0');
                } else {
                    // The exponent is beyond any double already, but the digits
                    // before it may have moved the point as far the other way
                    // ("0.000…1e1000000"): the capped sum is no longer the value,
                    // so the full reading below decides.
                    exact = false;
                }
                ++p_;
            }
            exponent10 += negativeExponent ? -e : e;
            integral = false;
        }
        if (p_ < end_ && isDigit(*p_)) fail("Invalid number");  // "01"
        if (integral && exact) {
            if (!negative) {
                if (mantissa <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
                    return Any(Number::fromInt64(static_cast<int64_t>(mantissa)));
                return Any(Number::fromUInt64(mantissa));
            }
            if (mantissa <= uint64_t{1} << 63)
                return Any(Number::fromInt64(static_cast<int64_t>(0 - mantissa)));
        }
        if (integral) {
            // 20 digits or more: an unsigned 64-bit integer when it fits.
            uint64_t value = 0;
            auto r = std::from_chars(start + negative, p_, value);
            if (!negative && r.ec == std::errc() && r.ptr == p_) return Any(Number::fromUInt64(value));
        }
        // Exact when mantissa and power of ten are both exact doubles: one
        // correctly rounded multiplication or division gives the nearest double.
        static const double powers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
        if (exact && mantissa <= (uint64_t{1} << 53) && exponent10 >= -22 && exponent10 <= 22) {
            double d = static_cast<double>(mantissa);
            d = exponent10 < 0 ? d / powers[-exponent10] : d * powers[exponent10];
            return Any(Number::fromDouble(negative ? -d : d));
        }
        double d = 0;
        auto result = std::from_chars(start, p_, d);
        if (result.ec == std::errc::result_out_of_range) {
            // Underflow reads as zero or a subnormal; overflow is refused.
            d = strtodC(start, p_);
        } else if (result.ec != std::errc() || result.ptr != p_) {
            fail("Invalid number");
        }
        if (!std::isfinite(d)) fail("Number out of range");
        return Any(Number::fromDouble(d));
    }

    const char* begin_;
    const char* p_;
    const char* end_;
    size_t depth_ = 0;
    std::vector<Any> stack_;
};

namespace {

// ---- writing -------------------------------------------------------------

// The text being written: tokens are stored through a pointer into a small
// buffer on the stack, which is appended to the caller's string whenever it
// fills. The string grows by its own doubling and is touched once per byte,
// while the per-token work stays on memory in cache.
// What is still in the buffer reaches the string through finish(), never
// through the destructor: that last append may need memory, and its
// bad_alloc must reach the caller rather than end the process.
class Output {
  public:
    explicit Output(std::string& out) : out_(out), mark_(out.size()) {}
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    ~Output() {
        // Left without finishing (an exception, no memory for the text):
        // nothing of it stays. Cutting back never allocates.
        if (!finished_) out_.resize(mark_);
    }

    // Appends what the buffer holds; the text is then complete.
    void finish() {
        flush();
        finished_ = true;
    }

    // Room for n more bytes (at most a buffer's worth) at the end of what was written.
    char* room(size_t n) {
        assert(n <= sizeof buffer_);
        if (static_cast<size_t>(buffer_ + sizeof buffer_ - cur_) < n) flush();
        return cur_;
    }
    void advance(char* to) { cur_ = to; }
    void put(char c) {
        *room(1) = c;
        ++cur_;
    }
    template <size_t N>
    void put(const char (&text)[N]) {
        std::memcpy(room(N - 1), text, N - 1);
        cur_ += N - 1;
    }
    void put(const char* text, size_t n) {
        if (n > sizeof buffer_ / 4) {
            flush();
            out_.append(text, n);
            return;
        }
        std::memcpy(room(n), text, n);
        cur_ += n;
    }
    void reserve(size_t) {}

  private:
    void flush() {
        out_.append(buffer_, cur_);
        cur_ = buffer_;
    }
    std::string& out_;
    size_t mark_;
    bool finished_ = false;
    char buffer_[8192];
    char* cur_ = buffer_;
};

// The same interface over plain appends, for single tokens added to a text
// that keeps growing elsewhere (the library's own printer).
class Appender {
  public:
    explicit Appender(std::string& out) : out_(out) {}
    // Only for the short tokens of numbers.
    char* room(size_t n) {
        assert(n <= sizeof scratch_);
        (void)n;
        return scratch_;
    }
    void advance(char* to) { out_.append(scratch_, to); }
    void put(char c) { out_.push_back(c); }
    template <size_t N>
    void put(const char (&text)[N]) {
        out_.append(text, N - 1);
    }
    void put(const char* text, size_t n) { out_.append(text, n); }
    void reserve(size_t) {}

  private:
    std::string& out_;
    char scratch_[32];
};

template <typename Out>
bool writeQuoted(Out& out, std::string_view text, bool escapeSlashes) {
    static const char hex[] = "0123456789abcdef";
    // The plain case needs the text and its quotes; escapes ask for more.
    out.reserve(text.size() + 2);
    out.put('"');
    const char* p = text.data();
    const char* end = p + text.size();
    const char* chunk = p;
    while (p < end) {
        // Eight plain bytes at a time (no quote, backslash, control, non-ASCII
        // byte, nor a slash when slashes are escaped).
        while (end - p >= 8) {
            uint64_t v;
            std::memcpy(&v, p, 8);
            if (hasSpecialByte(v) || (escapeSlashes && hasByte(v, '/'))) break;
            p += 8;
        }
        if (p == end) break;
        unsigned char c = static_cast<unsigned char>(*p);
        if (c >= 0x80) {
            size_t n = utf8SequenceLength(reinterpret_cast<const unsigned char*>(p),
                                          reinterpret_cast<const unsigned char*>(end));
            if (n == 0) return false;
            p += n;
            continue;
        }
        const char* escape = nullptr;
        switch (c) {
            case '"':
                escape = "\\\"";
                break;
            case '\\':
                escape = "\\\\";
                break;
            case '/':
                escape = escapeSlashes ? "\\/" : nullptr;
                break;
            case '\b':
                escape = "\\b";
                break;
            case '\f':
                escape = "\\f";
                break;
            case '\n':
                escape = "\\n";
                break;
            case '\r':
                escape = "\\r";
                break;
            case '\t':
                escape = "\\t";
                break;
            default:
                break;
        }
        if (escape == nullptr && c >= 0x20) {
            ++p;
            continue;
        }
        out.put(chunk, static_cast<size_t>(p - chunk));
        if (escape != nullptr) {
            out.put(escape, 2);
        } else {
            const char u[6] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
            out.put(u, 6);
        }
        chunk = ++p;
    }
    out.put(chunk, static_cast<size_t>(p - chunk));
    out.put('"');
    return true;
}

template <typename Out>
bool writeNumber(Out& out, const Number& number) {
    // The longest shortest-form double ("-2.2250738585072014e-308") and any
    // 64-bit integer fit.
    constexpr size_t longest = 32;
    switch (number.kind()) {
        case Number::Kind::boolean:
            if (number.boolValue())
                out.put("true");
            else
                out.put("false");
            return true;
        case Number::Kind::float64: {
            const double d = number.doubleValue();
            if (!std::isfinite(d)) return false;
            char* at = out.room(longest);
            out.advance(std::to_chars(at, at + longest, d).ptr);
            return true;
        }
        case Number::Kind::float32: {
            if (!std::isfinite(number.doubleValue())) return false;
            char* at = out.room(longest);
            out.advance(std::to_chars(at, at + longest, number.floatValue()).ptr);
            return true;
        }
        default: {
            char* at = out.room(longest);
            out.advance(number.isUnsignedInteger()
                            ? std::to_chars(at, at + longest, number.unsignedLongLongValue()).ptr
                            : std::to_chars(at, at + longest, number.longLongValue()).ptr);
            return true;
        }
    }
}

struct Writer {
    Output& out;
    WritingOptions options;
    bool pretty = options.contains(WritingOptions::prettyPrinted);
    bool escapeSlashes = !options.contains(WritingOptions::withoutEscapingSlashes);

    void newline(int level) {
        out.put('\n');
        // A buffer's worth at a time: nesting has no bound here.
        for (size_t blanks = static_cast<size_t>(level) * 2; blanks > 0;) {
            const size_t now = std::min<size_t>(blanks, 256);
            char* at = out.room(now);
            std::memset(at, ' ', now);
            out.advance(at + now);
            blanks -= now;
        }
    }

    bool write(const Any& value, int level) {
        switch (value.kind()) {
            case Any::Kind::null:
                out.put("null");
                return true;
            case Any::Kind::number:
                return writeNumber(out, *value.number());
            case Any::Kind::string:
                return writeQuoted(out, *value.string(), escapeSlashes);
            case Any::Kind::array: {
                const Array& items = *value.array();
                out.put('[');
                bool first = true;
                for (const Any& item : items) {
                    if (!first) out.put(',');
                    first = false;
                    if (pretty) newline(level + 1);
                    if (!write(item, level + 1)) return false;
                }
                if (pretty && !items.empty()) newline(level);
                out.put(']');
                return true;
            }
            case Any::Kind::dictionary: {
                const Dictionary& entries = *value.dictionary();
                out.put('{');
                bool first = true;
                for (const auto& [key, item] : entries) {
                    if (!first) out.put(',');
                    first = false;
                    if (pretty) newline(level + 1);
                    if (!writeQuoted(out, key, escapeSlashes)) return false;
                    if (pretty)
                        out.put(" : ");
                    else
                        out.put(':');
                    if (!write(item, level + 1)) return false;
                }
                if (pretty && !entries.empty()) newline(level);
                out.put('}');
                return true;
            }
            default:
                return false;  // bytes, JSON values and other objects are no JSON
        }
    }
};

bool isContainer(const Any& object) {
    return object.kind() == Any::Kind::array || object.kind() == Any::Kind::dictionary;
}

}  // namespace

Any JSONSerialization::jsonObject(std::string_view text, ReadingOptions) {
    // The document's nodes in blocks of its own.
    nodeMemory::BlockScope blocks;
    return Parser(text).parseDocument();
}

Any JSONSerialization::jsonObject(const Data& data, ReadingOptions options) {
    return jsonObject(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), options);
}

bool JSONSerialization::isValidUTF8(std::string_view text) {
    auto p = reinterpret_cast<const unsigned char*>(text.data());
    auto end = p + text.size();
    while (p < end) {
        if (*p < 0x80) {
            ++p;
            continue;
        }
        size_t n = utf8SequenceLength(p, end);
        if (n == 0) return false;
        p += n;
    }
    return true;
}

bool JSONSerialization::appendQuoted(std::string& out, std::string_view text, bool escapeSlashes) {
    const size_t mark = out.size();
    Appender appender(out);
    try {
        if (writeQuoted(appender, text, escapeSlashes)) return true;
    } catch (...) {
        out.resize(mark);  // no memory: no part of the text stays either
        throw;
    }
    out.resize(mark);
    return false;
}

bool JSONSerialization::appendNumber(std::string& out, const Number& number) {
    Appender appender(out);
    return writeNumber(appender, number);
}

void JSONSerialization::write(std::string& out, const Any& object, WritingOptions options) {
    if (!options.contains(WritingOptions::fragmentsAllowed) && !isContainer(object))
        throw JSONValueError(JSONValueError::invalidJSON);
    Output output(out);
    Writer writer{output, options};
    // Refused content leaves the caller's text as it was (the output's destructor).
    if (!writer.write(object, 0)) throw JSONValueError(JSONValueError::invalidJSON);
    output.finish();
}

Data JSONSerialization::data(const Any& object, WritingOptions options) {
    std::string text;
    write(text, object, options);
    return Data(text.begin(), text.end());
}

bool JSONSerialization::isValidJSONObject(const Any& object, WritingOptions options) {
    std::string scratch;
    try {
        write(scratch, object, WritingOptions(options.rawValue & WritingOptions::fragmentsAllowed));
        return true;
    } catch (const JSONValueError&) {
        return false;
    }
}

}  // namespace tervolo::json
