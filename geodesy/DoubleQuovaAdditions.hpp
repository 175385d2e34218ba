#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Distance and bearing texts for the screens, and a guarded integer conversion.
namespace tervolo::geodesy {

// The value truncated toward zero; nothing for NaN or outside [−2^63, 2^63).
std::optional<int64_t> toInt(double value);

// The localized text of a distance in metres (medium unit style, in the user's locale): below 1000 m
// without fraction digits on a natural scale of units, from 1000 m on with exactly one fraction digit.
// Nothing for a negative (or NaN) distance.
std::optional<std::string> distanceDescription(double metres);

// The 16-point compass name of a bearing in degrees clockwise from north ("N", "NNE", …); the names other
// than N and S are localized. Nothing above 360, below 0, or for NaN. Writes one debug log line.
std::optional<std::string> bearingDescription(double bearing);

}  // namespace tervolo::geodesy
