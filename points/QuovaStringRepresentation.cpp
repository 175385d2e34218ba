#include "points/QuovaStringRepresentation.hpp"

#include <vector>

#include "logging/QLLogging.hpp"
#include "platform/text/Numbers.hpp"
#include "points/AppTextsAndColors.hpp"

namespace tervolo::points {

namespace {

// An optional "+" or "-" followed by decimal digits only; none for anything
// else (a blank, a point, an empty piece) and for values beyond int range.
std::optional<long> signedInteger(std::string_view piece) {
    std::size_t i = 0;
    bool negative = false;
    if (i < piece.size() && (piece[i] == '+' || piece[i] == '-')) {
        negative = piece[i] == '-';
        ++i;
    }
    if (i == piece.size()) return std::nullopt;
    long value = 0;
    for (; i < piece.size(); ++i) {
        if (piece[i] < '0' || piece[i] > '9') return std::nullopt;
        value = value * 10 + (piece[i] - '0');
        if (value > 1000000) return std::nullopt;  // far outside 0…255 already
    }
    return negative ? -value : value;
}

// Only 0…255 make a component. Larger values or negative ones were once
// built into components outside 0…1 that no writer can turn back into text;
// they are refused with the reader's line instead.
std::optional<long> component(std::string_view piece) {
    auto value = signedInteger(piece);
    if (!value || *value < 0 || *value > 255) return std::nullopt;
    return value;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<platform::Color> quovaInitWithDecimalString(std::string_view rgbString) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = rgbString.find(',', start);
        pieces.push_back(rgbString.substr(
            start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    if (pieces.size() < 3 || pieces.size() > 4) return std::nullopt;
    long rgb[3];
    for (int i = 0; i < 3; ++i) {
        auto value = component(pieces[i]);
        if (!value) {
            QLLogDebug("quovaInitWithDecimalString(rgbString:): Illegal input value " +
                       std::string(rgbString));
            return std::nullopt;
        }
        rgb[i] = *value;
    }
    double alpha = 1.0;
    if (pieces.size() == 4) {
        auto value = component(pieces[3]);
        if (!value) {
            QLLogDebug("quovaInitWithDecimalString(rgbString:): Illegal alpha value " +
                       std::string(rgbString));
            return std::nullopt;
        }
        alpha = *value / 255.0;
    }
    return platform::Color(rgb[0] / 255.0, rgb[1] / 255.0, rgb[2] / 255.0, alpha);
}

std::optional<platform::Color> quovaInitWithHexString(std::string_view fullRGBString) {
    std::string_view text = fullRGBString;
    std::size_t n = text.size();  // UTF-8 bytes
    if (n == 7 || n == 9) {
        if (text.front() != '#') {
            QLLogDebug("quovaInitWithHexString(fullRGBString:): Illegal input value " +
                       std::string(fullRGBString));
            return std::nullopt;
        }
        text.remove_prefix(1);
        --n;
    }
    if (n != 6 && n != 8) {
        QLLogDebug("quovaInitWithHexString(fullRGBString:): Illegal input value " + std::string(text));
        return std::nullopt;
    }
    int values[4] = {0, 0, 0, 255};
    for (std::size_t pair = 0; pair < n / 2; ++pair) {
        // Strictly two hex digits: no sign, no blank, no "0x".
        const int high = hexDigit(text[2 * pair]);
        const int low = hexDigit(text[2 * pair + 1]);
        if (high < 0 || low < 0) {
            QLLogDebug("quovaInitWithHexString(fullRGBString:): Illegal input value " + std::string(text));
            return std::nullopt;
        }
        values[pair] = high * 16 + low;
    }
    return platform::Color(values[0] / 255.0, values[1] / 255.0, values[2] / 255.0, values[3] / 255.0);
}

std::optional<platform::Color::RGBA> quovaRGBAComponents(const platform::Color& color) {
    platform::Color srgb = color;
    if (color.space() == extendedSRGBColorSpace() || color.space() == displayP3ColorSpace()) {
        srgb = color.convertedToSRGB();
    }
    const auto rgba = srgb.components();
    for (double value : {rgba.red, rgba.green, rgba.blue, rgba.alpha}) {
        if (!(value >= 0.0 && value <= 1.0)) return std::nullopt;
    }
    return rgba;
}

std::optional<std::string> quovaHexStringRepresentation(const platform::Color& color, bool withAlpha) {
    const auto rgba = quovaRGBAComponents(color);
    if (!rgba) return std::nullopt;
    std::string text;
    text += platform::text::formatC("%02X", static_cast<int>(rgba->red * 255.0));
    text += platform::text::formatC("%02X", static_cast<int>(rgba->green * 255.0));
    text += platform::text::formatC("%02X", static_cast<int>(rgba->blue * 255.0));
    if (withAlpha) text += platform::text::formatC("%02X", static_cast<int>(rgba->alpha * 255.0));
    return text;
}

std::optional<platform::Color> colorFromStoredString(std::string_view text) {
    if (auto color = quovaInitWithDecimalString(text)) return color;
    return quovaInitWithHexString(text);
}

}  // namespace tervolo::points
