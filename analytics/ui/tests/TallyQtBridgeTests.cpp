#include <QApplication>
#include <QLabel>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "analytics/Tally.hpp"
#include "analytics/TallyEvent.hpp"
#include "analytics/TallyPersistency.hpp"
#include "analytics/TallyText.hpp"
#include "analytics/tests/AnalyticsTestSupport.hpp"
#include "analytics/ui/TallyQtBridge.hpp"
#include "analytics/ui/tests/TallyUITest.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/NavigationController.hpp"
#include "platform/ui/NavigationItem.hpp"
#include "platform/ui/ViewController.hpp"

namespace tervolo::analytics {
namespace {

using testing::TallyUITest;

class TallyQtBridgeTest : public TallyUITest {
  protected:
    // (name, "start" or "end") of every [TLY]_view event so far.
    std::vector<std::string> viewSequence() {
        std::vector<std::string> sequence;
        auto add = [&](const TallyJSON& event) {
            if (event["key"] != kTallyReservedEventView) return;
            const auto& segmentation = event["segmentation"];
            sequence.push_back(segmentation["name"].get<std::string>() +
                               (segmentation.contains("visit") ? " start" : " end"));
        };
        for (const auto& query : queued()) {
            if (auto events = tly_valueForQueryStringKey(query, "events")) {
                for (const auto& event : TallyJSON::parse(*tly_percentDecoded(*events))) add(event);
            }
        }
        for (const auto& event : TallyPersistency::sharedInstance()->recordedEventsForTesting()) {
            add(event.dictionaryRepresentation());
        }
        return sequence;
    }
};

TEST_F(TallyQtBridgeTest, ScreensShownOneAfterTheOtherAndBack) {
    platform::ImmediateAnimationsScope immediate;
    bridge_ = TallyQtBridge::install();
    startOffline();
    auto map = std::make_shared<platform::ViewController>();
    map->setTitle("Map");
    auto points = std::make_shared<platform::ViewController>();
    points->navigationItem().setTitle("Points");
    auto details = std::make_shared<platform::ViewController>();  // no title: named by its class
    auto navigation = std::make_shared<platform::NavigationController>(map);
    platform::MainWindow window;
    window.setRootViewController(navigation);
    window.show();
    settle();
    EXPECT_EQ(bridge_->topViewController(), "Map");
    navigation->pushViewController(points, false);
    settle();
    navigation->pushViewController(details, false);
    settle();
    EXPECT_EQ(bridge_->topViewController(), "ViewController");
    navigation->popViewController(false);
    settle();
    navigation->popViewController(false);
    settle();
    EXPECT_THAT(viewSequence(), ::testing::ElementsAre("Map start", "Map end", "Points start", "Points end",
                                                       "ViewController start", "ViewController end",
                                                       "Points start", "Points end", "Map start"));
}

TEST_F(TallyQtBridgeTest, ScreenFactsAndNaming) {
    bridge_ = TallyQtBridge::install();
    const auto screen = bridge_->mainScreen();
    ASSERT_TRUE(screen);
    EXPECT_GT(screen->width, 0);
    EXPECT_GT(screen->scale, 0);
    platform::ViewController controller;
    auto* label = new QLabel("From the label");
    controller.navigationItem().setTitleView(label);
    controller.navigationItem().setTitle("Navigation title");
    EXPECT_EQ(TallyQtBridge::titleForViewController(controller), "From the label");
    controller.setTitle("Own title");
    EXPECT_EQ(TallyQtBridge::titleForViewController(controller), "Own title");
    EXPECT_FALSE(bridge_->isApplicationInBackground());
}

// The bridge reads the application's lifecycle notices, not Qt's states: the
// background lasts from did-enter-background to will-enter-foreground, and a
// focus change alone leaves it alone.
TEST_F(TallyQtBridgeTest, BackgroundFollowsTheLifecycleNotices) {
    bridge_ = TallyQtBridge::install();
    auto& center = platform::NotificationCenter::defaultCenter();
    const std::vector<std::pair<const char*, bool>> steps = {
        {"UIApplicationWillResignActiveNotification", false},
        {"UIApplicationDidEnterBackgroundNotification", true},
        {"NSApplicationDidBecomeActiveNotification", true},
        {"UIApplicationWillEnterForegroundNotification", false},
        {"NSApplicationDidResignActiveNotification", false},
    };
    for (const auto& [notice, inBackground] : steps) {
        SCOPED_TRACE(notice);
        center.post(notice);
        EXPECT_EQ(bridge_->isApplicationInBackground(), inBackground);
    }
}

}  // namespace
}  // namespace tervolo::analytics
