#include "geodesy/detail/TextSupport.hpp"

#include <charconv>
#include <cmath>
#include <limits>

#include "platform/text/Numbers.hpp"
#include "platform/text/Unicode.hpp"

namespace tervolo::geodesy::detail {

namespace {

// The UTF-8 character at `index`; an ill-formed byte counts as one non-space code point.
char32_t codePointAt(std::string_view text, size_t index, size_t& length) {
    const auto read = platform::text::nextCodePoint(text, index);
    length = read.length;
    return read.codePoint;
}

bool isWhiteSpace(char32_t cp) {
    return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
           (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F || cp == 0x205F ||
           cp == 0x3000;
}

}  // namespace

size_t characterLengthNonASCII(std::string_view text, size_t index) {
    size_t length = 0;
    codePointAt(text, index, length);
    return length;
}

size_t whitespaceLengthAtNonASCII(std::string_view text, size_t index) {
    size_t length = 0;
    return isWhiteSpace(codePointAt(text, index, length)) ? length : 0;
}

size_t finalLineTerminatorLength(std::string_view text) {
    if (text.empty()) return 0;
    if (text.size() >= 2 && text.substr(text.size() - 2) == "\r\n") return 2;
    if (text.back() == '\n' || text.back() == '\r') return 1;
    if (text.size() >= 2 && text.substr(text.size() - 2) == "\xC2\x85") return 2;
    if (text.size() >= 3 &&
        (text.substr(text.size() - 3) == "\xE2\x80\xA8" || text.substr(text.size() - 3) == "\xE2\x80\xA9"))
        return 3;
    return 0;
}

std::optional<char32_t> uppercaseCharacterNonASCII(char32_t character) {
    const std::string upper = platform::text::uppercased(utf8(character));
    size_t length = 0;
    const char32_t first = upper.empty() ? 0 : codePointAt(upper, 0, length);
    if (upper.empty() || length != upper.size()) return std::nullopt;
    return first;
}

std::string utf8(char32_t cp) {
    std::string out;
    platform::text::appendUTF8(out, cp);
    return out;
}

void splitCharacters(std::string_view text, std::vector<std::string_view>& characters) {
    characters.clear();
    for (size_t i = 0; i < text.size();) {
        size_t length = 0;
        codePointAt(text, i, length);
        characters.push_back(text.substr(i, length));
        i += length;
    }
}

void appendWholeNumber(std::string& out, double value, int width) {
    const double rounded = std::nearbyint(value);
    if (!(std::fabs(rounded) < 1e15)) {
        out += platform::text::formatC("%0*.0f", width, value);
        return;
    }
    char digits[24];
    const auto magnitude = static_cast<uint64_t>(std::fabs(rounded));
    const auto end = std::to_chars(digits, digits + sizeof digits, magnitude).ptr;
    const auto count = static_cast<int>(end - digits);
    const bool negative = std::signbit(rounded);
    if (negative) out.push_back('-');
    const int padding = width - count - (negative ? 1 : 0);
    if (padding > 0) out.append(static_cast<size_t>(padding), '0');
    out.append(digits, end);
}

char32_t firstCodePoint(std::string_view text) {
    size_t length = 0;
    return text.empty() ? 0 : codePointAt(text, 0, length);
}

bool parseInteger(std::string_view text, int64_t& value) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) return false;
    uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        magnitude = magnitude * 10 + static_cast<uint64_t>(text[i] - '0');
        if (magnitude > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + (negative ? 1u : 0u))
            return false;
    }
    value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

}  // namespace tervolo::geodesy::detail
