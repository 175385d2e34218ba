#include "points/RadiusTables.hpp"

#include <cmath>

#include "geodesy/DoubleQuovaAdditions.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/text/Numbers.hpp"

namespace tervolo::points {

RadiusChoices metricAlarmRadiusChoices() {
    return {{100, "100 m"},   {250, "250 m"}, {500, "500 m"},  {1000, "1 km"},
            {2500, "2,5 km"}, {5000, "5 km"}, {15000, "15 km"}};
}

RadiusChoices imperialAlarmRadiusChoices() {
    return {{76.2, "250 ft"},   {152.4, "500 ft"}, {304.8, "1000 ft"}, {1609.344, "1 mi"},
            {4828.032, "3 mi"}, {8046.72, "5 mi"}, {16093.44, "10 mi"}};
}

RadiusChoices alarmRadiusChoices(bool usesMetricSystem) {
    return usesMetricSystem ? metricAlarmRadiusChoices() : imperialAlarmRadiusChoices();
}

ScaleDistances metricScaleDistances() {
    return {{"25 m", 25},        {"50 m", 50},       {"100 m", 100},       {"200 m", 200},
            {"500 m", 500},      {"1 km", 1000},     {"2 km", 2000},       {"5 km", 5000},
            {"10 km", 10000},    {"20 km", 20000},   {"50 km", 50000},     {"100 km", 100000},
            {"200 km", 200000},  {"500 km", 500000}, {"1000 km", 1000000}, {"2000 km", 2000000},
            {"5000 km", 5000000}};
}

ScaleDistances imperialScaleDistances() {
    return {{"100 ft", 30.48},    {"250 ft", 76.2},    {"500 ft", 152.4},    {"1000 ft", 304.8},
            {"0.5 mi", 804.672},  {"1 mi", 1609.344},  {"2 mi", 3218.688},   {"5 mi", 8046.72},
            {"10 mi", 16093.44},  {"20 mi", 32186.88}, {"50 mi", 80467.2},   {"100 mi", 160934.4},
            {"200 mi", 321868.8}, {"500 mi", 804672},  {"1000 mi", 1609344}, {"2000 mi", 3218688},
            {"5000 mi", 8046720}};
}

double currentRadiusFor(std::optional<double> radius) {
    return radius && *radius > 0 ? *radius : 0;
}

namespace {

std::string marked(std::string title, bool current) {
    if (current) title += kCurrentChoiceMark;
    return title;
}

}  // namespace

std::vector<RadiusSheetRow> radiusSheetRows(bool usesMetricSystem, double currentRadius) {
    const auto& bundle = platform::Bundle::main();
    RadiusChoices choices = alarmRadiusChoices(usesMetricSystem);
    if (currentRadius > 0 && choices.count(currentRadius) == 0) {
        // A radius the table does not hold still shows as the current choice.
        choices.emplace(currentRadius, geodesy::distanceDescription(currentRadius).value_or(""));
    }

    std::vector<RadiusSheetRow> rows;
    rows.reserve(choices.size() + 3);
    rows.push_back({RadiusSheetRow::Kind::none, marked(bundle.localizedString("(none)"), currentRadius == 0),
                    0, currentRadius == 0});
    for (const auto& [radius, label] : choices) {
        const bool current = radius == currentRadius;
        rows.push_back({RadiusSheetRow::Kind::radius, marked(label, current), radius, current});
    }
    rows.push_back({RadiusSheetRow::Kind::custom, bundle.localizedString("Custom ..."), 0, false});
    rows.push_back({RadiusSheetRow::Kind::cancel, bundle.localizedString("Cancel"), 0, false});
    return rows;
}

CustomRadiusReading readCustomRadius(std::string_view text, bool usesMetricSystem) {
    CustomRadiusReading reading;
    reading.value = platform::text::doubleValue(text);
    const double metres = usesMetricSystem ? reading.value : reading.value * kMetresPerYard;
    if (std::isfinite(metres) && metres > 0 && metres <= kMaximumCustomRadius) reading.metres = metres;
    return reading;
}

}  // namespace tervolo::points
