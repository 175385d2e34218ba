#pragma once

// Small text helpers shared by the geodesy parsers and writers (internal).

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tervolo::geodesy::detail {

// Byte length of the Unicode white-space character (the White_Space property: what "\s" matches) that
// starts at `index`, or 0 when the character there is not white space.
size_t whitespaceLengthAtNonASCII(std::string_view text, size_t index);
inline size_t whitespaceLengthAt(std::string_view text, size_t index) {
    const auto byte = static_cast<unsigned char>(text[index]);
    if (byte < 0x80) return (byte == ' ' || (byte >= '\t' && byte <= '\r')) ? 1 : 0;
    return whitespaceLengthAtNonASCII(text, index);
}

// Byte length of the UTF-8 character starting at `index` (an invalid byte counts as one character).
size_t characterLengthNonASCII(std::string_view text, size_t index);
inline size_t characterLength(std::string_view text, size_t index) {
    return static_cast<unsigned char>(text[index]) < 0x80 ? 1 : characterLengthNonASCII(text, index);
}

// The byte offset `count` characters after `index` (at most the end).
inline size_t advance(std::string_view text, size_t index, size_t count) {
    for (; count > 0 && index < text.size(); --count) index += characterLength(text, index);
    return index;
}

// Byte length of the line terminator ending `text` ("\n", "\r", "\r\n", U+0085, U+2028, U+2029), or 0.
// A regular expression's "$" also matches in front of it.
size_t finalLineTerminatorLength(std::string_view text);

// The upper-case form of one character when it is a single character, else nothing ("ß" → "SS").
std::optional<char32_t> uppercaseCharacterNonASCII(char32_t character);
inline std::optional<char32_t> uppercaseCharacter(char32_t character) {
    if (character < 0x80) return (character >= 'a' && character <= 'z') ? character - 'a' + 'A' : character;
    return uppercaseCharacterNonASCII(character);
}

// UTF-8 text of one code point.
std::string utf8(char32_t character);

// The UTF-8 characters (code points) of the text, each as a view into it; invalid bytes count singly.
void splitCharacters(std::string_view text, std::vector<std::string_view>& characters);

// Appends what printf's "%0*.0f" prints for `value` with `width` (0: no padding), without its cost:
// the value rounded to an integer (to even on ties, as printf), zero-padded, with a minus for negative
// values (negative zero included). Huge and non-finite values go through printf itself.
void appendWholeNumber(std::string& out, double value, int width);

// The first code point of the text (0 for an empty text).
char32_t firstCodePoint(std::string_view text);

// The maximal runs of non-white-space characters, in order (what "\S+" finds).
template <typename Visitor>
void forEachGroup(std::string_view text, Visitor&& visit) {
    size_t i = 0;
    while (i < text.size()) {
        const size_t ws = whitespaceLengthAt(text, i);
        if (ws > 0) {
            i += ws;
            continue;
        }
        const size_t start = i;
        while (i < text.size() && whitespaceLengthAt(text, i) == 0) ++i;
        visit(text.substr(start, i - start));
    }
}

// An optionally signed decimal integer filling the whole text; false when the
// text is empty, holds anything else, or the value leaves the int64_t range.
bool parseInteger(std::string_view text, int64_t& value);

}  // namespace tervolo::geodesy::detail
