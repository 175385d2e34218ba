#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "analytics/TallyCommon.hpp"
#include "analytics/TallyUIPort.hpp"
#include "analytics/tests/AnalyticsTestSupport.hpp"
#include "platform/foundation/OSLog.hpp"

namespace tervolo::analytics {
namespace {

using testing::AnalyticsTest;
using testing::TimeZoneScope;

class TallyCommonTest : public AnalyticsTest {};

TEST_F(TallyCommonTest, UniqueTimestampsRiseUnderAFrozenAndABackwardClock) {
    auto& common = TallyCommon::sharedInstance();
    EXPECT_DOUBLE_EQ(common.uniqueTimestamp(), 1700000000.123);
    // The clock stands still: each call is one millisecond above the last.
    EXPECT_DOUBLE_EQ(common.uniqueTimestamp(), 1700000000.124);
    EXPECT_EQ(common.lastTimestamp(), 1700000000125 - 1);

    // Set back by a minute: values keep rising by 1 ms until the clock catches up.
    time_.clock().setWallSeconds(1700000000.123 - 60);
    EXPECT_EQ(static_cast<int64_t>(common.uniqueTimestamp() * 1000 + 0.5), 1700000000125);
    EXPECT_EQ(static_cast<int64_t>(common.uniqueTimestamp() * 1000 + 0.5), 1700000000126);
    time_.clock().setWallSeconds(1700000005.0);
    EXPECT_EQ(static_cast<int64_t>(common.uniqueTimestamp() * 1000 + 0.5), 1700000005000);
}

TEST_F(TallyCommonTest, CalendarFieldsFollowTheLocalTimeZone) {
    auto& common = TallyCommon::sharedInstance();
    const struct {
        const char* tz;
        double wall;
        int64_t hour, dow, minutes;
    } cases[] = {
        {"UTC", 1700000000.123, 22, 2, 0},         // Tuesday 2023-11-14 22:13 UTC
        {"IST-5:30", 1700000000.123, 3, 3, 330},   // 5 h 30 min east: Wednesday 03:43
        {"NST3:30", 1700000000.123, 18, 2, -210},  // 3 h 30 min west: Tuesday 18:43
        {"UTC", 1699831800.0, 23, 0, 0},           // Sunday 23:30
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.tz);
        TimeZoneScope zone(row.tz);
        time_.clock().setWallSeconds(row.wall);
        EXPECT_EQ(common.hourOfDay(), row.hour);
        EXPECT_EQ(common.dayOfWeek(), row.dow);
        EXPECT_EQ(common.timeZone(), row.minutes);
    }
}

TEST_F(TallyCommonTest, TimeSinceLaunchCountsWholeSecondsFromCreation) {
    auto& common = TallyCommon::sharedInstance();
    EXPECT_EQ(common.timeSinceLaunch(), 0);
    time_.clock().setWallSeconds(1700000042.9);
    EXPECT_EQ(common.timeSinceLaunch(), 41);  // 1700000042 - 1700000000.123, toward zero
}

TEST_F(TallyCommonTest, InternalLogReachesOnlyTheDelegateWithinTheLevel) {
    auto& common = TallyCommon::sharedInstance();
    common.setInternalLogLevel(4);
    TallyLog(TallyLogLevel::Verbose, "dropped {}", 1);
    TallyLog(TallyLogLevel::Warning, "New host is invalid!");
    EXPECT_THAT(logger_->lines(), ::testing::ElementsAre("[Tally] [Warning] New host is invalid!"));

    // Debugging on without a delegate: nothing anywhere (and nothing formatted).
    auto capture = platform::OSLogCapture::install();
    common.setLoggerDelegate({});
    common.setEnableDebug(true);
    TallyLog(TallyLogLevel::Error, "invisible");
    capture->uninstall();
    EXPECT_TRUE(capture->records().empty());
    EXPECT_EQ(logger_->lines().size(), 1u);
}

TEST_F(TallyCommonTest, NotStartedWarningGoesToTheSystemLog) {
    auto capture = platform::OSLogCapture::install();
    auto& common = TallyCommon::sharedInstance();
    EXPECT_FALSE(common.hasStarted());
    EXPECT_FALSE(common.hasStarted_());
    common.setHasStarted(true);
    EXPECT_TRUE(common.hasStarted());
    capture->uninstall();
    EXPECT_THAT(capture->texts(), ::testing::ElementsAre("[Tally] SDK should be started first!"));
}

TEST_F(TallyCommonTest, PresentingRetriesEverySecondUntilATopControllerExists) {
    auto port = std::make_shared<testing::FakeUIPort>();
    TallyCommon::sharedInstance().setUIPort(port);
    struct Screen : TallyPresentable {};
    auto screen = std::make_shared<Screen>();
    int completions = 0;
    TallyTryPresentingViewController(screen, [&] { ++completions; });
    time_.advance(2.0);
    EXPECT_TRUE(port->presented.empty());
    port->top = "MainViewController";
    time_.advance(0.999);
    EXPECT_TRUE(port->presented.empty());
    time_.advance(0.001);
    ASSERT_EQ(port->presented.size(), 1u);
    EXPECT_EQ(port->presented[0], screen);
    EXPECT_EQ(completions, 1);
    time_.advance(5.0);
    EXPECT_EQ(port->presented.size(), 1u);
}

}  // namespace
}  // namespace tervolo::analytics
