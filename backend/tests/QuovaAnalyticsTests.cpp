#include <gtest/gtest.h>

#include "backend/QuovaAnalytics.hpp"
#include "backend/tests/BackendTestSupport.hpp"

namespace tervolo::backend {
namespace {

class RecordingClient : public AnalyticsClient {
  public:
    std::vector<AnalyticsConfiguration> starts;
    std::vector<std::pair<std::string, std::optional<std::map<std::string, std::string>>>> events;

    void startWithConfig(const AnalyticsConfiguration& configuration) override { starts.push_back(configuration); }
    void recordEvent(const std::string& name) override { events.emplace_back(name, std::nullopt); }
    void recordEvent(const std::string& name, const std::map<std::string, std::string>& segmentation) override {
        events.emplace_back(name, segmentation);
    }
};

class QuovaAnalyticsTest : public testing::BackendTest {};

TEST_F(QuovaAnalyticsTest, StartsTheClientOnceWithTheApplicationsSettings) {
    auto client = std::make_shared<RecordingClient>();
    ::testing::internal::CaptureStdout();
    QuovaAnalytics analytics(client);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Initializing shared analytics.\n");

    ASSERT_EQ(client->starts.size(), 1u);
    const auto& configuration = client->starts[0];
    EXPECT_EQ(configuration.appKey, "5c1d7e2a90b34f6d8a17e0c3b9f4d26a71e8c05b");
    EXPECT_EQ(configuration.host, "https://analytics.tervolo.invalid");
    EXPECT_FALSE(configuration.enableDebug);
    EXPECT_EQ(configuration.features, (std::vector<std::string>{"TLYCrashReporting", "TLYAutoViewTracking"}));
    EXPECT_TRUE(configuration.alwaysUsePOST);
}

TEST_F(QuovaAnalyticsTest, EventsAreLoggedThenHandedOn) {
    auto client = std::make_shared<RecordingClient>();
    ::testing::internal::CaptureStdout();
    QuovaAnalytics analytics(client);
    ::testing::internal::GetCapturedStdout();

    analytics.trackEvent("applicationDidBecomeActive");
    analytics.trackEvent("pointCount", {{"count", "12"}});
    analytics.trackEvent("empty", {});

    ASSERT_EQ(client->events.size(), 3u);
    EXPECT_EQ(client->events[0].first, "applicationDidBecomeActive");
    EXPECT_FALSE(client->events[0].second.has_value());
    EXPECT_EQ(client->events[1].second, (std::map<std::string, std::string>{{"count", "12"}}));
    EXPECT_EQ(client->events[2].second, (std::map<std::string, std::string>{}));
    EXPECT_TRUE(log_->contains("event logged: applicationDidBecomeActive"));
    EXPECT_TRUE(log_->contains("event logged: pointCount / properties: [\"count\": \"12\"]"));
    EXPECT_TRUE(log_->contains("event logged: empty / properties: [:]"));
}

TEST_F(QuovaAnalyticsTest, LocationUpdatesRecordNothing) {
    auto client = std::make_shared<RecordingClient>();
    ::testing::internal::CaptureStdout();
    QuovaAnalytics analytics(client);
    ::testing::internal::GetCapturedStdout();
    platform::NotificationCenter::defaultCenter().post("QuovaLocationUpdate");
    EXPECT_TRUE(client->events.empty());
}

TEST(DictionaryDescriptionTest, KeysInOrderWithQuotedTexts) {
    EXPECT_EQ(dictionaryDescription({}), "[:]");
    EXPECT_EQ(dictionaryDescription({{"b", "2"}, {"a", "say \"hi\""}}), R"(["a": "say \"hi\"", "b": "2"])");
}

}  // namespace
}  // namespace tervolo::backend
