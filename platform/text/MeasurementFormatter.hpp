#pragma once

#include <optional>
#include <string>

#include "platform/text/Locale.hpp"

// Localised texts of numbers and measurements: numbers through ICU's number
// formatter with the locale's separators, rounded half-to-even (as the
// platform's number formatter does), units with the locale's unit names.
namespace platform::text {

// How long a unit name is: Medium "12 km/h", "1.2 km"; Short "35m", "115′";
// Long "12 kilometres per hour".
enum class UnitStyle { Short, Medium, Long };

// A number with between minFractionDigits and maxFractionDigits fraction
// digits, grouped, in the locale's form: 1234.5 in de_DE with (1, 1) is
// "1.234,5".
std::string formatNumber(double value, int minFractionDigits, int maxFractionDigits,
                         const Locale& locale = Locale::current());

// The text of a distance given in metres (medium unit style), or none for a
// negative or NaN distance:
// - below 1000 m: no fraction digits, unit chosen on a natural scale in the
//   locale's system: metres (metric), feet (US), yards (UK);
// - from 1000 m on: exactly one fraction digit, in the locale's own unit for
//   distances: kilometres (metric) or miles (US, UK). An infinite distance
//   comes out like any large one ("∞ km").
// en_US: 250 → "820 ft", 1500 → "0.9 mi"; de_DE: 999.6 → "1.000 m",
// 1000 → "1,0 km".
std::optional<std::string> formatDistance(double metres, const Locale& locale = Locale::current());

// The text of a speed given in km/h, no fraction digits, medium unit style, in
// the locale's unit for speeds: km/h (metric), mph (US, UK). 12.024 → "12 km/h".
std::string formatSpeed(double kilometresPerHour, const Locale& locale = Locale::current());

// The text of an altitude given in metres, no fraction digits, short unit
// style: metres in a metric locale, else converted to feet. 35 → "35m" (en_GB
// metric) or "115′" (en_US).
std::string formatAltitude(double metres, const Locale& locale = Locale::current());

// A value in one explicit unit ("meter", "kilometer", "foot", "yard", "mile",
// "kilometer-per-hour", "mile-per-hour", "degree"; ICU's simple unit names),
// without conversion, with the given fraction digits and style. Empty for an
// unknown unit.
std::string formatMeasurement(double value, const std::string& unit, int minFractionDigits,
                              int maxFractionDigits, UnitStyle style,
                              const Locale& locale = Locale::current());

}  // namespace platform::text
