#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "analytics/Tally.hpp"
#include "analytics/TallyConnectionManager.hpp"
#include "analytics/TallyEvent.hpp"
#include "analytics/TallyFeedbacks.hpp"
#include "analytics/TallyPersistency.hpp"
#include "analytics/tests/AnalyticsTestSupport.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/foundation/Bundle.hpp"
#include "testsupport/FakeAnalyticsServer.hpp"

namespace tervolo::analytics {
namespace {

using tervolo::testsupport::CannedReply;
using testing::FakeUIPort;
using ::testing::HasSubstr;
using testing::TallyFacadeTest;

class TallyFeedbacksTest : public TallyFacadeTest {
  protected:
    TallyFeedbacksTest() {
        port_->top = "MainViewController";
        TallyCommon::sharedInstance().setUIPort(port_);
    }
    std::shared_ptr<TallyFeedbacks> feedbacks() { return TallyFeedbacks::sharedInstance(); }
    std::vector<TallyJSON> eventsNamed(const std::string& key) {
        std::vector<TallyJSON> found;
        for (const auto& event : TallyPersistency::sharedInstance()->recordedEventsForTesting()) {
            if (event.key == key) found.push_back(event.segmentation.value_or(TallyJSON()));
        }
        return found;
    }
    std::shared_ptr<FakeUIPort> port_ = std::make_shared<FakeUIPort>();
};

TEST_F(TallyFeedbacksTest, DialogTextByLanguage) {
    EXPECT_EQ(TallyFeedbacks::defaultMessage("tr_TR"), "Uygulamayı nasıl değerlendirirsiniz?");
    EXPECT_EQ(TallyFeedbacks::defaultMessage("cz"), "Jak hodnotíte aplikaci?");
    EXPECT_EQ(TallyFeedbacks::defaultMessage("cs_CZ"), "How would you rate the app?");
    EXPECT_EQ(TallyFeedbacks::defaultMessage("de_DE"), "How would you rate the app?");
    startOffline();
    feedbacks()->setMessage("Rate us");
    feedbacks()->setMessage(std::nullopt);
    EXPECT_EQ(feedbacks()->message(), "Rate us");
}

TEST_F(TallyFeedbacksTest, StarRatingDialog) {
    startOffline();
    std::vector<int> ratings;
    Tally::sharedInstance().askForStarRating([&](int rating) { ratings.push_back(rating); });
    ASSERT_EQ(port_->presented.size(), 1u);
    EXPECT_EQ(port_->dialogMessage, "How would you rate the app?");
    port_->finishDialog(3);
    Tally::sharedInstance().askForStarRating([&](int rating) { ratings.push_back(rating); });
    port_->finishDialog(0);  // closed with its button
    EXPECT_THAT(ratings, ::testing::ElementsAre(3, 0));
    const auto events = eventsNamed(kTallyReservedEventStarRating);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]["rating"], 3);
    EXPECT_EQ(events[0]["platform"], "iOS");
}

TEST_F(TallyFeedbacksTest, AutomaticDialogCountsStartsPerVersion) {
    startOffline();
    feedbacks()->setSessionCount(3);
    std::vector<size_t> shownAfter;
    for (int start = 1; start <= 5; ++start) {
        feedbacks()->checkForStarRatingAutoAsk();
        shownAfter.push_back(port_->presented.size());
    }
    EXPECT_THAT(shownAfter, ::testing::ElementsAre(0, 0, 1, 1, 1));
    // A new version counts anew; with asking once over all versions it stays quiet.
    platform::PropertyValue::Dictionary info = platform::Bundle::main().infoDictionary();
    info["CFBundleShortVersionString"] = "9.9";
    platform::Bundle::main().setInfoDictionaryForTesting(info);
    feedbacks()->setSessionCount(1);
    feedbacks()->setDisableAskingForEachAppVersion(true);
    feedbacks()->checkForStarRatingAutoAsk();
    EXPECT_EQ(port_->presented.size(), 1u);
    feedbacks()->setDisableAskingForEachAppVersion(false);
    feedbacks()->checkForStarRatingAutoAsk();
    EXPECT_EQ(port_->presented.size(), 2u);
    platform::Bundle::main().setInfoDictionaryForTesting(std::nullopt);
}

TEST_F(TallyFeedbacksTest, WidgetCheckAndList) {
    tervolo::testsupport::FakeAnalyticsServer server;
    TallyConfig config = systemConfig(server.host());
    config.alwaysUsePOST = false;
    startOffline(config);
    TallyConnectionManager::sharedInstance()->setHost(server.host());
    auto check = [&](CannedReply reply, const std::string& id) {
        server.http().route("*", "/o/feedback/widget", std::move(reply));
        std::optional<platform::Error> result;
        bool done = false;
        Tally::sharedInstance().presentFeedbackWidgetWithID(id,
                                                            [&](const std::optional<platform::Error>& error) {
                                                                result = error;
                                                                done = true;
                                                            });
        EXPECT_TRUE(platform::RunLoop::runUntil([&] { return done; }, 10));
        return result;
    };
    auto error = check(CannedReply::json(R"({"_id":"other"})"), "w&1");
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, kTallyErrorFeedbackWidgetNotAvailable);
    EXPECT_EQ(error->description, "Feedback widget with ID w&1 is not available.");
    EXPECT_THAT(server.requests().back().query, HasSubstr("&widget_id=w%261"));  // cannot add parameters
    error = check(CannedReply::json(R"({"_id":"w1","target_devices":{"phone":true,"tablet":true}})"), "w1");
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, kTallyErrorFeedbackWidgetNotTargetedForDevice);
    error = check(CannedReply::text("not json"), "w1");
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, kTallyErrorFeedbackWidgetNotAvailable);

    auto list = [&](CannedReply reply) {
        server.http().route("*", "/o/sdk", std::move(reply));
        std::optional<std::vector<std::shared_ptr<TallyFeedbackWidget>>> widgets;
        std::optional<platform::Error> result;
        bool done = false;
        feedbacks()->getFeedbackWidgets([&](const auto& found, const auto& error) {
            widgets = found;
            result = error;
            done = true;
        });
        EXPECT_TRUE(platform::RunLoop::runUntil([&] { return done; }, 10));
        return std::make_pair(widgets, result);
    };
    auto [none, failure] = list(CannedReply::json("{}", 404));
    EXPECT_EQ(none, std::nullopt);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->code, kTallyErrorFeedbacksGeneralAPIError);
    auto [widgets, ok] = list(CannedReply::json(
        R"({"result":[{"_id":"s1","type":"survey","name":"Survey"},{"type":"nps"},{"_id":"n1","type":"nps","name":"NPS"}]})"));
    ASSERT_TRUE(widgets);
    ASSERT_EQ(widgets->size(), 2u);
    EXPECT_EQ((*widgets)[0]->type(), "survey");

    (*widgets)[0]->recordResult(std::nullopt);
    EXPECT_THAT(queued().back(), HasSubstr("%22%5BTLY%5D_survey%22"));
    EXPECT_THAT(queued().back(), HasSubstr("%22closed%22%3A1"));
    (*widgets)[1]->present();
    ASSERT_EQ(port_->opened.size(), 1u);
    EXPECT_THAT(port_->opened[0], HasSubstr("/feedback/nps?app_key=KEY&"));
    EXPECT_THAT(port_->opened[0], ::testing::EndsWith("&widget_id=n1"));
}

}  // namespace
}  // namespace tervolo::analytics
