#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "geodesy/DMS.hpp"

using namespace tervolo::geodesy;

namespace {

TEST(DMSTest, WritingTable) {
    struct Case {
        double deg;
        DMSFormat format;
        unsigned places;
        const char* expected;
    };
    const Case cases[] = {
        {-0.5, DMSFormat::degreesMinutesSeconds, 2, "000° 30' 00.00\""},
        {10.999999, DMSFormat::degreesMinutes, 2, "011° 00.00'"},
        {5.5, DMSFormat::degrees, 2, "005.50°"},
        {123.456, DMSFormat::degrees, 1, "123.5°"},
        {45.25, DMSFormat::degreesMinutes, 0, "045° 15'"},
        {51.477811, DMSFormat::degreesMinutesSeconds, 2, "051° 28' 40.12\""},
        // Padding chosen on the rounded value: 9.9999 prints as 10.00.
        {9.9999, DMSFormat::degrees, 2, "010.00°"},
        {99.96, DMSFormat::degrees, 1, "100.0°"},
        // Seconds that round to 60 carry into minutes and degrees.
        {47.9999999, DMSFormat::degreesMinutesSeconds, 3, "048° 00' 00.000\""},
        {NAN, DMSFormat::degreesMinutesSeconds, 2, "NaN"},
        {INFINITY, DMSFormat::degreesMinutes, 2, "inf"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.deg);
        EXPECT_EQ(DMS::toDMS(c.deg, c.format, c.places), c.expected);
    }
    // Degrees far beyond any integer type are printed, never converted with undefined behaviour.
    EXPECT_EQ(DMS::toDMS(1e300, DMSFormat::degreesMinutesSeconds, 0).substr(0, 19), "1000000000000000052");
}

TEST(DMSTest, HemisphereAndBearingVariants) {
    EXPECT_EQ(DMS::toLat(-51.5, DMSFormat::degreesMinutesSeconds, 0), "S 51° 30' 00\"");
    EXPECT_EQ(DMS::toLat(51.5, DMSFormat::degrees, 1), "N 51.5°");
    EXPECT_EQ(DMS::toLon(0.25, DMSFormat::degreesMinutesSeconds, 0), "E 000° 15' 00\"");
    EXPECT_EQ(DMS::toLon(-0.0, DMSFormat::degrees, 0), "E 000°");
    EXPECT_EQ(DMS::toLon(-120.5, DMSFormat::degreesMinutes, 0), "W 120° 30'");

    struct Case {
        double deg;
        DMSFormat format;
        unsigned places;
        const char* expected;
    };
    const Case bearings[] = {
        // A bearing that rounds to a full turn reads as 0 (with three digits).
        {-0.001, DMSFormat::degrees, 0, "000°"},
        {359.9999, DMSFormat::degreesMinutesSeconds, 0, "000° 00' 00\""},
        {359.99999, DMSFormat::degreesMinutes, 2, "000° 00.00'"},
        // A "360" inside the digits is no full turn.
        {1.36, DMSFormat::degrees, 2, "001.36°"},
        {1.36, DMSFormat::degrees, 3, "001.360°"},
        {-90, DMSFormat::degrees, 0, "270°"},
        {450, DMSFormat::degrees, 0, "090°"},
    };
    for (const auto& c : bearings) {
        SCOPED_TRACE(c.deg);
        EXPECT_EQ(DMS::toBrng(c.deg, c.format, c.places), c.expected);
    }
}

TEST(DMSTest, CompassPoints) {
    struct Case {
        double bearing;
        unsigned precision;
        const char* expected;
    };
    const Case cases[] = {
        {359, 3, "N"},    {100, 1, "E"},     {33.75, 3, "NE"},   {22.5, 3, "NNE"},
        {-90, 2, "W"},    {725, 1, "N"},     {16.875, 4, "NNE"}, {11.25, 4, "N"},
        {200, 2, "S"},    {247.5, 3, "WSW"}, {100, 0, "E"},  // precision 0 counts as 1
        {100, 1000, "E"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bearing);
        EXPECT_EQ(DMS::compassPoint(c.bearing, c.precision), c.expected);
    }
    EXPECT_EQ(DMS::compassPoint(NAN, 3), "");
}

TEST(DMSTest, CastToDouble) {
    struct Case {
        const char* text;
        double expected;
    };
    const Case cases[] = {
        {"51°", 51},   {"40.12″", 40.12}, {"12,5", 12},  {"abc", 0}, {"", 0},    {" 5", 0},
        {"1e5x", 1e5}, {"-.5z", -0.5},    {"0x10g", 16}, {"1e", 1},  {"+7'", 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(DMS::castToDouble(c.text), c.expected);
    }
    EXPECT_TRUE(std::isinf(DMS::castToDouble("infinity!")));
}

TEST(DMSTest, ParseTable) {
    struct Case {
        const char* text;
        double expected;
    };
    const double seconds = 51.0 + 28.0 / 60.0 + 40.12 / 3600.0;
    const Case cases[] = {
        {"51° 28′ 40.12″ N", seconds},
        {"51° 28′ 40.12″ S", -seconds},
        {"-51 28 40.12", -seconds},
        {"51 28 40.12w", -seconds},
        {"51 S\n", -51},  // "$" matches before a final line feed
        {"-12.5", -12.5},
        {"0x10", 16},
        {"51 30", 51.5},
        {"51°30'N", 51.5},
        {" 0° 15' W ", 0.25},  // the sign is read on the text as given: the final blank hides the W
        {"1 2 3 4", 0},
        {"no digits", 0},
        {"", 0},
        // Minutes or seconds of 60 and more are no angle.
        {"51 60", 0},
        {"51 30 60", 0},
        {"51 59.5 59.5", 51.0 + 59.5 / 60 + 59.5 / 3600},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_DOUBLE_EQ(DMS::parseDMS(c.text), c.expected);
    }
    EXPECT_FALSE(DMS::parseDMSChecked("10 75").has_value());
    EXPECT_FALSE(DMS::parseDMSChecked("10 5 99").has_value());
    EXPECT_EQ(DMS::parseDMSChecked("10 30"), 10.5);
}

TEST(DMSTest, ParsingLongInputStaysLinear) {
    // A long run of digits and separators: read once, no quadratic re-reading.
    std::string text(200000, '1');
    text[100] = ' ';
    text[1000] = ' ';
    // Three numbers, the minutes far beyond 60: refused.
    EXPECT_EQ(DMS::parseDMS(text), 0.0);
    EXPECT_TRUE(std::isinf(DMS::castToDouble(std::string(100000, '9') + "x")));
}

}  // namespace
