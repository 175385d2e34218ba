#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>

#include "platform/text/MeasurementFormatter.hpp"

namespace platform::text {
namespace {

struct DistanceRow {
    const char* locale;
    double metres;
    const char* text;
};

TEST(FormatDistance, UnitChoiceAndDigitsPerLocale) {
    const DistanceRow rows[] = {
        // Metric: whole metres below 1000 m, kilometres with one digit from 1000 m.
        {"de_DE", 0, "0 m"},
        {"de_DE", 250.4, "250 m"},
        {"de_DE", 999.4, "999 m"},
        {"de_DE", 999.6, "1.000 m"},  // still the natural-scale branch
        {"de_DE", 1000, "1,0 km"},
        {"de_DE", 1250, "1,2 km"},  // 1.25 half-to-even
        {"de_DE", 1350, "1,4 km"},  // 1.35 half-to-even
        {"de_DE", 12345.67, "12,3 km"},
        {"fr_FR", 999.6, "1\u202F000\u202Fm"},  // narrow no-break spaces
        {"de_CH", 999.6, "1’000 m"},
        // US: feet, then miles.
        {"en_US", 250, "820 ft"},
        {"en_US", 999.6, "3,280 ft"},
        {"en_US", 1000, "0.6 mi"},
        {"en_US", 1609.344 * 2.25, "2.2 mi"},  // exactly 2.25 mi, half-to-even
        {"en_US", 1609.344 * 2.35, "2.4 mi"},
        // UK: yards, then miles.
        {"en_GB", 250, "273 yd"},
        {"en_GB", 1500, "0.9 mi"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(formatDistance(row.metres, Locale(row.locale)), row.text)
            << row.locale << " " << row.metres;
    }
}

TEST(FormatDistance, NegativeAndNaNHaveNoTextInfinityHasOne) {
    const Locale german("de_DE");
    EXPECT_EQ(formatDistance(-1, german), std::nullopt);
    EXPECT_EQ(formatDistance(std::numeric_limits<double>::quiet_NaN(), german), std::nullopt);
    EXPECT_EQ(formatDistance(std::numeric_limits<double>::infinity(), german), "∞ km");
}

TEST(FormatSpeedAndAltitude, LocaleUnits) {
    struct Row {
        const char* locale;
        double value;
        const char* speed;     // value read as km/h
        const char* altitude;  // value read as metres
    };
    const Row rows[] = {
        {"de_DE", 12.024, "12 km/h", "12 m"}, {"en_GB", 12.024, "7 mph", "39′"},
        {"en_US", 35, "22 mph", "115′"},      {"de_DE", 2.5, "2 km/h", "2 m"},  // half-to-even
        {"de_DE", 3.5, "4 km/h", "4 m"},      {"de_DE", 1234.5, "1.234 km/h", "1.234 m"},
    };
    for (const auto& row : rows) {
        const Locale locale(row.locale);
        EXPECT_EQ(formatSpeed(row.value, locale), row.speed) << row.locale;
        EXPECT_EQ(formatAltitude(row.value, locale), row.altitude) << row.locale;
    }
}

TEST(FormatNumber, SeparatorsAndFractionDigits) {
    EXPECT_EQ(formatNumber(1234.5, 1, 1, Locale("de_DE")), "1.234,5");
    EXPECT_EQ(formatNumber(1234.5, 0, 0, Locale("en_US")), "1,234");
    EXPECT_EQ(formatNumber(0.125, 0, 2, Locale("en_US")), "0.12");
    EXPECT_EQ(formatNumber(2, 1, 3, Locale("en_US")), "2.0");
    EXPECT_EQ(formatMeasurement(3, "kilometer-per-hour", 0, 0, UnitStyle::Long, Locale("en_US")),
              "3 kilometers per hour");
    EXPECT_EQ(formatMeasurement(3, "no-such-unit", 0, 0, UnitStyle::Long, Locale("en_US")), "");
}

TEST(LocaleValue, MeasurementSystemAndCurrentLocale) {
    EXPECT_EQ(Locale("en_US").measurementSystem(), MeasurementSystem::US);
    EXPECT_EQ(Locale("en_GB.UTF-8").measurementSystem(), MeasurementSystem::UK);
    EXPECT_EQ(Locale("de_DE.UTF-8@euro").identifier(), "de_DE");
    EXPECT_EQ(Locale("C").identifier(), "en_US_POSIX");
    // The C locale formats like en_US_POSIX but measures in metres, as its LC_MEASUREMENT does.
    for (const char* posix : {"C", "C.UTF-8", "POSIX", ""}) {
        EXPECT_EQ(Locale(posix).measurementSystem(), MeasurementSystem::Metric) << posix;
    }
    EXPECT_EQ(Locale("en_US", MeasurementSystem::Metric).measurementSystem(), MeasurementSystem::Metric);
    EXPECT_EQ(Locale("de_DE").description(), "de_DE (fixed)");

    Locale::setCurrentForTesting(Locale("en_GB"));
    EXPECT_EQ(Locale::current().identifier(), "en_GB");
    EXPECT_EQ(formatDistance(250), "273 yd");
    Locale::setCurrentForTesting(std::nullopt);

    ::setenv("LC_ALL", "", 1);
    ::setenv("LANG", "de_AT.UTF-8", 1);
    ::setenv("LC_MEASUREMENT", "en_US.UTF-8", 1);
    const Locale current = Locale::current();
    EXPECT_EQ(current.identifier(), "de_AT");
    EXPECT_EQ(current.measurementSystem(), MeasurementSystem::US);
    EXPECT_EQ(current.description(), "de_AT (current)");
    ::unsetenv("LC_MEASUREMENT");
    ::unsetenv("LANG");
    ::unsetenv("LC_ALL");
}

}  // namespace
}  // namespace platform::text
