#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

// Number text that never depends on the process locale (setlocale/LC_NUMERIC):
// the point is always the decimal separator and nothing is grouped.
namespace platform::text {

// Which forms a number reader accepts.
enum class NumberSyntax {
    // Optional sign, decimal digits with an optional point and an optional
    // exponent ("-12.5", ".5", "5.", "1e-3"). No hexadecimal, no "inf"/"nan".
    // A value that overflows to infinity is refused, so every result is finite.
    Decimal,
    // Everything the C library's strtod reads in the "C" locale: the decimal
    // forms plus hexadecimal floats ("0x1p3"), "inf"/"infinity" and
    // "nan"/"nan(chars)", in any letter case. Overflow gives +-infinity, as
    // strtod does. Leading white space is NOT skipped.
    CStrtod,
};

// The whole text as one strict decimal number (NumberSyntax::Decimal); none for
// the empty text, leading or trailing white space, trailing characters of any
// kind, hexadecimal, "nan", "inf" and values beyond the double range ("1e400").
// Values too small for a double read as 0 or a subnormal (they are finite).
std::optional<double> parseDouble(std::string_view text);

// The longest leading part of `text` that reads completely as a number in the
// given syntax, with its length in bytes; none when no prefix is a number.
// "51°" gives (51, 2), "12,5" gives (12, 2), "1e" gives (1, 1). The default
// syntax is strtod's (as coordinate-angle readers need), so the value may be
// infinite or NaN there; pass NumberSyntax::Decimal for finite-only decimals.
std::optional<std::pair<double, size_t>> parseDoublePrefix(std::string_view text,
                                                           NumberSyntax syntax = NumberSyntax::CStrtod);

// The reading of a text as a number that user-typed fields get: leading
// Unicode white space skipped, then the longest decimal prefix (the point is
// the only separator: "2,5" reads 2, "12abc" reads 12); 0 when there is no
// number. Overflow gives +-infinity ("1e999" reads +inf), so callers that need
// a finite value must check.
double doubleValue(std::string_view text);

// The platform's shortest decimal form of a double, the text that reads back to
// the same value: "48.0", "0.1", "0.0001", "1e-05", "1234567.125", "-0.0",
// "1e+16", "nan", "inf", "-inf". Integral values keep ".0"; magnitudes below
// 1e-4 and above 2^53 use the exponent form (mantissa digits, "e", sign, at
// least two exponent digits).
std::string describe(double value);

// printf formatting ("%.6f", "%02X", "%0*.*f") with the "C" locale's output,
// whatever the process locale is. Never pass text from outside as the format.
std::string formatC(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace platform::text
