#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>

#include "mapscreen/QuovaScaleView.hpp"
#include "mapscreen/RegionChangeRules.hpp"
#include "mapscreen/ScaleBarChoice.hpp"
#include "points/RadiusTables.hpp"

namespace {

using tervolo::mapscreen::ScaleBarChoice;

TEST(RegionChangeRulesTest, AChangeWithinFiftyMillisecondsOfTheProgramsMoveIsTheProgramsOwn) {
    const struct {
        double dt;
        bool users;
    } cases[] = {{0.0, false}, {0.05, false}, {0.051, true}, {1.0, true}, {1.7e9, true}, {-3.0, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dt);
        EXPECT_EQ(tervolo::mapscreen::regionChangeIsUsers(c.dt), c.users);
    }
}

// Factors are added up in steps of 0.1, so they carry the sums' rounding.
TEST(RegionChangeRulesTest, ZoomOutFactorIsTheFirstStepThatReachesTheMaximum) {
    const double bounds = 1000;
    const struct {
        const char* name;
        double visible;
        int64_t level;
        int32_t maximum;
        std::optional<double> factor;
        int steps;
    } cases[] = {
        {"z 20 over 19", 1000, 20, 19, 1.4500000000000002, 2},
        {"z 21 over 19", 500, 21, 19, 2.8500000000000014, 16},
        {"z 22 over 19", 250, 22, 19, 5.7499999999999964, 45},
        {"z 19 at 19", 2000, 19, 19, std::nullopt, 0},
        {"z 12 below 19", 256000, 12, 19, std::nullopt, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto search = tervolo::mapscreen::zoomOutFactor(bounds, c.visible, c.level, c.maximum);
        ASSERT_EQ(search.has_value(), c.factor.has_value());
        if (!search) continue;
        EXPECT_EQ(search->factor, *c.factor);
        EXPECT_EQ(search->steps, c.steps);
        EXPECT_FALSE(search->exhausted);
    }
}

// Levels below 0 count as 0, so no zoom meets a negative maximum: the search
// gives up instead of running for ever.
TEST(RegionChangeRulesTest, ZoomOutSearchGivesUpOnANegativeMaximum) {
    const auto search = tervolo::mapscreen::zoomOutFactor(1000, 1000, 20, -1);
    ASSERT_TRUE(search);
    EXPECT_TRUE(search->exhausted);
    EXPECT_EQ(search->steps, tervolo::mapscreen::kMaximumZoomOutSteps);
}

TEST(RegionChangeRulesTest, TileDebugTextHasSixLines) {
    const platform::MKMapRect quarter{{platform::kMKMapWorldSide / 2, 0},
                                      {platform::kMKMapWorldSide / 4, platform::kMKMapWorldSide / 8}};
    EXPECT_EQ(tervolo::mapscreen::tileDebugText(3, quarter, tervolo::tiles::QuovaTileRect(4, 6, 0, 1)),
              "zoom: 3\n25% width \n12% height \nmaxTiles: 8\nxRange: 4 - 6\nyRange: 0 - 1\n");
    EXPECT_EQ(tervolo::mapscreen::tileDebugText(0, platform::MKMapRectWorld,
                                                tervolo::tiles::QuovaTileRect(0, 0, 0, 0)),
              "zoom: 0\n100% width \n100% height \nmaxTiles: 1\nxRange: 0 - 0\nyRange: 0 - 0\n");
}

// A 400-point wide bottom edge, aiming at a 220-point bar; the scale view is
// the bar and an inset of 24 points on either side.
TEST(ScaleBarChoiceTest, ChoosesTheLeastBadEntryAndItsBar) {
    const auto metric = tervolo::points::metricScaleDistances();
    const auto imperial = tervolo::points::imperialScaleDistances();
    const double farOut = 20000000.0 * 400 / 220;  // 20 000 km at 220 points
    const struct {
        const char* name;
        const tervolo::points::ScaleDistances& table;
        double metresAcross;
        std::string label;
        double badness;
        double bar;
        double viewWidth;
    } cases[] = {
        {"1000 m metric", metric, 1000, "500 m", 2 - 500.0 / 550.0, 200, 248},
        {"4000 m metric", metric, 4000, "2 km", 2 - 2000.0 / 2200.0, 200, 248},
        {"1000 m imperial", imperial, 1000, "1000 ft", 2 - 304.8 / 550.0, 121.92, 169.92},
        {"far out", metric, farOut, "5000 km", 1.75, 400.0 * 5000000 / farOut, 400.0 * 5000000 / farOut + 48},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto choice = ScaleBarChoice::choose(c.table, c.metresAcross, 400, 220);
        ASSERT_TRUE(choice);
        EXPECT_EQ(choice->label, c.label);
        EXPECT_NEAR(choice->badness, c.badness, 1e-12);
        EXPECT_NEAR(choice->barLength, c.bar, 1e-9);
        EXPECT_NEAR(choice->barLength + 2 * tervolo::mapscreen::QuovaScaleView::kScaleInset, c.viewWidth,
                    1e-9);
    }
}

TEST(ScaleBarChoiceTest, NothingToChooseLeavesTheBarAsItIs) {
    const auto metric = tervolo::points::metricScaleDistances();
    EXPECT_FALSE(ScaleBarChoice::choose(metric, 0, 400, 220));
    EXPECT_FALSE(ScaleBarChoice::choose(metric, std::nan(""), 400, 220));  // an edge off the world
    EXPECT_FALSE(ScaleBarChoice::choose(metric, 1000, 0, 220));
    EXPECT_FALSE(ScaleBarChoice::choose({}, 1000, 400, 220));
}

// Ratios 0.5 and 1.5 are equally bad; the first in the table's order stays.
TEST(ScaleBarChoiceTest, ATieKeepsTheFirstEntry) {
    const tervolo::points::ScaleDistances table{{"a half", 50}, {"b one and a half", 150}};
    const auto choice = ScaleBarChoice::choose(table, 100, 220, 220);
    ASSERT_TRUE(choice);
    EXPECT_EQ(choice->label, "a half");
    EXPECT_DOUBLE_EQ(choice->badness, 1.5);
}

}  // namespace
