#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/foundation/UserDefaults.hpp"
#include "platform/text/Locale.hpp"
#include "points/QuovaUserDefaults.hpp"
#include "points/RadiusTables.hpp"
#include "points/tests/PointsTestSupport.hpp"

namespace tervolo::points {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// The locale the distance texts of added rows follow, pinned per test.
class RadiusTablesTest : public testing::PointsTest {
  protected:
    void TearDown() override {
        platform::text::Locale::setCurrentForTesting(std::nullopt);
        PointsTest::TearDown();
    }
    static void useLocale(bool metric) {
        platform::text::Locale::setCurrentForTesting(
            metric ? platform::text::Locale("en_GB", platform::text::MeasurementSystem::Metric)
                   : platform::text::Locale("en_US", platform::text::MeasurementSystem::US));
    }
    static std::vector<std::string> titles(const std::vector<RadiusSheetRow>& rows) {
        std::vector<std::string> out;
        for (const auto& row : rows) out.push_back(row.title);
        return out;
    }
};

TEST_F(RadiusTablesTest, ChoiceTablesHoldTheExactMetresOfTheirLabels) {
    const auto metric = metricAlarmRadiusChoices();
    EXPECT_THAT(metric,
                ElementsAre(std::pair{100.0, "100 m"}, std::pair{250.0, "250 m"}, std::pair{500.0, "500 m"},
                            std::pair{1000.0, "1 km"}, std::pair{2500.0, "2,5 km"}, std::pair{5000.0, "5 km"},
                            std::pair{15000.0, "15 km"}));
    // The imperial keys are the labels converted exactly (feet × 0.3048,
    // miles × 1609.344), so a radius chosen from the table finds itself again.
    const struct {
        double count;
        double metresPerUnit;
        const char* label;
    } imperial[] = {{250, 0.3048, "250 ft"}, {500, 0.3048, "500 ft"}, {1000, 0.3048, "1000 ft"},
                    {1, 1609.344, "1 mi"},   {3, 1609.344, "3 mi"},   {5, 1609.344, "5 mi"},
                    {10, 1609.344, "10 mi"}};
    const auto table = imperialAlarmRadiusChoices();
    ASSERT_EQ(table.size(), std::size(imperial));
    for (const auto& row : imperial) {
        SCOPED_TRACE(row.label);
        const auto found = table.find(row.count * row.metresPerUnit);
        ASSERT_NE(found, table.end());
        EXPECT_EQ(found->second, row.label);
    }
    EXPECT_EQ(alarmRadiusChoices(true), metric);
    EXPECT_EQ(alarmRadiusChoices(false), table);
}

TEST_F(RadiusTablesTest, ScaleTablesAscendInSeventeenSteps) {
    for (const auto& [name, table, first, last] :
         {std::tuple{"metric", metricScaleDistances(), std::pair{std::string("25 m"), 25.0},
                     std::pair{std::string("5000 km"), 5000000.0}},
          std::tuple{"imperial", imperialScaleDistances(), std::pair{std::string("100 ft"), 30.48},
                     std::pair{std::string("5000 mi"), 8046720.0}}}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(table.size(), 17u);
        std::vector<double> metres;
        for (const auto& entry : table) metres.push_back(entry.second);
        std::sort(metres.begin(), metres.end());
        EXPECT_EQ(std::adjacent_find(metres.begin(), metres.end()), metres.end());
        EXPECT_EQ(table.at(first.first), first.second);
        EXPECT_EQ(metres.front(), first.second);
        EXPECT_EQ(table.at(last.first), last.second);
        EXPECT_EQ(metres.back(), last.second);
    }
    EXPECT_EQ(imperialScaleDistances().at("0.5 mi"), 804.672);
    EXPECT_EQ(metricScaleDistances().count("25 ft"), 0u);
}

TEST_F(RadiusTablesTest, SheetRowsInOrderWithTheCurrentChoiceMarked) {
    const std::string mark = kCurrentChoiceMark;
    const struct Case {
        const char* name;
        bool metric;
        double current;
        std::vector<std::string> titles;
    } cases[] = {
        {"metric, no radius",
         true,
         0,
         {"(none)" + mark, "100 m", "250 m", "500 m", "1 km", "2,5 km", "5 km", "15 km", "Custom ...",
          "Cancel"}},
        {"metric, table entry",
         true,
         1000,
         {"(none)", "100 m", "250 m", "500 m", "1 km" + mark, "2,5 km", "5 km", "15 km", "Custom ...",
          "Cancel"}},
        {"metric, typed 300 m",
         true,
         300,
         {"(none)", "100 m", "250 m", "300 m" + mark, "500 m", "1 km", "2,5 km", "5 km", "15 km",
          "Custom ...", "Cancel"}},
        {"imperial, no radius",
         false,
         0,
         {"(none)" + mark, "250 ft", "500 ft", "1000 ft", "1 mi", "3 mi", "5 mi", "10 mi", "Custom ...",
          "Cancel"}},
        {"imperial, metric 250 m",
         false,
         250,
         {"(none)", "250 ft", "500 ft", "820 ft" + mark, "1000 ft", "1 mi", "3 mi", "5 mi", "10 mi",
          "Custom ...", "Cancel"}},
        {"imperial, typed 100 yd",
         false,
         91.44,
         {"(none)", "250 ft", "300 ft" + mark, "500 ft", "1000 ft", "1 mi", "3 mi", "5 mi", "10 mi",
          "Custom ...", "Cancel"}},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        useLocale(row.metric);
        const auto rows = radiusSheetRows(row.metric, row.current);
        EXPECT_THAT(titles(rows), ElementsAreArray(row.titles));
        EXPECT_EQ(rows.front().kind, RadiusSheetRow::Kind::none);
        EXPECT_EQ(rows[rows.size() - 2].kind, RadiusSheetRow::Kind::custom);
        EXPECT_EQ(rows.back().kind, RadiusSheetRow::Kind::cancel);
        // Exactly one row is current, and the radius rows ascend.
        int current = 0;
        double previous = 0;
        for (const auto& sheetRow : rows) {
            current += sheetRow.isCurrent ? 1 : 0;
            if (sheetRow.kind != RadiusSheetRow::Kind::radius) continue;
            EXPECT_GT(sheetRow.radius, previous);
            previous = sheetRow.radius;
            if (sheetRow.isCurrent) {
                EXPECT_EQ(sheetRow.radius, row.current);
            }
        }
        EXPECT_EQ(current, 1);
    }
}

TEST_F(RadiusTablesTest, CurrentRadiusIsTheStoredOneAboveZero) {
    EXPECT_EQ(currentRadiusFor(std::nullopt), 0);
    EXPECT_EQ(currentRadiusFor(-5), 0);
    EXPECT_EQ(currentRadiusFor(0), 0);
    EXPECT_EQ(currentRadiusFor(250), 250);
}

TEST_F(RadiusTablesTest, TypedRadiusReadsItsLeadingNumberWithinBounds) {
    const struct Case {
        const char* text;
        bool metric;
        double value;  // as read
        std::optional<double> metres;
    } cases[] = {
        {"300", true, 300, 300.0},
        {"  300", true, 300, 300.0},
        {"12abc", true, 12, 12.0},
        {"2,5", true, 2, 2.0},
        {"0.5", true, 0.5, 0.5},
        // Where the locale is not metric a typed radius is in yards: 100 is 91.44 m.
        {"100", false, 100, 91.44},
        {"abc", true, 0, std::nullopt},
        {"", true, 0, std::nullopt},
        {"0", true, 0, std::nullopt},
        {"-5", true, -5, std::nullopt},
        // Words and hexadecimal are no decimal numbers: read as 0 (or the
        // leading "0" of "0x10").
        {"inf", true, 0, std::nullopt},
        {"nan", true, 0, std::nullopt},
        {"0x10", true, 0, std::nullopt},
        {"1e400", true, INFINITY, std::nullopt},
        // Half the Earth's circumference is the largest circle.
        {"20000000", true, 20000000, 20000000.0},
        {"20000001", true, 20000001, std::nullopt},
        {"21872000", false, 21872000, 21872000 * 0.9144},
        {"21873000", false, 21873000, std::nullopt},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.text);
        const auto reading = readCustomRadius(row.text, row.metric);
        EXPECT_EQ(reading.value, row.value);
        ASSERT_EQ(reading.metres.has_value(), row.metres.has_value());
        if (row.metres) {
            EXPECT_DOUBLE_EQ(*reading.metres, *row.metres);
        }
    }
}

TEST_F(RadiusTablesTest, UserLocationRadiusWriterStoresANumber) {
    auto& defaults = QuovaUserDefaults::shared();
    for (const double radius : {91.44, 0.0, 250.0, 250.0}) {
        SCOPED_TRACE(radius);
        defaults.setUserLocationRadius(radius);
        EXPECT_EQ(platform::UserDefaults::standard().doubleValue("userLocationRadius"), radius);
        EXPECT_EQ(defaults.userLocationRadius(), radius);
    }
    // Stored as a floating-point number even when whole.
    const auto stored = platform::UserDefaults::standard().object("userLocationRadius");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->type(), platform::PropertyValue(1.0).type());
}

}  // namespace
}  // namespace tervolo::points
