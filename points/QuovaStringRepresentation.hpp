#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/text/Color.hpp"

// Colours as text, as tags keep them in their files. Two forms exist side by
// side: decimal "246,170,0[,255]" (the default tags) and hex "F6AA00[FF]",
// optionally with a leading "#" (random palette colours, the colour picker).
// Every reader of a stored colour tries the decimal form first and the hex
// form second; hex text holds no comma, so the decimal reader refuses it
// without a log line. All functions are free of shared state.
namespace tervolo::points {

// Three or four decimal integers 0…255 separated by "," (no blanks), red,
// green, blue and an optional alpha (255 when absent). Each component is the
// integer / 255.0 in the extended sRGB space. Fewer than three or more than
// four pieces: none without a line; a piece that is empty, not an integer or
// outside 0…255: none with the debug line "...Illegal input value " (or
// "...Illegal alpha value " for the fourth) and the whole text.
std::optional<platform::Color> quovaInitWithDecimalString(std::string_view rgbString);

// Six or eight hex digits (either case), optionally after one "#", red, green,
// blue and an optional alpha ("FF" when absent); none with the debug line
// "quovaInitWithHexString(fullRGBString:): Illegal input value " otherwise.
std::optional<platform::Color> quovaInitWithHexString(std::string_view fullRGBString);

// The colour's red, green, blue and alpha in sRGB (an extended-sRGB or Display
// P3 colour is matched to sRGB first); none when any lies outside 0…1.
std::optional<platform::Color::RGBA> quovaRGBAComponents(const platform::Color& color);

// Six (or, withAlpha, eight) upper-case hex digits of the sRGB components, each
// ×255 truncated toward zero; none when the colour lies outside the sRGB gamut.
std::optional<std::string> quovaHexStringRepresentation(const platform::Color& color, bool withAlpha);

// Reads a stored colour text the way every reader does: decimal, then hex.
std::optional<platform::Color> colorFromStoredString(std::string_view text);

}  // namespace tervolo::points
