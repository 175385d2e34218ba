#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/foundation/Diagnostics.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "points/QuovaUserDefaults.hpp"
#include "points/tests/PointsTestSupport.hpp"

namespace tervolo::points {
namespace {

using ::testing::ElementsAre;

class QuovaUserDefaultsTest : public testing::PointsTest {};

TEST_F(QuovaUserDefaultsTest, UserLocationRadiusTypingRules) {
    auto& defaults = platform::UserDefaults::standard();
    const struct {
        const char* name;
        std::optional<platform::PropertyValue> stored;
        std::optional<double> expected;
    } cases[] = {
        {"nothing stored", std::nullopt, std::nullopt},
        {"integer", platform::PropertyValue(100), 100.0},
        {"double", platform::PropertyValue(250.5), 250.5},
        {"integer at 2^53", platform::PropertyValue(9007199254740992LL), 9007199254740992.0},
        {"integer beyond 2^53", platform::PropertyValue(9007199254740993LL), std::nullopt},
        {"text of digits", platform::PropertyValue("100"), std::nullopt},
        {"boolean", platform::PropertyValue(true), std::nullopt},
        {"date", platform::PropertyValue(platform::Date{5}), std::nullopt},
        {"list", platform::PropertyValue(platform::PropertyValue::List{platform::PropertyValue(1)}),
         std::nullopt},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        if (row.stored) {
            defaults.set("userLocationRadius", *row.stored);
        } else {
            defaults.remove("userLocationRadius");
        }
        EXPECT_EQ(QuovaUserDefaults::shared().userLocationRadius(), row.expected);
    }
}

TEST(QuovaUserDefaultsStartTest, StartLinesAppearOncePerRun) {
    platform::LineCapture out(platform::LineWriter::standardOutput());
    platform::LineCapture err(platform::LineWriter::standardError());
    // This binary may have made the instance already in another test; in a
    // process of its own (ctest) this test sees the lines exactly once.
    auto& first = QuovaUserDefaults::shared();
    auto& second = QuovaUserDefaults::shared();
    EXPECT_EQ(&first, &second);
    EXPECT_LE(out.lines().size(), 1u);
    if (!out.lines().empty()) {
        EXPECT_THAT(out.lines(), ElementsAre("Initializing shared QuovaUserDefaults."));
        EXPECT_THAT(err.lines(), ElementsAre("Accessing shared instance of QuovaUserDefaults"));
    }
}

}  // namespace
}  // namespace tervolo::points
