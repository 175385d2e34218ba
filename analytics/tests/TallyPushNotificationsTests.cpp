#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "analytics/Tally.hpp"
#include "analytics/TallyEvent.hpp"
#include "analytics/TallyPersistency.hpp"
#include "analytics/TallyPushNotifications.hpp"
#include "analytics/TallyText.hpp"
#include "analytics/tests/AnalyticsTestSupport.hpp"

namespace tervolo::analytics {
namespace {

using ::testing::ElementsAre;
using testing::TallyFacadeTest;

// Answers as told, records what was asked.
class FakeNotificationCenter : public TallyNotificationCenterPort {
  public:
    int status = 0;
    std::vector<int> requestedOptions;
    std::vector<std::string> opened;
    int registrations = 0;
    void registerForRemoteNotifications() override { ++registrations; }
    void unregisterForRemoteNotifications() override {}
    void requestAuthorization(int options,
                              std::function<void(bool, std::optional<platform::Error>)> done) override {
        requestedOptions.push_back(options);
        done(true, std::nullopt);
    }
    void authorizationStatus(std::function<void(int)> done) override { done(status); }
    void openURL(const std::string& url) override { opened.push_back(url); }
};

class TallyPushTest : public TallyFacadeTest {
  protected:
    void start(bool withFakePort = true) {
        TallyConfig config = systemConfig("http://127.0.0.1:9");
        config.features.push_back(TLYPushNotifications);
        config.pushTestMode = TLYPushTestModeDevelopment;
        if (withFakePort) {
            // The port goes in before start so that registration reaches it.
            TallyCommon::sharedInstance().setHasStarted(true);
            TallyPushNotifications::sharedInstance()->setPort(port_);
            TallyCommon::sharedInstance().setHasStarted(false);
        }
        startOffline(config);
    }
    std::shared_ptr<TallyPushNotifications> push() { return TallyPushNotifications::sharedInstance(); }
    std::vector<std::string> tokensSent() {
        std::vector<std::string> tokens;
        for (const auto& query : queued()) {
            if (auto token = tly_valueForQueryStringKey(query, "ios_token")) tokens.push_back(*token);
        }
        return tokens;
    }
    std::shared_ptr<FakeNotificationCenter> port_ = std::make_shared<FakeNotificationCenter>();
};

TEST_F(TallyPushTest, TokenAndPermissionChanges) {
    start();
    EXPECT_EQ(port_->registrations, 1);
    EXPECT_EQ(TallyPushNotifications::tokenText({0x0A, 0xFF}), "0aff");
    port_->status = kTallyAuthorizationAuthorized;
    push()->didRegisterForRemoteNotifications({0x0A, 0xFF});
    EXPECT_THAT(tokensSent(), ElementsAre("0aff"));
    EXPECT_THAT(queued().back(), ::testing::EndsWith("&test_mode=1"));
    EXPECT_TRUE(TallyPersistency::retrieveNotificationPermission());
    // Denied after it was allowed: the token is cleared once.
    port_->status = 1;
    push()->sendToken();
    push()->sendToken();
    EXPECT_THAT(tokensSent(), ElementsAre("0aff", ""));
    EXPECT_FALSE(TallyPersistency::retrieveNotificationPermission());
    // Asking with no options asks for badge, sound and alert.
    Tally::sharedInstance().askForNotificationPermission();
    EXPECT_THAT(port_->requestedOptions, ElementsAre(kTallyAuthorizationBadgeSoundAlert));
}

TEST_F(TallyPushTest, ThisSystemHasNoRemoteNotifications) {
    start(false);
    EXPECT_EQ(push()->token(), std::string(kTallyTokenError));
    EXPECT_THAT(tokensSent(), ElementsAre(""));
}

TEST_F(TallyPushTest, ChosenNotificationsAndButtons) {
    start();
    const TallyJSON userInfo = {{"c",
                                 {{"i", "N1"},
                                  {"l", "https://example.org/default"},
                                  {"b",
                                   {{{"t", "One"}, {"l", "https://example.org/1"}},
                                    {{"t", "Two"}, {"l", "https://example.org/2"}}}}}}};
    EXPECT_EQ(push()->willPresentNotification(userInfo), kTallyPresentationAlert);
    push()->didReceiveNotificationResponse(userInfo, "TallyActionIdentifier2");
    push()->didReceiveNotificationResponse(userInfo, kTallyDefaultActionIdentifier);
    push()->didReceiveNotificationResponse(TallyJSON{{"aps", {{"alert", "x"}}}},
                                           kTallyDefaultActionIdentifier);
    time_.advance(0.01);
    EXPECT_THAT(port_->opened, ElementsAre("https://example.org/2", "https://example.org/default"));
    std::vector<TallyJSON> actions;
    for (const auto& event : TallyPersistency::sharedInstance()->recordedEventsForTesting()) {
        if (event.key == kTallyReservedEventPushAction) actions.push_back(*event.segmentation);
    }
    EXPECT_THAT(actions, ElementsAre(TallyJSON{{"i", "N1"}, {"b", 2}, {"p", "i"}},
                                     TallyJSON{{"i", "N1"}, {"b", 0}, {"p", "i"}}));
    EXPECT_EQ(push()->willPresentNotification(TallyJSON::object()), 0);

    const auto content = TallyPushNotifications::serviceContent(userInfo);
    EXPECT_EQ(content.categoryIdentifier, "TallyCategoryIdentifierN1");
    EXPECT_THAT(content.actions,
                ElementsAre(std::pair<std::string, std::string>{"TallyActionIdentifier1", "One"},
                            std::pair<std::string, std::string>{"TallyActionIdentifier2", "Two"}));
    EXPECT_EQ(content.attachmentURL, std::nullopt);
}

}  // namespace
}  // namespace tervolo::analytics
