#include "geodesy/DMS.hpp"

#include <cmath>
#include <vector>

#include "geodesy/detail/TextSupport.hpp"
#include "platform/text/Numbers.hpp"
#include "platform/text/Unicode.hpp"

namespace tervolo::geodesy {

namespace {

// 10^p as a Double: exact for the place counts that make sense, and finite however large p is.
double powerOfTen(unsigned p) {
    return p > 308 ? HUGE_VAL : std::pow(10.0, static_cast<double>(p));
}

// printf precision is an int; more than a few hundred places cannot change a Double's text anyway.
int printfPlaces(unsigned p) {
    return p > 400 ? 400 : static_cast<int>(p);
}

std::string placesText(double value, unsigned p) {
    return platform::text::formatC("%.*f", printfPlaces(p), value);
}

// Zero padding to three integer digits, chosen on the text as printed, so a value that rounds up to the
// next power of ten is padded for its printed width ("010.00°", not "0010.00°").
std::string padDegrees(std::string text) {
    size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
    if (digits >= 3 || digits == 0) return text;
    return std::string(3 - digits, '0') + text;
}

std::string wholeNumberText(double value) {
    return platform::text::formatC("%.0f", value);
}

struct Rendered {
    std::string text;
    double
        degrees;  // the whole degrees after rounding and carries (for the degrees format: the printed value)
};

Rendered render(double deg, DMSFormat format, unsigned p) {
    const double d = std::fabs(deg);
    const double factor = powerOfTen(p);
    switch (format) {
        case DMSFormat::degrees: {
            std::string number = placesText(d, p);
            const auto parsed = platform::text::parseDoublePrefix(number);
            const double printed = parsed ? parsed->first : d;
            return {padDegrees(std::move(number)) + "°", printed};
        }
        case DMSFormat::degreesMinutes: {
            if (!std::isfinite(d)) return {std::isnan(d) ? "NaN" : "inf", d};
            double D = std::trunc(d);
            double m = std::fmod(d * 60.0, 60.0);
            m = std::round(m * factor) / factor;
            if (m == 60.0) {
                D += 1.0;
                m = 0.0;
            }
            std::string minutes = placesText(m, p);
            if (m < 10.0) minutes = "0" + minutes;
            return {padDegrees(wholeNumberText(D)) + "° " + minutes + "'", D};
        }
        case DMSFormat::degreesMinutesSeconds: {
            if (!std::isfinite(d)) return {std::isnan(d) ? "NaN" : "inf", d};
            double D = std::trunc(d);
            double M = std::trunc(std::fmod(d * 3600.0 / 60.0, 60.0));
            double s = std::fmod(d * 3600.0, 60.0);
            s = std::round(s * factor) / factor;
            if (s == 60.0) {
                M += 1.0;
                s = 0.0;
            }
            if (M == 60.0) {
                D += 1.0;
                M = 0.0;
            }
            std::string minutes = wholeNumberText(M);
            if (M < 10.0) minutes = "0" + minutes;
            std::string seconds = placesText(s, p);
            if (s < 10.0) seconds = "0" + seconds;
            return {padDegrees(wholeNumberText(D)) + "° " + minutes + "' " + seconds + "\"", D};
        }
    }
    return {};
}

bool isCompassLetter(char c) {
    switch (c) {
        case 'N':
        case 'S':
        case 'E':
        case 'W':
        case 'n':
        case 's':
        case 'e':
        case 'w':
            return true;
        default:
            return false;
    }
}

bool isNumericRunChar(char c) {
    return (c >= '0' && c <= '9') || c == '.' || c == ',';
}

}  // namespace

double DMS::castToDouble(std::string_view text) {
    const auto prefix = platform::text::parseDoublePrefix(text);
    return prefix ? prefix->first : 0.0;
}

double DMS::parseDMS(std::string_view degMinSec) {
    return parseDMSChecked(degMinSec).value_or(0.0);
}

std::optional<double> DMS::parseDMSChecked(std::string_view degMinSec) {
    // 1. The whole text is a number.
    if (const auto whole = platform::text::parseDoublePrefix(degMinSec);
        whole && whole->second == degMinSec.size()) {
        return whole->first;
    }
    // 2. Trim, drop one leading minus, trim, drop one final compass letter, trim.
    std::string t = platform::text::trimmed(degMinSec);
    if (!t.empty() && t.front() == '-') t = platform::text::trimmed(std::string_view(t).substr(1));
    if (!t.empty() && isCompassLetter(t.back()))
        t = platform::text::trimmed(std::string_view(t).substr(0, t.size() - 1));
    // 3.-4. Pieces from the start of one numeric run to the start of the next.
    std::vector<size_t> starts;
    for (size_t i = 0; i < t.size();) {
        if (isNumericRunChar(t[i])) {
            starts.push_back(i);
            if (starts.size() > 3) return 0.0;
            while (i < t.size() && isNumericRunChar(t[i])) ++i;
        } else {
            ++i;
        }
    }
    double values[3] = {0.0, 0.0, 0.0};
    for (size_t k = 0; k < starts.size(); ++k) {
        const size_t end = k + 1 < starts.size() ? starts[k + 1] : t.size();
        values[k] =
            castToDouble(platform::text::trimmed(std::string_view(t).substr(starts[k], end - starts[k])));
    }
    // 5. One to three numbers; none or more than three give 0 with no sign.
    double d = 0.0;
    switch (starts.size()) {
        case 1:
            d = values[0];
            break;
        case 2:
            if (!(values[1] < 60.0)) return std::nullopt;
            d = values[0] + values[1] / 60.0;
            break;
        case 3:
            if (!(values[1] < 60.0) || !(values[2] < 60.0)) return std::nullopt;
            d = values[0] + values[1] / 60.0 + values[2] / 3600.0;
            break;
        default:
            return 0.0;
    }
    // 6. Sign from the text as passed in: "^-|[WSws]$" ("$" also matches before a final line terminator).
    bool negative = !degMinSec.empty() && degMinSec.front() == '-';
    if (!negative) {
        const std::string_view body =
            degMinSec.substr(0, degMinSec.size() - detail::finalLineTerminatorLength(degMinSec));
        const auto endsWith = [](std::string_view s) {
            if (s.empty()) return false;
            const char c = s.back();
            return c == 'W' || c == 'S' || c == 'w' || c == 's';
        };
        negative = endsWith(degMinSec) || endsWith(body);
    }
    return negative ? -d : d;
}

std::string DMS::toDMS(double deg, DMSFormat format, unsigned decimalPlaces) {
    return render(deg, format, decimalPlaces).text;
}

std::string DMS::toLat(double deg, DMSFormat format, unsigned decimalPlaces) {
    std::string text = toDMS(deg, format, decimalPlaces);
    // Latitudes need only two degree digits: drop the first padding digit.
    if (!text.empty() && text.front() >= '0' && text.front() <= '9') text.erase(0, 1);
    return std::string(deg < 0 ? "S" : "N") + " " + text;
}

std::string DMS::toLon(double deg, DMSFormat format, unsigned decimalPlaces) {
    return std::string(deg < 0 ? "W" : "E") + " " + toDMS(deg, format, decimalPlaces);
}

std::string DMS::toBrng(double deg, DMSFormat format, unsigned decimalPlaces) {
    const double b = std::fmod(deg + 360.0, 360.0);
    Rendered rendered = render(b, format, decimalPlaces);
    // A bearing that rounds up to 360 reads as 0. Decided on the rounded value, never by editing the text
    // (a "360" inside "001.360°" is not a full turn).
    if (rendered.degrees >= 360.0) rendered = render(0.0, format, decimalPlaces);
    return rendered.text;
}

std::string DMS::compassPoint(double bearing, unsigned precision) {
    static const char* const kNames[16] = {"N", "NNE", "NE", "ENE", "E", "ESE", "SE", "SSE",
                                           "S", "SSW", "SW", "WSW", "W", "WNW", "NW", "NNW"};
    if (std::isnan(bearing) || std::isinf(bearing)) return "";
    // Precision 0 would ask for two points; it counts as 1. Beyond 32 points the names only repeat, and a
    // cap keeps n finite.
    const unsigned p = precision == 0 ? 1 : (precision > 60 ? 60 : precision);
    const double n = 4.0 * std::ldexp(1.0, static_cast<int>(p) - 1);
    const double b = std::fmod(std::fmod(bearing, 360.0) + 360.0, 360.0);
    const double k = std::fmod(std::round(b * n / 360.0), n);
    const auto index = static_cast<int>(std::trunc(k * 16.0 / n));
    return kNames[index & 15];
}

}  // namespace tervolo::geodesy
