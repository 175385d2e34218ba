#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

// Unicode text operations on UTF-8 strings, through ICU. They follow the string
// semantics the program was written against: equality under canonical
// equivalence, ordering by code point of the NFC form (never UTF-16 order), full
// (not one-to-one) case mapping in the root locale. Ill-formed UTF-8 input is
// read with U+FFFD in place of each ill-formed sequence. All functions are
// thread-safe.
namespace platform::text {

// Normalization Form C.
std::string nfc(std::string_view text);

// True when both texts have the same NFC form ("e\u0301" equals "é").
bool canonicallyEqual(std::string_view a, std::string_view b);

// Orders the NFC forms by Unicode code point: negative, 0 or positive.
// U+FF5E sorts before U+1F600 (UTF-16 order would say the opposite).
int compareCodePoints(std::string_view a, std::string_view b);

// Full case mappings in the root locale: "ß" upper-cases to "SS", "İ" lower-cases
// to "i̇"; no locale-specific (Turkish, Lithuanian) rules.
std::string lowercased(std::string_view text);
std::string uppercased(std::string_view text);

// The first grapheme cluster upper-cased (full mapping), the rest unchanged:
// "élan" gives "Élan", "e\u0301lan" gives "E\u0301lan", "ßa" gives "SSa".
std::string capitalizedFirstGrapheme(std::string_view text);

// The first extended grapheme cluster of the text, as it stands ("e\u0301x"
// gives "e\u0301", "🇫🇮a" gives "🇫🇮"); empty for the empty text.
std::string firstGraphemeCluster(std::string_view text);

// Case-insensitive, diacritic-sensitive containment under canonical
// equivalence: both texts are compared in NFC after full case folding, and a
// match must not end inside a grapheme cluster. "Barstraße 5" contains "bar"
// and "STRASSE"; "Café" does not contain "cafe"; "Cafe\u0301" contains "Café".
// The empty needle is contained in every text.
bool containsCaseInsensitive(std::string_view haystack, std::string_view needle);

// A text in the comparison form of containsCaseInsensitive, made once for
// many containment tests (a filter run over a long list folds each title once
// instead of on every run, and the filter text once per run). ASCII text is
// kept as lower-cased bytes, other text as its case-folded NFC form in UTF-16.
// Immutable after construction, so copies may be read from any thread.
class FoldedText {
  public:
    // The empty text.
    FoldedText() = default;
    explicit FoldedText(std::string_view text);

    // The same answer as containsCaseInsensitive(haystack, needle) for the
    // texts this and `needle` were made from.
    bool contains(const FoldedText& needle) const;

  private:
    // ASCII text (the empty text too): its bytes lower-cased, which is its
    // folded NFC form unit for unit. Other text: its folded NFC form. One
    // member, so a list of prepared texts stays small in memory.
    std::variant<std::string, std::u16string> form_;
};

// The text without leading and trailing white space and line ends (the Unicode
// White_Space property: tab, LF, VT, FF, CR, space, U+0085, U+00A0, U+1680,
// U+2000…U+200A, U+2028, U+2029, U+202F, U+205F, U+3000).
std::string trimmed(std::string_view text);

// Number of UTF-16 code units of the text (code points above U+FFFF count 2).
size_t utf16Length(std::string_view text);

// The longest prefix of at most maxBytes bytes that does not split a UTF-8
// sequence.
std::string truncatedUTF8(std::string_view text, size_t maxBytes);

// True when the text is well-formed UTF-8.
bool isValidUTF8(std::string_view text);

// Appends the UTF-8 form of one code point (the caller keeps it a scalar value).
void appendUTF8(std::string& out, char32_t codePoint);

// One code point read from UTF-8 text: its value and the bytes it took.
struct CodePointRead {
    char32_t codePoint;
    uint8_t length;  // 1 to 4
    bool valid;      // false: an ill-formed sequence, read as U+FFFD of length 1
};

// Reads the code point that starts at byte `index` (< text.size()). Strict, as
// the standard defines well-formed UTF-8: a stray continuation byte, a
// truncated sequence, an overlong form, a UTF-16 surrogate or a value beyond
// U+10FFFF is ill-formed, and its first byte is read alone as U+FFFD, so a
// reader that steps by `length` resynchronises at the next byte. Inline: the
// JSON parser and the coordinate readers call it for every non-ASCII
// character.
inline CodePointRead nextCodePoint(std::string_view text, size_t index) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + index;
    const size_t available = text.size() - index;
    const unsigned char lead = p[0];
    if (lead < 0x80) return {lead, 1, true};
    constexpr CodePointRead illFormed{0xFFFD, 1, false};
    const auto continuation = [&](size_t i) { return i < available && (p[i] & 0xC0) == 0x80; };
    if (lead >= 0xC2 && lead <= 0xDF) {
        if (!continuation(1)) return illFormed;
        return {static_cast<char32_t>((lead & 0x1Fu) << 6 | (p[1] & 0x3Fu)), 2, true};
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (!continuation(1) || !continuation(2)) return illFormed;
        if (lead == 0xE0 && p[1] < 0xA0) return illFormed;   // overlong
        if (lead == 0xED && p[1] >= 0xA0) return illFormed;  // UTF-16 surrogate
        return {static_cast<char32_t>((lead & 0x0Fu) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu)), 3, true};
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (!continuation(1) || !continuation(2) || !continuation(3)) return illFormed;
        if (lead == 0xF0 && p[1] < 0x90) return illFormed;   // overlong
        if (lead == 0xF4 && p[1] >= 0x90) return illFormed;  // beyond U+10FFFF
        return {static_cast<char32_t>((lead & 0x07u) << 18 | (p[1] & 0x3Fu) << 12 | (p[2] & 0x3Fu) << 6 |
                                      (p[3] & 0x3Fu)),
                4, true};
    }
    return illFormed;
}

}  // namespace platform::text
