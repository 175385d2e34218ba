#pragma once

#include <cstddef>
#include <string>
#include <string_view>

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

// Case-insensitive, diacritic-sensitive containment under canonical
// equivalence: both texts are compared in NFC after full case folding, and a
// match must not end inside a grapheme cluster. "Barstraße 5" contains "bar"
// and "STRASSE"; "Café" does not contain "cafe"; "Cafe\u0301" contains "Café".
// The empty needle is contained in every text.
bool containsCaseInsensitive(std::string_view haystack, std::string_view needle);

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

}  // namespace platform::text
