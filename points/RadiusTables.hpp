#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The fixed distance tables the screens offer, and the rules of the radius
// choice that the user-location settings screen and the point details screen
// share: the rows of the radius sheet and the reading of a typed radius.
// Every function builds a new value; nothing here is stored or shared, so
// any thread may call them. Distances are metres.
namespace tervolo::points {

// Radius in metres (compared exactly) → its label. Ordered by radius.
using RadiusChoices = std::map<double, std::string>;
// Label → distance in metres.
using ScaleDistances = std::map<std::string, double>;

// Seven radii: 100 "100 m", 250 "250 m", 500 "500 m", 1000 "1 km",
// 2500 "2,5 km", 5000 "5 km", 15000 "15 km". The labels are fixed texts, not
// localized (the comma in "2,5 km" included).
RadiusChoices metricAlarmRadiusChoices();
// Seven radii, the exact metres of their labels (1 ft = 0.3048 m,
// 1 mi = 1609.344 m): "250 ft", "500 ft", "1000 ft", "1 mi", "3 mi", "5 mi",
// "10 mi". Fixed texts.
RadiusChoices imperialAlarmRadiusChoices();
// The metric table when `usesMetricSystem`, else the imperial one.
RadiusChoices alarmRadiusChoices(bool usesMetricSystem);

// The map scale's steps: 25 m and 50 m, then 1, 2, 5 of each power of ten
// from 100 m to 5000 km (17 entries).
ScaleDistances metricScaleDistances();
// 100, 250, 500, 1000 ft, then 0.5, 1, 2, 5 … 5000 mi (17 entries).
ScaleDistances imperialScaleDistances();

// The mark after the current choice's title: a blank, U+2714 and U+FE0F.
inline constexpr const char* kCurrentChoiceMark = " \u2714\uFE0F";

// One row of the radius sheet, in the order shown.
struct RadiusSheetRow {
    enum class Kind { none, radius, custom, cancel };
    Kind kind = Kind::radius;
    // As shown: localized for none, custom and cancel; the table's label (or
    // the distance text of a radius that is no entry) for a radius; with the
    // mark when it is the current choice.
    std::string title;
    // Metres: 0 for none, the entry's radius for a radius row.
    double radius = 0;
    bool isCurrent = false;
};

// The current radius a sheet marks: `radius` when it is present and above 0,
// else 0 (no circle).
double currentRadiusFor(std::optional<double> radius);

// The sheet for the locale's table and the current radius (metres, 0: none):
// "(none)", the table's entries by ascending radius, "Custom ...", "Cancel".
// A current radius above 0 that is no entry of the table (a typed one, or
// one chosen under the other measurement system) is listed among the
// entries with the localized distance text of that radius as its label. The
// current choice carries kCurrentChoiceMark.
std::vector<RadiusSheetRow> radiusSheetRows(bool usesMetricSystem, double currentRadius);

// The largest radius a typed entry may give: 20,000 km, about half the
// Earth's circumference. A circle beyond it covers the whole world and its
// surrounding region cannot be shown.
inline constexpr double kMaximumCustomRadius = 20000000.0;
// Metres in a yard, for entries typed where the locale is not metric: the
// prompt asks for yards there, while the fixed radius lists stay in feet and
// miles.
inline constexpr double kMetresPerYard = 0.9144;

// A typed radius, read the way user-typed numbers are (leading white space
// skipped, the leading decimal number with a point: "12abc" reads 12, "abc"
// and "" read 0; no hexadecimal, "inf" or "nan").
struct CustomRadiusReading {
    // The number as read (before any unit conversion); +-infinity for a
    // number beyond the double range ("1e400").
    double value = 0;
    // The radius in metres (yards × 0.9144 when the locale is not metric);
    // none unless it is finite, above 0 and at most kMaximumCustomRadius.
    std::optional<double> metres;
};
CustomRadiusReading readCustomRadius(std::string_view text, bool usesMetricSystem);

}  // namespace tervolo::points
