#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "analytics/Tally.hpp"
#include "analytics/TallyConnectionManager.hpp"
#include "analytics/TallyPersistency.hpp"
#include "analytics/TallyRemoteConfig.hpp"
#include "analytics/TallyText.hpp"
#include "analytics/tests/AnalyticsTestSupport.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "testsupport/FakeAnalyticsServer.hpp"

namespace tervolo::analytics {
namespace {

using tervolo::testsupport::CannedReply;
using ::testing::HasSubstr;
using ::testing::Not;
using testing::TallyFacadeTest;

class TallyRemoteConfigTest : public TallyFacadeTest {
  protected:
    std::shared_ptr<TallyRemoteConfig> remoteConfig() { return TallyRemoteConfig::sharedInstance(); }
    // Runs one manual update against the server's reply; its error.
    std::optional<platform::Error> update(CannedReply reply, std::optional<std::vector<std::string>> keys) {
        server_.http().route("*", "/o/sdk", std::move(reply));
        bool done = false;
        std::optional<platform::Error> result;
        remoteConfig()->updateRemoteConfig(keys, std::nullopt,
                                           [&](const std::optional<platform::Error>& error) {
                                               result = error;
                                               done = true;
                                           });
        EXPECT_TRUE(platform::RunLoop::runUntil([&] { return done; }, 10));
        return result;
    }
    tervolo::testsupport::FakeAnalyticsServer server_;
};

TEST_F(TallyRemoteConfigTest, RequestShape) {
    TallyConfig config = systemConfig("http://127.0.0.1:9");
    config.alwaysUsePOST = false;
    startOffline(config);
    auto request = remoteConfig()->remoteConfigRequest(std::vector<std::string>{"a", "b"},
                                                       std::vector<std::string>{"c"});
    EXPECT_EQ(request.httpMethod, "GET");
    EXPECT_THAT(request.url, HasSubstr("/o/sdk?app_key=KEY&"));
    EXPECT_THAT(request.url, HasSubstr("&method=fetch_remote_config&keys=%5B%22a%22%2C%22b%22%5D&metrics="));
    EXPECT_THAT(request.url, Not(HasSubstr("omit_keys")));
    request = remoteConfig()->remoteConfigRequest(std::nullopt, std::vector<std::string>{"c"});
    EXPECT_THAT(request.url, HasSubstr("&omit_keys=%5B%22c%22%5D"));
    // No switch to POST for a long query; only the setting forces it.
    const std::vector<std::string> many(300, "a-long-key-name");
    EXPECT_EQ(remoteConfig()->remoteConfigRequest(many, std::nullopt).httpMethod, "GET");
    TallyConnectionManager::sharedInstance()->setAlwaysUsePOST(true);
    request = remoteConfig()->remoteConfigRequest(std::nullopt, std::nullopt);
    EXPECT_EQ(request.httpMethod, "POST");
    EXPECT_THAT(request.url, ::testing::EndsWith("/o/sdk"));
}

TEST_F(TallyRemoteConfigTest, NoMetricsWithoutTheSessionConsent) {
    TallyConfig config = systemConfig("http://127.0.0.1:9");
    config.requiresConsent = true;
    config.alwaysUsePOST = false;
    startOffline(config);
    const auto url = remoteConfig()->remoteConfigRequest(std::nullopt, std::nullopt).url;
    EXPECT_THAT(url, HasSubstr("method=fetch_remote_config"));
    EXPECT_THAT(url, Not(HasSubstr("metrics")));
}

TEST_F(TallyRemoteConfigTest, MergeRuleAndRefusedReplies) {
    startOffline();
    TallyConnectionManager::sharedInstance()->setHost(server_.host());
    TallyPersistency::storeRemoteConfig(TallyJSON{{"a", 1}, {"c", 3}});
    TallyRemoteConfig::resetForTesting();  // the cache is read when the module is made
    EXPECT_EQ(remoteConfig()->remoteConfigValueForKey("c"), TallyJSON(3));

    EXPECT_EQ(update(CannedReply::json(R"({"a":2})"), std::vector<std::string>{"a"}), std::nullopt);
    EXPECT_EQ(remoteConfig()->cachedRemoteConfig(), (TallyJSON{{"a", 2}, {"c", 3}}));
    EXPECT_EQ(update(CannedReply::json(R"({"a":2})"), std::nullopt), std::nullopt);
    EXPECT_EQ(remoteConfig()->cachedRemoteConfig(), (TallyJSON{{"a", 2}}));
    EXPECT_EQ(TallyPersistency::retrieveRemoteConfig(), (TallyJSON{{"a", 2}}));
    EXPECT_EQ(remoteConfig()->remoteConfigValueForKey("missing"), std::nullopt);

    const struct {
        const char* name;
        CannedReply reply;
    } refused[] = {
        {"500", CannedReply::json(R"({"a":9})", 500)},
        {"array", CannedReply::json("[1]")},
        {"not JSON", CannedReply::text("oops")},
    };
    for (const auto& row : refused) {
        SCOPED_TRACE(row.name);
        const auto error = update(row.reply, std::nullopt);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, kTallyErrorRemoteConfigGeneralAPIError);
        EXPECT_EQ(error->description, "Remote config general API error");
        EXPECT_EQ(remoteConfig()->cachedRemoteConfig(), (TallyJSON{{"a", 2}}));
    }
}

TEST_F(TallyRemoteConfigTest, FetchOnStartCallsTheConfiguredHandler) {
    server_.http().route("*", "/o/sdk", CannedReply::json(R"({"theme":"dark"})"));
    TallyConfig config = systemConfig(server_.host());
    config.enableRemoteConfig = true;
    bool called = false;
    config.remoteConfigCompletionHandler = [&](const std::optional<platform::Error>& error) {
        EXPECT_EQ(error, std::nullopt);
        called = true;
    };
    startOffline(config);
    ASSERT_TRUE(platform::RunLoop::runUntil([&] { return called; }, 10));
    EXPECT_EQ(Tally::sharedInstance().remoteConfigValueForKey("theme"), TallyJSON("dark"));
}

}  // namespace
}  // namespace tervolo::analytics
