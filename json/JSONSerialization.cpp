#include "json/JSONSerialization.hpp"

#include <locale.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>

#include "json/JSONValueError.hpp"

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

// The high bit of each of the eight bytes (in memory order, little-endian)
// that is '"', '\\', a control character or non-ASCII. Bits above the lowest
// one set may be false (a borrow runs on), so only the lowest tells a place.
inline uint64_t specialBytes(uint64_t v) {
    constexpr uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
    auto hasZero = [](uint64_t x) { return (x - ones) & ~x & highs; };
    uint64_t quote = hasZero(v ^ (ones * '"'));
    uint64_t backslash = hasZero(v ^ (ones * '\\'));
    uint64_t control = (v - ones * 0x20) & ~v & highs;
    return quote | backslash | control | (v & highs);
}

// True when any of the eight bytes is '"', '\\', a control character or non-ASCII.
inline bool hasSpecialByte(uint64_t v) {
    return specialBytes(v) != 0;
}

// Bytes before the first of the eight (in memory order) that has a bit set in
// `marks`, 8 when none has.
inline int bytesBeforeMark(uint64_t marks) {
    static_assert(std::endian::native == std::endian::little, "bytes are counted from the lowest");
    return marks == 0 ? 8 : std::countr_zero(marks) / 8;
}

// Bytes before the first special one of the eight (see specialBytes), 8 when none is.
inline int plainBytes(uint64_t v) {
    return bytesBeforeMark(specialBytes(v));
}

// The high bit of each of the eight bytes that is `byte`; as in specialBytes,
// only the lowest one set tells a place.
inline uint64_t bytesEqualTo(uint64_t v, char byte) {
    constexpr uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
    const uint64_t x = v ^ (ones * static_cast<unsigned char>(byte));
    return (x - ones) & ~x & highs;
}

// True when any of the eight bytes is `byte`.
inline bool hasByte(uint64_t v, char byte) {
    return bytesEqualTo(v, byte) != 0;
}

// Length of the valid UTF-8 sequence starting at p (lead byte >= 0x80), or 0.
// Refuses overlong forms, surrogates and code points above U+10FFFF, as
// platform::text::nextCodePoint does; its own code, without the code point,
// so that it is inlined into the loops over texts.
inline size_t utf8SequenceLength(const unsigned char* p, const unsigned char* end) {
    const unsigned lead = p[0];
    const ptrdiff_t available = end - p;
    const auto continuation = [p](int i) { return (p[i] & 0xC0) == 0x80; };
    if (lead < 0xC2) return 0;  // a continuation byte, or an overlong form of ASCII
    if (lead < 0xE0) return available >= 2 && continuation(1) ? 2 : 0;
    if (lead < 0xF0) {
        if (available < 3 || !continuation(1) || !continuation(2)) return 0;
        if (lead == 0xE0 && p[1] < 0xA0) return 0;   // overlong
        if (lead == 0xED && p[1] >= 0xA0) return 0;  // UTF-16 surrogate
        return 3;
    }
    if (lead < 0xF5) {
        if (available < 4 || !continuation(1) || !continuation(2) || !continuation(3)) return 0;
        if (lead == 0xF0 && p[1] < 0x90) return 0;   // overlong
        if (lead == 0xF4 && p[1] >= 0x90) return 0;  // beyond U+10FFFF
        return 4;
    }
    return 0;
}

// The value of a hex digit, -1 for any other byte.
constexpr auto hexValue = [] {
    std::array<int8_t, 256> table{};
    for (int c = 0; c < 256; ++c)
        table[static_cast<size_t>(c)] = c >= '0' && c <= '9'   ? static_cast<int8_t>(c - '0')
                                        : c >= 'a' && c <= 'f' ? static_cast<int8_t>(c - 'a' + 10)
                                        : c >= 'A' && c <= 'F' ? static_cast<int8_t>(c - 'A' + 10)
                                                               : int8_t{-1};
    return table;
}();

// JSON's one-letter escapes: the letter after the backslash and the byte it
// stands for. The reader's and the writer's tables are both made from it.
struct OneLetterEscape {
    char letter;
    char byte;
};
constexpr OneLetterEscape oneLetterEscapes[] = {
    {'"', '"'}, {'\\', '\\'}, {'/', '/'}, {'b', '\b'}, {'f', '\f'}, {'n', '\n'}, {'r', '\r'}, {'t', '\t'},
};

// What a one-letter escape stands for, by the letter after the backslash; 0
// for \u and anything that is no escape.
constexpr auto simpleEscape = [] {
    std::array<char, 256> table{};
    for (const OneLetterEscape& escape : oneLetterEscapes)
        table[static_cast<unsigned char>(escape.letter)] = escape.byte;
    return table;
}();

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
        // Compact text has nothing to skip: one test.
        if (p_ < end_ && static_cast<unsigned char>(*p_) <= ' ') skipWhitespaceRun();
    }

    // Indented text: a line break, then blanks, which go eight at a time.
    void skipWhitespaceRun() {
        while (p_ < end_) {
            switch (*p_) {
                case ' ':
                    if constexpr (std::endian::native == std::endian::little) {
                        if (end_ - p_ >= 8) {
                            uint64_t v;
                            std::memcpy(&v, p_, 8);
                            // The first byte that is no blank, in memory order; the
                            // first one is a blank, so this moves on by at least one.
                            const uint64_t other = v ^ 0x2020202020202020ull;
                            p_ += bytesBeforeMark(other);
                            break;
                        }
                    }
                    ++p_;
                    break;
                case '\n':
                case '\r':
                case '\t':
                    ++p_;
                    break;
                default:
                    return;
            }
        }
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
        skipWhitespace();
        if (p_ < end_ && *p_ == '}') {
            ++p_;
            --depth_;
            return Any::emptyDictionary();
        }
        // Memory is taken in the order a walk reads it: the dictionary's node
        // first, then each entry, then the entry's value, as in the text.
        Any::DictionarySlot slot;
        Dictionary entries;
        for (;;) {
            skipWhitespace();
            if (p_ == end_ || *p_ != '"') fail("Expected a key in double quotes");
            std::string key = parseString();
            skipWhitespace();
            if (p_ == end_ || *p_ != ':') fail("Expected ':' after a key");
            ++p_;
            // Tried at the end first: keys often come in order (numbered
            // records), and then no search of the tree is needed. A later
            // duplicate's value replaces the earlier one.
            auto entry = entries.try_emplace(entries.end(), std::move(key));
            entry->second = parseValue();
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
        --depth_;
        return slot.fill(std::move(entries));
    }

    // Four hex digits at p_ as a UTF-16 code unit; p_ after them.
    uint32_t parseHex4() {
        if (end_ - p_ < 4) fail("Truncated \\u escape");
        const auto* digits = reinterpret_cast<const unsigned char*>(p_);
        const int32_t v = hexValue[digits[0]] << 12 | hexValue[digits[1]] << 8 | hexValue[digits[2]] << 4 |
                          hexValue[digits[3]];
        // An invalid digit is -1, which sets the sign whatever its place.
        if (v < 0) fail("Invalid \\u escape");
        p_ += 4;
        return static_cast<uint32_t>(v);
    }

    // The plain bytes from p_ on, up to the next quote, backslash or control
    // character, whose multi-byte sequences are valid UTF-8; p_ stops there.
    void skipPlain() {
        for (;;) {
            // Eight bytes at a time, then straight to the first special one.
            while (end_ - p_ >= 8) {
                uint64_t v;
                std::memcpy(&v, p_, 8);
                const int plain = plainBytes(v);
                p_ += plain;
                if (plain < 8) break;
            }
            if (p_ == end_) fail("Unterminated string");
            const auto c = static_cast<unsigned char>(*p_);
            if (c < 0x80) {
                if (c == '"' || c == '\\' || c < 0x20) return;
                ++p_;
                continue;
            }
            const size_t n = utf8SequenceLength(reinterpret_cast<const unsigned char*>(p_),
                                                reinterpret_cast<const unsigned char*>(end_));
            if (n == 0) fail("Invalid UTF-8");
            p_ += n;
        }
    }

    // p_ at the opening quote; leaves p_ after the closing quote.
    std::string parseString() {
        const char* start = ++p_;
        skipPlain();
        if (*p_ == '"') {
            // Most texts have no escape: taken as they stand, in one allocation.
            std::string text(start, p_);
            ++p_;
            return text;
        }
        return parseEscapedString(start);
    }

    // The rest of a text that has an escape at p_, decoded into the parser's
    // scratch buffer and then copied once at its final size. A decoded text is
    // never longer than its source (an escape of 2, 6 or 12 bytes gives 1 to 4),
    // so a buffer as long as the source read so far always has room.
    std::string parseEscapedString(const char* start) {
        size_t length = 0;  // decoded bytes in scratch_
        for (const char* chunk = start;;) {
            const size_t plain = static_cast<size_t>(p_ - chunk);
            reserveScratch(static_cast<size_t>(p_ - start) + 12);
            std::memcpy(scratch_.get() + length, chunk, plain);
            length += plain;
            if (*p_ == '"') break;
            if (*p_ != '\\') fail("Unescaped control character in string");
            // Escapes, as many as follow each other.
            do {
                ++p_;
                if (p_ == end_) fail("Unterminated string");
                char* to = scratch_.get() + length;
                const char escape = *p_++;
                const char simple = simpleEscape[static_cast<unsigned char>(escape)];
                if (simple != 0) {
                    *to = simple;
                    ++length;
                } else if (escape == 'u') {
                    length += static_cast<size_t>(decodeUnicodeEscape(to));
                } else {
                    --p_;
                    fail("Invalid escape");
                }
                reserveScratch(static_cast<size_t>(p_ - start) + 12);
            } while (p_ < end_ && *p_ == '\\');
            chunk = p_;
            skipPlain();
        }
        ++p_;
        return std::string(scratch_.get(), length);
    }

    // After "\u": one code point (a pair of surrogate escapes for one beyond
    // the Basic Multilingual Plane) written to `to` as UTF-8; its length.
    int decodeUnicodeEscape(char* to) {
        uint32_t cp = parseHex4();
        if (cp < 0x80) {
            to[0] = static_cast<char>(cp);
            return 1;
        }
        if (cp < 0x800) {
            to[0] = static_cast<char>(0xC0 | (cp >> 6));
            to[1] = static_cast<char>(0x80 | (cp & 0x3F));
            return 2;
        }
        if (cp < 0xD800 || cp > 0xDFFF) {
            to[0] = static_cast<char>(0xE0 | (cp >> 12));
            to[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            to[2] = static_cast<char>(0x80 | (cp & 0x3F));
            return 3;
        }
        if (cp >= 0xDC00) fail("Unpaired low surrogate");
        if (end_ - p_ < 2 || p_[0] != '\\' || p_[1] != 'u') fail("Unpaired high surrogate");
        p_ += 2;
        const uint32_t low = parseHex4();
        if (low < 0xDC00 || low > 0xDFFF) fail("Unpaired high surrogate");
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        to[0] = static_cast<char>(0xF0 | (cp >> 18));
        to[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        to[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        to[3] = static_cast<char>(0x80 | (cp & 0x3F));
        return 4;
    }

    // Room for `size` bytes in scratch_, keeping what it holds.
    void reserveScratch(size_t size) {
        if (size <= scratchSize_) return;
        const size_t grown = std::max(size, scratchSize_ * 2);
        std::unique_ptr<char[]> fresh(new char[grown]);
        if (scratchSize_ > 0) std::memcpy(fresh.get(), scratch_.get(), scratchSize_);
        scratch_ = std::move(fresh);
        scratchSize_ = grown;
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
    // Escaped texts are decoded here, kept from one text to the next.
    std::unique_ptr<char[]> scratch_;
    size_t scratchSize_ = 0;
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

    static constexpr size_t capacity = 8192;

  private:
    void flush() {
        out_.append(buffer_, cur_);
        cur_ = buffer_;
    }
    std::string& out_;
    size_t mark_;
    bool finished_ = false;
    char buffer_[capacity];
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

// What follows the backslash when a byte of a text is escaped: the letter of
// a one-letter escape, 'u' for the other control characters (\u00XX), 0 for
// bytes written as they are. "/" is escaped only when asked for.
constexpr auto outputEscape = [] {
    std::array<char, 256> table{};
    for (size_t c = 0; c < 0x20; ++c) table[c] = 'u';
    for (const OneLetterEscape& escape : oneLetterEscapes)
        table[static_cast<unsigned char>(escape.byte)] = escape.letter;
    return table;
}();

// Writes byte `c` escaped with `letter` (its outputEscape) at `to`, two bytes
// or six; the end of what it wrote.
inline char* writeEscape(char* to, unsigned char c, char letter) {
    static const char hex[] = "0123456789abcdef";
    to[0] = '\\';
    to[1] = letter;
    if (letter != 'u') return to + 2;
    to[2] = '0';
    to[3] = '0';
    to[4] = hex[c >> 4];
    to[5] = hex[c & 15];
    return to + 6;
}

template <typename Out>
bool writeQuoted(Out& out, std::string_view text, bool escapeSlashes) {
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
        const char escape = outputEscape[c];
        if (escape == 0 || (c == '/' && !escapeSlashes)) {
            ++p;
            continue;
        }
        out.put(chunk, static_cast<size_t>(p - chunk));
        char written[6];
        out.put(written, static_cast<size_t>(writeEscape(written, c, escape) - written));
        chunk = ++p;
    }
    out.put(chunk, static_cast<size_t>(p - chunk));
    out.put('"');
    return true;
}

// Texts up to this long are written straight into the output's buffer: room
// for each byte as \u00XX, the quotes, and the eight bytes a word may store
// beyond what it keeps.
constexpr size_t directTextLimit = (Output::capacity - 16) / 6;

// writeQuoted for a text of at most directTextLimit bytes: each eight bytes
// are stored before they are looked at, and only a byte that needs care (an
// escape, a multi-byte character to validate) is handled on its own.
bool writeQuotedDirect(Output& out, std::string_view text, bool escapeSlashes) {
    const char* p = text.data();
    const char* end = p + text.size();
    char* to = out.room(6 * text.size() + 16);
    *to++ = '"';
    for (;;) {
        while (end - p >= 8) {
            uint64_t v;
            std::memcpy(&v, p, 8);
            std::memcpy(to, &v, 8);
            uint64_t special = specialBytes(v);
            if (escapeSlashes) special |= bytesEqualTo(v, '/');
            const int plain = bytesBeforeMark(special);
            p += plain;
            to += plain;
            if (plain < 8) break;
        }
        if (p == end) break;
        const auto c = static_cast<unsigned char>(*p);
        if (c >= 0x80) {
            const size_t n = utf8SequenceLength(reinterpret_cast<const unsigned char*>(p),
                                                reinterpret_cast<const unsigned char*>(end));
            if (n == 0) return false;
            for (size_t i = 0; i < n; ++i) to[i] = p[i];
            p += n;
            to += n;
            continue;
        }
        const char escape = outputEscape[c];
        ++p;
        if (escape == 0 || (c == '/' && !escapeSlashes)) {
            *to++ = static_cast<char>(c);  // in the last bytes, fewer than eight
            continue;
        }
        to = writeEscape(to, c, escape);
    }
    *to++ = '"';
    out.advance(to);
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

    bool writeText(const std::string& text) {
        return text.size() <= directTextLimit ? writeQuotedDirect(out, text, escapeSlashes)
                                              : writeQuoted(out, text, escapeSlashes);
    }

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
                return writeText(*value.string());
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
                    if (!writeText(key)) return false;
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
