#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "analytics/Tally.hpp"
#include "analytics/TallyConsentManager.hpp"
#include "analytics/TallyDeviceInfo.hpp"
#include "analytics/TallyEvent.hpp"
#include "analytics/TallyPersistency.hpp"
#include "analytics/TallyText.hpp"
#include "analytics/TallyViewTracking.hpp"
#include "analytics/tests/AnalyticsTestSupport.hpp"
#include "platform/dispatch/NotificationCenter.hpp"

namespace tervolo::analytics {
namespace {

using testing::FakeUIPort;
using testing::TallyFacadeTest;

class TallyViewTrackingTest : public TallyFacadeTest {
  protected:
    TallyViewTrackingTest() {
        port_->top = "MainViewController";
        TallyCommon::sharedInstance().setUIPort(port_);
    }
    std::shared_ptr<TallyViewTracking> tracking() { return TallyViewTracking::sharedInstance(); }
    // Every event queued or still recorded with `key`, in order.
    std::vector<TallyJSON> eventsNamed(const std::string& key) {
        std::vector<TallyJSON> found;
        auto collect = [&](const std::string& escaped) {
            for (const auto& event : TallyJSON::parse(*tly_percentDecoded(escaped))) {
                if (event["key"] == key) found.push_back(event);
            }
        };
        for (const auto& query : queued()) {
            if (auto events = tly_valueForQueryStringKey(query, "events")) collect(*events);
        }
        for (const auto& event : TallyPersistency::sharedInstance()->recordedEventsForTesting()) {
            if (event.key == key) found.push_back(event.dictionaryRepresentation());
        }
        return found;
    }
    void appear(const std::string& title, std::vector<std::string> chain = {}) {
        if (chain.empty()) chain = {title, "ViewController"};
        tracking()->viewDidAppear(TallyScreen{title, chain.front(), chain});
    }
    void post(const char* name) { platform::NotificationCenter::defaultCenter().post(name); }

    std::shared_ptr<FakeUIPort> port_ = std::make_shared<FakeUIPort>();
};

TEST_F(TallyViewTrackingTest, StartAndEndEventsOfConsecutiveScreens) {
    startOffline();  // automatic tracking starts with the top controller
    time_.clock().setWallSeconds(1700000003.0);
    appear("PointTableViewController");
    const auto views = eventsNamed(kTallyReservedEventView);
    ASSERT_EQ(views.size(), 3u);
    EXPECT_EQ(views[0]["segmentation"],
              (TallyJSON{{"name", "MainViewController"}, {"segment", "iOS"}, {"visit", 1}, {"start", 1}}));
    EXPECT_EQ(views[1]["segmentation"], (TallyJSON{{"name", "MainViewController"}, {"segment", "iOS"}}));
    EXPECT_NEAR(views[1]["dur"].get<double>(), 2.877, 0.002);
    // Stamped with the view's start (taken right after its start event).
    EXPECT_EQ(views[1]["timestamp"], views[0]["timestamp"].get<int64_t>() + 1);
    EXPECT_EQ(views[2]["segmentation"],
              (TallyJSON{{"name", "PointTableViewController"}, {"segment", "iOS"}, {"visit", 1}}));
}

TEST_F(TallyViewTrackingTest, BackgroundTimeDoesNotCountAndEveryForegroundStretchDoes) {
    startOffline();
    const auto started = eventsNamed(kTallyReservedEventView).front()["timestamp"].get<int64_t>() + 1;
    time_.advance(10);
    post(kTallyApplicationDidEnterBackground);
    time_.advance(60);
    post(kTallyApplicationWillEnterForeground);
    time_.advance(5);
    post(kTallyApplicationDidEnterBackground);
    time_.advance(100);
    post(kTallyApplicationWillEnterForeground);
    time_.advance(3);
    tracking()->endView();
    auto views = eventsNamed(kTallyReservedEventView);
    ASSERT_EQ(views.size(), 2u);
    EXPECT_NEAR(views[1]["dur"].get<double>(), 18.0, 0.01);
    EXPECT_EQ(views[1]["timestamp"], started);

    // Ended while in the background (termination after hiding): the
    // background does not count either.
    tracking()->startView("Details");
    time_.advance(7);
    post(kTallyApplicationDidEnterBackground);
    time_.advance(50);
    post(kTallyApplicationWillTerminate);
    views = eventsNamed(kTallyReservedEventView);
    EXPECT_NEAR(views.back()["dur"].get<double>(), 7.0, 0.01);
}

TEST_F(TallyViewTrackingTest, ExceptionsNamesAndCustomSegmentation) {
    startOffline();
    const size_t before = eventsNamed(kTallyReservedEventView).size();
    appear("NavigationController");  // our navigation host
    appear("RootNavigation",
           {"RootNavigation", "NavigationController", "ViewController"});  // a subclass of it
    appear("AlertController");
    appear("MainViewController");  // the same screen again: no new view
    EXPECT_EQ(eventsNamed(kTallyReservedEventView).size(), before);
    tracking()->addExceptionForAutoViewTracking("PDFPreview");
    appear("PDFPreview");
    EXPECT_EQ(eventsNamed(kTallyReservedEventView).size(), before);
    tracking()->removeExceptionForAutoViewTracking("PDFPreview");
    appear("PDFPreview");
    EXPECT_EQ(eventsNamed(kTallyReservedEventView).size(), before + 2);

    Tally::sharedInstance().recordView("Custom", TallyJSON{{"name", "x"}, {"dur", 5}, {"source", "menu"}});
    const auto last = eventsNamed(kTallyReservedEventView).back();
    EXPECT_EQ(last["segmentation"],
              (TallyJSON{{"name", "Custom"}, {"segment", "iOS"}, {"visit", 1}, {"source", "menu"}}));
    EXPECT_EQ(tracking()->exceptionViewControllers().size(), 41u);
}

TEST_F(TallyViewTrackingTest, WithdrawnConsentStopsTracking) {
    TallyConfig config = systemConfig("http://127.0.0.1:9");
    config.requiresConsent = true;
    config.consents = std::vector<std::string>{TLYConsentViewTracking, TLYConsentEvents};
    startOffline(config);
    EXPECT_TRUE(Tally::sharedInstance().isAutoViewTrackingActive());
    Tally::sharedInstance().cancelConsentForFeature(TLYConsentViewTracking);
    EXPECT_FALSE(Tally::sharedInstance().isAutoViewTrackingActive());
    EXPECT_EQ(tracking()->lastView(), std::nullopt);
    const size_t before = eventsNamed(kTallyReservedEventView).size();
    appear("PointTableViewController");
    EXPECT_EQ(eventsNamed(kTallyReservedEventView).size(), before);
}

TEST_F(TallyViewTrackingTest, OrientationBurstRecordsOnce) {
    TallyConfig config = systemConfig("http://127.0.0.1:9");
    startOffline(config);
    port_->interfaceOrientationNumber = 3;
    post(kTallyDeviceOrientationDidChange);
    time_.advance(0.3);
    port_->interfaceOrientationNumber = 1;
    post(kTallyDeviceOrientationDidChange);
    time_.advance(0.3);
    port_->interfaceOrientationNumber = 4;
    post(kTallyDeviceOrientationDidChange);
    time_.advance(0.6);
    auto orientations = eventsNamed(kTallyReservedEventOrientation);
    ASSERT_EQ(orientations.size(), 1u);
    EXPECT_EQ(orientations[0]["segmentation"], (TallyJSON{{"mode", "landscape"}}));
    // The same mode again records nothing.
    port_->interfaceOrientationNumber = 3;
    post(kTallyDeviceOrientationDidChange);
    time_.advance(0.6);
    EXPECT_EQ(eventsNamed(kTallyReservedEventOrientation).size(), 1u);
}

}  // namespace
}  // namespace tervolo::analytics
