// The geocoder over real libcurl against a server on 127.0.0.1: what goes
// over the wire, and how broken replies and connections are taken.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "backend/BackendHosts.hpp"
#include "backend/QuovaIssueDisplayManager.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "search/QuovaForwardGeocoder.hpp"
#include "search/tests/GeocoderTestSupport.hpp"
#include "testsupport/LoopbackHTTPServer.hpp"

namespace tervolo::search {
namespace {

using testing::pollReply;
using testing::startReply;
using testsupport::CannedReply;
using testsupport::LoopbackHTTPServer;
using testsupport::RecordedRequest;

constexpr const char* kSearchPath = "/apps/api/searchLocation/";

class GeocoderLoopbackTest : public testing::GeocoderTest {
  protected:
    std::shared_ptr<QuovaForwardGeocoder> makeGeocoder(const LoopbackHTTPServer& server) {
        QuovaForwardGeocoder::Dependencies dependencies;
        auto configuration = QuovaForwardGeocoder::sessionConfiguration();
        dependencies.session = makeURLSearchSession(configuration);
        dependencies.apiBaseURL = [url = server.url()] { return url; };
        return QuovaForwardGeocoder::make(std::move(dependencies));
    }
    // Runs the main queue until no request of the geocoder is in flight.
    static bool waitForReplies(const QuovaForwardGeocoder& geocoder) {
        return platform::RunLoop::runUntil(
            [&] { return !geocoder.searchRequestTask() && !geocoder.retrieveRequestTask(); }, 20);
    }
    // Runs the main queue until the server has seen `count` requests.
    static bool waitForRequestCount(const LoopbackHTTPServer& server, size_t count) {
        return platform::RunLoop::runUntil([&] { return server.requestCount() >= count; }, 20);
    }
    // The backend: POST of the start, GETs of the polls, answered by the two handlers.
    static void serve(LoopbackHTTPServer& server, std::function<CannedReply(const RecordedRequest&)> onStart,
                      std::function<CannedReply(const RecordedRequest&)> onPoll) {
        server.setFallback([onStart, onPoll](const RecordedRequest& request) {
            if (request.path.rfind(kSearchPath, 0) != 0) return CannedReply::text("", 404);
            return request.method == "POST" ? onStart(request) : onPoll(request);
        });
    }
    std::vector<RecordedRequest> requests(const LoopbackHTTPServer& server, const std::string& method) {
        std::vector<RecordedRequest> matching;
        for (const auto& request : server.requests()) {
            if (request.method == method) matching.push_back(request);
        }
        return matching;
    }

    testing::HandlerCalls calls_;
};

TEST_F(GeocoderLoopbackTest, WholeSearchOverTheWire) {
    LoopbackHTTPServer server;
    auto polls = std::make_shared<std::atomic<int>>(0);
    serve(
        server, [](const RecordedRequest&) { return CannedReply::json(startReply("srv-7", "Kemi")); },
        [polls](const RecordedRequest&) {
            return CannedReply::json(polls->fetch_add(1) == 0 ? pollReply(1, false, true, "srv-7")
                                                              : pollReply(2, true, true, "srv-7"));
        });
    auto geocoder = makeGeocoder(server);
    geocoder->geocodeAddressString("Kemi", {65.7364, 24.5637}, {-180, -180}, calls_.handler("Kemi"));
    ASSERT_TRUE(platform::RunLoop::runUntil([&] { return calls_.size() == 1; }, 20));
    EXPECT_FALSE(calls_.calls()[0].done);
    EXPECT_EQ(calls_.calls()[0].placemarks->size(), 1u);
    ASSERT_TRUE(waitForReplies(*geocoder));
    time_.advance(1.0);  // the first tick polls again
    ASSERT_TRUE(platform::RunLoop::runUntil([&] { return calls_.size() == 2; }, 20));
    EXPECT_TRUE(calls_.calls()[1].done);
    ASSERT_EQ(calls_.calls()[1].placemarks->size(), 2u);
    EXPECT_EQ(calls_.calls()[1].placemarks->at(1).title, "Place 1");
    EXPECT_FALSE(geocoder->runningRequestTimer());

    const auto posts = requests(server, "POST");
    const auto gets = requests(server, "GET");
    ASSERT_EQ(posts.size(), 1u);
    ASSERT_EQ(gets.size(), 2u);
    const auto body = nlohmann::json::parse(posts[0].body);
    EXPECT_EQ(posts[0].path, kSearchPath + body["uuid"].get<std::string>());
    EXPECT_EQ(body["searchString"], "Kemi");
    EXPECT_EQ(body["userLat"], -180.0);
    EXPECT_EQ(body["startDate"], 700000000.0);
    EXPECT_EQ(posts[0].header("Content-Type"), "application/json");
    EXPECT_EQ(posts[0].header("User-Agent").value_or("").rfind("TervoloNG/", 0), 0u);
    for (const auto& get : gets) {
        EXPECT_EQ(get.path, std::string(kSearchPath) + "srv-7");
        EXPECT_EQ(get.header("Content-Type"), "application/json");
        EXPECT_TRUE(get.body.empty());
    }
    EXPECT_TRUE(logged("started polling timer for UUID \"srv-7\""));
    EXPECT_TRUE(logged("result: \"search queued\""));
    geocoder->cancel();
}

// Broken start replies: each is a failed start, retried after 0.1 s with a
// new identifier, except a 500 that carries a start reply: the status is
// logged, not examined.
TEST_F(GeocoderLoopbackTest, BrokenStartRepliesAreRetried) {
    struct Row {
        const char* name;
        CannedReply reply;
        bool polls;
    };
    const Row rows[] = {
        {"malformed JSON", CannedReply::json(R"({"status":0,"message":"x","uuid":"S1",)"), false},
        {"500 with an error page", CannedReply::text("<html>Internal Server Error</html>", 500), false},
        {"500 with a start reply", CannedReply::json(startReply("S500"), 500), true},
        {"connection reset", CannedReply::ofMode(CannedReply::Mode::resetBeforeReply), false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        LoopbackHTTPServer server;
        serve(
            server, [reply = row.reply](const RecordedRequest&) { return reply; },
            [](const RecordedRequest&) { return CannedReply::json(pollReply(0, false, true, "S500")); });
        auto geocoder = makeGeocoder(server);
        geocoder->geocodeAddressString("abc", {1, 2}, {3, 4}, calls_.handler());
        ASSERT_TRUE(waitForRequestCount(server, 1));
        ASSERT_TRUE(waitForReplies(*geocoder));
        if (row.polls) {
            EXPECT_EQ(requests(server, "GET").size(), 1u);
            EXPECT_TRUE(geocoder->runningRequestTimer());
            const auto texts = logTexts();
            EXPECT_TRUE(std::any_of(texts.begin(), texts.end(), [](const std::string& text) {
                return text.rfind("response: ", 0) == 0 && text.find("Status Code: 500") != std::string::npos;
            }));
        } else {
            EXPECT_TRUE(requests(server, "GET").empty());
            time_.advance(QuovaForwardGeocoder::kRetryDelay);
            ASSERT_TRUE(waitForRequestCount(server, 2));
            const auto posts = requests(server, "POST");
            ASSERT_EQ(posts.size(), 2u);
            EXPECT_NE(posts[0].path, posts[1].path);
            ASSERT_TRUE(waitForReplies(*geocoder));
        }
        EXPECT_EQ(calls_.size(), 0u);
        geocoder->cancel();
        platform::RunLoop::runUntilIdle();
        log_.clear();
    }
}

TEST_F(GeocoderLoopbackTest, MalformedPollReplyCountsAsNoHits) {
    LoopbackHTTPServer server;
    serve(
        server, [](const RecordedRequest&) { return CannedReply::json(startReply("S1")); },
        [](const RecordedRequest&) { return CannedReply::json(R"({"status":0,"hits":"many"})"); });
    auto geocoder = makeGeocoder(server);
    geocoder->geocodeAddressString("abc", {1, 2}, {3, 4}, calls_.handler());
    ASSERT_TRUE(waitForRequestCount(server, 2));
    ASSERT_TRUE(waitForReplies(*geocoder));
    EXPECT_TRUE(logged("hits: 0"));
    EXPECT_TRUE(geocoder->runningRequestTimer());
    time_.advance(1.0);
    ASSERT_TRUE(waitForRequestCount(server, 3));
    ASSERT_TRUE(waitForReplies(*geocoder));
    EXPECT_EQ(calls_.size(), 0u);
    geocoder->cancel();
}

class FakePresenter : public backend::IssueAlertPresenter {
  public:
    bool hasMapScreen() const override { return true; }
    void presentOnMapScreen(Alert alert) override {
        std::lock_guard lock(mutex_);
        titles_.push_back(alert.title);
    }
    std::vector<std::string> titles() const {
        std::lock_guard lock(mutex_);
        return titles_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> titles_;
};

// A server whose certificate nobody trusts: every start fails, each failure
// asks for the secure-connection notice, and the notice shows once in the
// 120 s it keeps quiet. Uses the application's own wiring (API host, shared
// notice).
TEST_F(GeocoderLoopbackTest, UntrustedCertificateShowsTheNoticeOnce) {
    LoopbackHTTPServer server(LoopbackHTTPServer::Transport::tls);
    serve(
        server, [](const RecordedRequest&) { return CannedReply::json(startReply("S1")); },
        [](const RecordedRequest&) { return CannedReply::json(pollReply(1, true)); });
    backend::BackendHosts::setAPIBaseURLForTesting(server.url());
    backend::QuovaIssueDisplayManager notices;
    auto presenter = std::make_shared<FakePresenter>();
    notices.setPresenter(presenter);
    auto replacement =
        platform::SharedInstance<backend::QuovaIssueDisplayManager>::replaceForTesting(notices);

    auto geocoder = QuovaForwardGeocoder::make();
    geocoder->geocodeAddressString("abc", {1, 2}, {3, 4}, calls_.handler());
    // Let each failed start come back, then let the retry pause pass, until
    // the geocoder gives up (30 s of virtual time, well within 120 s).
    for (int step = 0; step < 1000 && calls_.size() == 0; ++step) {
        ASSERT_TRUE(waitForReplies(*geocoder));
        platform::RunLoop::runUntilIdle();
        time_.advance(0.1);
    }
    platform::RunLoop::runUntilIdle();
    ASSERT_EQ(calls_.size(), 1u);
    EXPECT_EQ(calls_.calls()[0].error->code, -1001);
    EXPECT_GE(loggedCount("Starting search FAILED, trying again."), 5u);
    EXPECT_EQ(presenter->titles(), std::vector<std::string>{"The certificate for this server is invalid."});
    // Nothing ever reached the server's request handling.
    EXPECT_EQ(server.requestCount(), 0u);
    backend::BackendHosts::setAPIBaseURLForTesting(std::nullopt);
}

}  // namespace
}  // namespace tervolo::search
