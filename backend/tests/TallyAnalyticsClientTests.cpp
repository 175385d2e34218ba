#include <gtest/gtest.h>

#include "backend/QuovaAnalytics.hpp"
#include "backend/TallyAnalyticsClient.hpp"
#include "backend/tests/BackendTestSupport.hpp"
#include "platform/foundation/Bundle.hpp"
#include "testsupport/FakeAnalyticsServer.hpp"

namespace tervolo::backend {
namespace {

class TallyAnalyticsClientTest : public testing::BackendTest {};

// The wrapper starts the real analytics client with the application's key and
// POSTs, and its events reach the analytics server.
TEST_F(TallyAnalyticsClientTest, WrapperEventsReachTheAnalyticsServer) {
    tervolo::testsupport::FakeAnalyticsServer server;
    platform::Bundle::main().setInfoDictionaryForTesting(platform::PropertyValue::Dictionary{
        {"CFBundleIdentifier", "org.tervolo.TervoloNG"}, {"CFBundleVersion", "1.2.3"}, {"QuovaAnalyticsHost", server.host()}});
    ::testing::internal::CaptureStdout();
    QuovaAnalytics analytics(std::make_shared<TallyAnalyticsClient>());
    ::testing::internal::GetCapturedStdout();
    analytics.trackEvent("deviceRegistered", {{"deviceID", "42"}});
    ASSERT_TRUE(server.waitForRequests(1));  // the session begins at once
    time_->advance(60);                       // the session timer sends the events
    auto eventSent = [&] {
        for (const auto& query : server.queries()) {
            if (query.find("deviceRegistered") != std::string::npos) return true;
        }
        return false;
    };
    // The session's own requests may come first; the event follows them.
    for (size_t count = 2; count < 8 && !eventSent(); ++count) server.waitForRequests(count, 2);
    EXPECT_TRUE(eventSent());

    for (const auto& request : server.requests()) EXPECT_EQ(request.method, "POST");
    const auto queries = server.queries();
    EXPECT_NE(queries[0].find("app_key=5c1d7e2a90b34f6d8a17e0c3b9f4d26a71e8c05b"), std::string::npos);
    EXPECT_NE(queries[0].find("begin_session=1"), std::string::npos);
}

}  // namespace
}  // namespace tervolo::backend
