#include "platform/text/Numbers.hpp"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <locale.h>
#include <cerrno>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform::text {
namespace {

// The "C" locale object, made once and never freed (readers on any thread may
// still use it at exit).
locale_t cLocale() {
    static locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Length of the longest prefix of `text` in the strict decimal syntax
// [+-]? (digits ('.' digits*)? | '.' digits) ([eE] [+-]? digits)?; 0 when none.
size_t decimalPrefixLength(std::string_view text) {
    size_t i = 0;
    const size_t n = text.size();
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    size_t integerDigits = 0;
    while (i < n && isDigit(text[i])) ++i, ++integerDigits;
    size_t fractionDigits = 0;
    size_t end = integerDigits > 0 ? i : 0;
    if (i < n && text[i] == '.') {
        size_t j = i + 1;
        while (j < n && isDigit(text[j])) ++j, ++fractionDigits;
        if (integerDigits + fractionDigits == 0) return 0;
        i = j;
        end = i;
    }
    if (integerDigits + fractionDigits == 0) return 0;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        if (j < n && (text[j] == '+' || text[j] == '-')) ++j;
        size_t exponentDigits = 0;
        while (j < n && isDigit(text[j])) ++j, ++exponentDigits;
        if (exponentDigits > 0) end = j;
    }
    return end;
}

// strtod in the "C" locale on a NUL-terminated copy (a string_view need not be
// terminated). Returns the value, the consumed length and whether it overflowed.
struct StrtodResult {
    double value = 0;
    size_t length = 0;
    bool overflow = false;
};

StrtodResult cStrtod(std::string_view text) {
    std::string copy(text);
    char* end = nullptr;
    errno = 0;
    const double value = strtod_l(copy.c_str(), &end, cLocale());
    const bool range = errno == ERANGE;
    StrtodResult result;
    result.value = value;
    result.length = static_cast<size_t>(end - copy.c_str());
    result.overflow = range && std::isinf(value);
    return result;
}

bool isCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::optional<double> parseDouble(std::string_view text) {
    const size_t length = decimalPrefixLength(text);
    if (length == 0 || length != text.size()) return std::nullopt;
    const StrtodResult result = cStrtod(text);
    if (result.overflow || result.length != length || !std::isfinite(result.value)) return std::nullopt;
    return result.value;
}

std::optional<std::pair<double, size_t>> parseDoublePrefix(std::string_view text, NumberSyntax syntax) {
    if (syntax == NumberSyntax::Decimal) {
        const size_t length = decimalPrefixLength(text);
        if (length == 0) return std::nullopt;
        const StrtodResult result = cStrtod(text.substr(0, length));
        if (result.overflow || !std::isfinite(result.value)) return std::nullopt;
        return std::make_pair(result.value, length);
    }
    // strtod would skip leading white space; the reader this serves does not.
    if (text.empty() || isCSpace(text[0])) return std::nullopt;
    const StrtodResult result = cStrtod(text);
    if (result.length == 0) return std::nullopt;
    return std::make_pair(result.value, result.length);
}

double doubleValue(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        int32_t offset = static_cast<int32_t>(i);
        UChar32 c = 0;
        U8_NEXT(text.data(), offset, static_cast<int32_t>(text.size()), c);
        if (c < 0 || !u_isUWhiteSpace(c)) break;
        i = static_cast<size_t>(offset);
    }
    const std::string_view rest = text.substr(i);
    const size_t length = decimalPrefixLength(rest);
    if (length == 0) return 0.0;
    return cStrtod(rest.substr(0, length)).value;
}

std::string describe(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    if (value == 0) return std::signbit(value) ? "-0.0" : "0.0";

    // Shortest round-trip digits and the decimal exponent, from to_chars'
    // scientific form "d.ddde±XX".
    char buffer[64];
    const auto [end, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    (void)ec;  // 64 bytes always suffice for a double
    std::string_view scientific(buffer, static_cast<size_t>(end - buffer));
    const bool negative = scientific.front() == '-';
    if (negative) scientific.remove_prefix(1);
    const size_t ePos = scientific.find('e');
    std::string digits;
    for (char c : scientific.substr(0, ePos)) {
        if (c != '.') digits.push_back(c);
    }
    int exponent = 0;
    std::from_chars(scientific.data() + ePos + 1 + (scientific[ePos + 1] == '+' ? 1 : 0),
                    scientific.data() + scientific.size(), exponent);

    std::string out = negative ? "-" : "";
    const double magnitude = std::fabs(value);
    if (magnitude < 1e-4 || magnitude > 9007199254740992.0 /* 2^53 */) {
        out += digits[0];
        if (digits.size() > 1) {
            out += '.';
            out.append(digits, 1, std::string::npos);
        }
        char exponentText[16];
        std::snprintf(exponentText, sizeof exponentText, "e%c%02d", exponent < 0 ? '-' : '+',
                      std::abs(exponent));
        out += exponentText;
        return out;
    }
    if (exponent >= 0) {
        const size_t integerDigits = static_cast<size_t>(exponent) + 1;
        if (digits.size() <= integerDigits) {
            out += digits;
            out.append(integerDigits - digits.size(), '0');
            out += ".0";
        } else {
            out.append(digits, 0, integerDigits);
            out += '.';
            out.append(digits, integerDigits, std::string::npos);
        }
    } else {
        out += "0.";
        out.append(static_cast<size_t>(-exponent - 1), '0');
        out += digits;
    }
    return out;
}

std::string formatC(const char* format, ...) {
    // uselocale switches only this thread, and only for the duration of the
    // call, so other threads' printf output is untouched.
    const locale_t previous = uselocale(cLocale());
    va_list arguments;
    va_start(arguments, format);
    va_list copy;
    va_copy(copy, arguments);
    char small[256];
    const int needed = std::vsnprintf(small, sizeof small, format, arguments);
    va_end(arguments);
    std::string out;
    if (needed < 0) {
        out.clear();
    } else if (static_cast<size_t>(needed) < sizeof small) {
        out.assign(small, static_cast<size_t>(needed));
    } else {
        out.resize(static_cast<size_t>(needed) + 1);
        std::vsnprintf(out.data(), out.size(), format, copy);
        out.resize(static_cast<size_t>(needed));
    }
    va_end(copy);
    uselocale(previous);
    return out;
}

}  // namespace platform::text
