#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "analytics/Tally.hpp"
#include "analytics/TallyApplicationState.hpp"
#include "analytics/TallyPerformanceMonitoring.hpp"
#include "analytics/TallyText.hpp"
#include "analytics/TallyUserDetails.hpp"
#include "analytics/tests/AnalyticsTestSupport.hpp"

namespace tervolo::analytics {
namespace {

using testing::TallyFacadeTest;

class TallyUserDetailsTest : public TallyFacadeTest {
  protected:
    TallyUserDetails& user() { return Tally::user(); }
    // The decoded JSON of each queued request carrying `key`.
    std::vector<TallyJSON> payloads(const std::string& key) {
        std::vector<TallyJSON> found;
        for (const auto& query : queued()) {
            if (auto value = tly_valueForQueryStringKey(query, key)) {
                found.push_back(TallyJSON::parse(*tly_percentDecoded(*value)));
            }
        }
        return found;
    }
};

TEST_F(TallyUserDetailsTest, SaveQueuesProfilePictureAndModificationsThenForgets) {
    user().setEmail(TallyJSON("a@example.org"));
    user().save();  // before start: nothing sent, nothing forgotten
    EXPECT_EQ(user().email(), TallyJSON("a@example.org"));
    startOffline();
    user().save();
    auto sent = payloads("user_details");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (TallyJSON{{"email", "a@example.org"}}));

    user().setName(TallyJSON(std::string(300, 'n')));
    user().setGender(TallyJSON(nullptr));
    user().setPictureLocalPath(TallyJSON("/tmp/me.png"));
    user().increment("visits");
    user().increment("visits");
    user().incrementBy("score", std::nullopt);
    user().pushValues("tags", std::vector<std::string>{"a", "b"});
    user().save();
    sent = payloads("user_details");
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[1]["name"], std::string(256, 'n'));
    EXPECT_TRUE(sent[1]["gender"].is_null());
    EXPECT_EQ(sent[2], (TallyJSON{{kTallyLocalPicturePath, "/tmp/me.png"}}));
    EXPECT_EQ(sent[3],
              (TallyJSON{{"custom", {{"visits", {{"$inc", 1}}}, {"tags", {{"$push", {"a", "b"}}}}}}}));
    EXPECT_EQ(sent[3].dump(), R"({"custom":{"visits":{"$inc":1},"tags":{"$push":["a","b"]}}})");
    EXPECT_EQ(logger_->count(
                  "[Warning] -[TallyUserDetails incrementBy:value:] call will be ignored as value is nil!"),
              1u);
    EXPECT_EQ(user().name(), std::nullopt);
    EXPECT_TRUE(user().modifications().empty());

    // A picture address set as well: no upload of the local file.
    user().setPictureURL(TallyJSON("https://example.org/me.png"));
    user().setPictureLocalPath(TallyJSON("/tmp/me.png"));
    user().save();
    EXPECT_EQ(payloads("user_details").size(), 5u);
}

class TallyTracesTest : public TallyFacadeTest {
  protected:
    std::vector<TallyJSON> traces() {
        std::vector<TallyJSON> found;
        for (const auto& query : queued()) {
            if (auto value = tly_valueForQueryStringKey(query, "apm")) {
                found.push_back(TallyJSON::parse(*tly_percentDecoded(*value)));
            }
        }
        return found;
    }
};

TEST_F(TallyTracesTest, NetworkStartAndCustomTraces) {
    startOffline();
    auto& tally = Tally::sharedInstance();
    tally.recordNetworkTrace("api/points", 10, 20, 200, 1000, 1250);
    tally.appLoadingFinished();
    tally.appLoadingFinished();
    EXPECT_EQ(logger_->count("App start duration trace can be recorded once per app launch."), 1u);
    tally.startCustomTrace("pdf");
    time_.clock().setWallSeconds(1700000001.0);
    tally.startCustomTrace("pdf");
    time_.clock().setWallSeconds(1700000002.5);
    tally.endCustomTrace("pdf", TallyJSON{{"duration", 5}, {"x", 1}});
    tally.endCustomTrace("pdf", std::nullopt);
    EXPECT_EQ(logger_->count("Custom trace with name 'pdf' already started!"), 1u);
    EXPECT_EQ(logger_->count("Custom trace with name 'pdf' not started yet or cancelled/ended before!"), 1u);
    const auto all = traces();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0], (TallyJSON{{"type", "network"},
                                 {"name", "api/points"},
                                 {"apm_metrics",
                                  {{"request_payload_size", 10},
                                   {"response_time", 250},
                                   {"response_code", 200},
                                   {"response_payload_size", 20}}},
                                 {"stz", 1000},
                                 {"etz", 1250}}));
    EXPECT_EQ(all[1]["name"], "app_start");
    const int64_t start = all[2]["stz"];
    EXPECT_LT(start, 1700000001000);  // the first start, not the second
    EXPECT_EQ(all[2]["etz"], 1700000002500);
    EXPECT_EQ(all[2]["apm_metrics"], (TallyJSON{{"duration", 1700000002500 - start}, {"x", 1}}));
}

TEST_F(TallyTracesTest, ForegroundAndBackgroundTraces) {
    TallyConfig config = systemConfig("http://127.0.0.1:9");
    config.enablePerformanceMonitoring = true;
    startOffline(config);
    TallyApplicationState state;
    state.update(TallyDesktopState::Active);  // ends no background trace (none runs): only a warning
    time_.clock().setWallSeconds(1700000010.123);
    state.update(TallyDesktopState::Inactive);
    const auto all = traces();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0]["name"], kTallyPMKeyAppInForeground);
    EXPECT_EQ(all[0]["apm_metrics"]["duration"], 10000 - 1);
}

}  // namespace
}  // namespace tervolo::analytics
