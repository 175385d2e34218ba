#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <functional>
#include <limits>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/dispatch/Timer.hpp"
#include "platform/net/URLError.hpp"
#include "search/TimerConfiguration.hpp"
#include "search/tests/FakeSearchSession.hpp"
#include "search/tests/GeocoderTestSupport.hpp"

namespace tervolo::search {
namespace {

using testing::FakeReply;
using testing::FakeSearchSession;
using testing::pollReply;
using testing::startReply;

// Replies take 1/32 s: a binary fraction, so the clock's sums stay exact and
// "exactly 30 s of polling" is exactly 30 s.
constexpr double kLatency = 1.0 / 32;
constexpr const char* kBase = "https://api.test";
const std::string kSearchURL = std::string(kBase) + "/apps/api/searchLocation/";

class ForwardGeocoderTest : public testing::GeocoderTest {
  public:
    enum class State { idle, starting, retryPending, polling };

  protected:
    ForwardGeocoderTest() {
        QuovaForwardGeocoder::Dependencies dependencies;
        dependencies.session = fake_;
        dependencies.apiBaseURL = [] { return std::string(kBase); };
        dependencies.showSecureConnectionNotice = [this](std::string title) {
            std::lock_guard lock(mutex_);
            notices_.push_back(std::move(title));
        };
        geocoder_ = QuovaForwardGeocoder::make(std::move(dependencies));
    }
    ~ForwardGeocoderTest() override {
        // Cancelled requests deliver -999 and so let go of the geocoder.
        geocoder_->cancel();
        settle();
    }

    // Lets the fake session's queue and then the main queue run dry.
    void settle() {
        for (int i = 0; i < 4; ++i) {
            fake_->queue()->sync([] {});
            platform::RunLoop::runUntilIdle();
        }
    }
    void advance(double seconds) {
        time_.advance(seconds);
        settle();
    }
    void start(const std::string& text = "abc") {
        geocoder_->geocodeAddressString(text, {65.7364, 24.5637}, {65.75, 24.5}, calls_.handler(text));
        settle();
    }
    // Answers the latest unanswered request of `method`.
    void answer(const std::string& method, FakeReply reply) {
        auto task = fake_->pending(method);
        ASSERT_TRUE(task) << "no " << method << " waiting";
        fake_->answer(task, std::move(reply));
        settle();
    }
    // Answers every POST with `startBody` and the GETs with `polls` in turn
    // (the last one again and again), each after kLatency.
    void script(std::string startBody, std::vector<std::string> polls) {
        auto next = std::make_shared<std::atomic<size_t>>(0);
        fake_->setResponder(
            [startBody, polls, next](const FakeSearchSession::Task& task) -> std::optional<FakeReply> {
                if (task.request.httpMethod == "POST") return FakeReply::http(startBody);
                if (polls.empty()) return std::nullopt;
                const size_t i = std::min(next->fetch_add(1), polls.size() - 1);
                return FakeReply::http(polls[i]);
            },
            kLatency);
    }
    size_t count(const std::string& method) const { return fake_->requests(method).size(); }
    std::vector<std::string> getURLs() const {
        std::vector<std::string> urls;
        for (const auto& task : fake_->requests("GET")) urls.push_back(task->request.url);
        return urls;
    }
    std::vector<std::string> notices() {
        std::lock_guard lock(mutex_);
        return notices_;
    }

    // What the geocoder is doing; telling a pending retry from idle lets time
    // pass (beyond the longest retry pause), so call it last.
    State observedState() {
        if (geocoder_->runningRequestTimer()) return State::polling;
        if (geocoder_->searchRequestTask()) return State::starting;
        const size_t posts = count("POST");
        advance(QuovaForwardGeocoder::kMaximumRetryDelay + 1);
        return count("POST") > posts ? State::retryPending : State::idle;
    }

    std::shared_ptr<FakeSearchSession> fake_ = FakeSearchSession::make();
    std::shared_ptr<QuovaForwardGeocoder> geocoder_;
    testing::HandlerCalls calls_;
    std::mutex mutex_;
    std::vector<std::string> notices_;
};

// The normal search on virtual time: start, a poll without hits, one with
// three, one done with five, then nothing more.
TEST_F(ForwardGeocoderTest, NormalSearchTimeline) {
    script(startReply("S1"), {pollReply(0, false), pollReply(3, false), pollReply(5, true)});
    const double t0 = platform::Clock::current()->monotonicSeconds();
    start();

    auto posts = fake_->requests("POST");
    ASSERT_EQ(posts.size(), 1u);
    const std::string sent = posts[0]->request.url.substr(kSearchURL.size());
    EXPECT_EQ(posts[0]->request.url.substr(0, kSearchURL.size()), kSearchURL);
    EXPECT_EQ(sent.size(), 36u);
    EXPECT_EQ(posts[0]->request.value("Content-Type"), "application/json");
    EXPECT_EQ(posts[0]->request.timeoutInterval, 60.0);
    const auto body = nlohmann::json::parse(posts[0]->body);
    EXPECT_EQ(body["uuid"], sent);
    EXPECT_EQ(body["searchProviders"], "all");
    EXPECT_EQ(body["startDate"], 700000000.0);
    EXPECT_EQ(body["searchString"], "abc");
    EXPECT_EQ(body["mapLat"], 65.7364);
    EXPECT_TRUE(geocoder_->searchRequestTask());
    EXPECT_FALSE(geocoder_->hasRunningRequestHandler());

    advance(kLatency);  // start reply: the backend's identifier, not ours, is polled, at once
    EXPECT_EQ(geocoder_->runningRequestUUID(), "S1");
    EXPECT_TRUE(geocoder_->hasRunningRequestHandler());
    EXPECT_TRUE(geocoder_->runningRequestTimer());
    EXPECT_FALSE(geocoder_->searchRequestTask());
    EXPECT_EQ(getURLs(), std::vector<std::string>{kSearchURL + "S1"});
    EXPECT_EQ(fake_->requests("GET")[0]->request.value("Content-Type"), "application/json");

    advance(kLatency);  // not done, no hits: dropped
    EXPECT_EQ(calls_.size(), 0u);
    EXPECT_FALSE(geocoder_->retrieveRequestTask());

    advance(1.0);  // tick, reply with three
    ASSERT_EQ(calls_.size(), 1u);
    EXPECT_EQ(calls_.calls()[0].placemarks->size(), 3u);
    EXPECT_FALSE(calls_.calls()[0].done);
    EXPECT_FALSE(calls_.calls()[0].error);
    EXPECT_DOUBLE_EQ(calls_.calls()[0].at - t0, 1.0 + 2 * kLatency);

    advance(1.0);  // tick, reply done with five
    ASSERT_EQ(calls_.size(), 2u);
    EXPECT_EQ(calls_.calls()[1].placemarks->size(), 5u);
    EXPECT_TRUE(calls_.calls()[1].done);
    EXPECT_FALSE(geocoder_->runningRequestTimer());

    advance(5.0);
    EXPECT_EQ(count("GET"), 3u);
    EXPECT_EQ(calls_.size(), 2u);
    EXPECT_EQ(time_.clock().pendingCount(), 0u);
}

TEST_F(ForwardGeocoderTest, BackendNeverDoneEndsWithOneTimeoutAfterThirtySecondsOfPolling) {
    script(startReply("S1"), {pollReply(0, false)});
    start();
    advance(kLatency);  // polling begins
    const double began = platform::Clock::current()->monotonicSeconds();
    advance(31.0 - kLatency / 2);

    // At once and on every tick up to and including exactly 30 s.
    const auto gets = fake_->requests("GET");
    ASSERT_EQ(gets.size(), 31u);
    EXPECT_DOUBLE_EQ(gets.back()->createdAt - began, 30.0);
    EXPECT_EQ(calls_.size(), 0u);

    advance(kLatency);  // the first tick past the limit
    ASSERT_EQ(calls_.size(), 1u);
    EXPECT_FALSE(calls_.calls()[0].placemarks);
    EXPECT_TRUE(calls_.calls()[0].done);
    ASSERT_TRUE(calls_.calls()[0].error);
    EXPECT_EQ(calls_.calls()[0].error->domain, "NSURLErrorDomain");
    EXPECT_EQ(calls_.calls()[0].error->code, -1001);
    EXPECT_TRUE(calls_.calls()[0].error->userInfo.empty());
    EXPECT_DOUBLE_EQ(calls_.calls()[0].at - began, 31.0);
    EXPECT_TRUE(logged("Polling UUID \"S1\" for 30.0 seconds, stopping."));
    // The identifier and handler of the finished search stay.
    EXPECT_EQ(geocoder_->runningRequestUUID(), "S1");
    EXPECT_TRUE(geocoder_->hasRunningRequestHandler());

    advance(10);
    EXPECT_EQ(count("GET"), 31u);
    EXPECT_EQ(calls_.size(), 1u);
}

// The transition table: each row brings the geocoder into a state, applies
// one event and checks the state it ends in, the requests the event sent and
// the handler calls it caused.
enum class From { idle, starting, retryPending, polling, pollInFlight, pollingPastLimit };
using State = ForwardGeocoderTest::State;

struct ExpectedCall {
    int placemarks;  // -1: no list
    bool done;
    int64_t errorCode;  // 0: none
};

class TransitionTest;

struct TransitionRow {
    const char* name;
    From from;
    std::function<void(TransitionTest&)> event;
    State to;
    size_t newPosts;
    size_t newGets;
    std::vector<ExpectedCall> calls;
    const char* logLine;  // a line the event logs, or null
};

// Test names show the row's name, not its bytes.
void PrintTo(const TransitionRow& row, std::ostream* os) {
    *os << row.name;
}

class TransitionTest : public ForwardGeocoderTest, public ::testing::WithParamInterface<TransitionRow> {
  public:
    void reach(From from) {
        switch (from) {
            case From::idle:
                return;
            case From::starting:
                start();
                return;
            case From::retryPending:
                start();
                answer("POST", FakeReply::failure(platform::URLError::cannotConnectToHost));
                return;
            case From::polling:
            case From::pollInFlight:
                start();
                answer("POST", FakeReply::http(startReply("S1")));
                if (from == From::polling) answer("GET", FakeReply::http(pollReply(0, false)));
                return;
            case From::pollingPastLimit:
                script(startReply("S1"), {pollReply(0, false)});
                start();
                advance(kLatency + 30.0 + kLatency);  // the 31st poll answered at 30 s
                fake_->setResponder(nullptr, 0);
                return;
        }
    }
    // Test-side access for the rows.
    void startFor(const std::string& text) { start(text); }
    void answerFor(const std::string& method, FakeReply reply) { answer(method, std::move(reply)); }
    void advanceBy(double seconds) { advance(seconds); }
    QuovaForwardGeocoder& geocoder() { return *geocoder_; }
    // A poll reply clears the reference to its task.
    void expectNoPollInFlight() { EXPECT_FALSE(geocoder_->retrieveRequestTask()); }
};

TEST_P(TransitionTest, Transition) {
    const auto& row = GetParam();
    reach(row.from);
    const size_t posts = count("POST");
    const size_t gets = count("GET");
    const size_t callsBefore = calls_.size();
    row.event(*this);

    EXPECT_EQ(count("POST") - posts, row.newPosts);
    EXPECT_EQ(count("GET") - gets, row.newGets);
    ASSERT_EQ(calls_.size() - callsBefore, row.calls.size());
    for (size_t i = 0; i < row.calls.size(); ++i) {
        const auto& call = calls_.calls()[callsBefore + i];
        const auto& expected = row.calls[i];
        EXPECT_EQ(call.placemarks ? static_cast<int>(call.placemarks->size()) : -1, expected.placemarks);
        EXPECT_EQ(call.done, expected.done);
        EXPECT_EQ(call.error ? call.error->code : 0, expected.errorCode);
    }
    if (row.logLine) {
        EXPECT_TRUE(logged(row.logLine)) << row.logLine;
    }
    EXPECT_EQ(observedState(), row.to);
}

const TransitionRow kTransitions[] = {
    {"IdleGeocode", From::idle, [](auto& t) { t.startFor("new"); }, State::starting, 1, 0, {}, nullptr},
    {"StartingGeocode",
     From::starting,
     [](auto& t) { t.startFor("new"); },
     State::starting,
     1,
     0,
     {},
     "Starting search CANCELED, nothing to do."},
    {"PollingGeocode", From::polling, [](auto& t) { t.startFor("new"); }, State::starting, 1, 0, {}, nullptr},
    {"StartingCancel",
     From::starting,
     [](auto& t) {
         t.geocoder().cancel();
         t.advanceBy(0);
     },
     State::idle,
     0,
     0,
     {},
     "Starting search CANCELED, nothing to do."},
    {"PollingCancel",
     From::pollInFlight,
     [](auto& t) {
         t.geocoder().cancel();
         t.advanceBy(0);
     },
     State::idle,
     0,
     0,
     {},
     nullptr},
    {"StartingReplyOK",
     From::starting,
     [](auto& t) { t.answerFor("POST", FakeReply::http(startReply("S1"))); },
     State::polling,
     0,
     1,
     {},
     "started polling timer for UUID \"S1\""},
    {"StartingReplyFailed",
     From::starting,
     [](auto& t) { t.answerFor("POST", FakeReply::failure(platform::URLError::networkConnectionLost)); },
     State::retryPending,
     0,
     0,
     {},
     "Starting search FAILED, trying again."},
    {"StartingReplyEmptyUUID",
     From::starting,
     [](auto& t) { t.answerFor("POST", FakeReply::http(startReply(""))); },
     State::retryPending,
     0,
     0,
     {},
     "Starting search FAILED, trying again."},
    {"StartingReplyCancelled",
     From::starting,
     [](auto& t) { t.answerFor("POST", FakeReply::failure(platform::URLError::cancelled)); },
     State::idle,
     0,
     0,
     {},
     "Starting search CANCELED, nothing to do."},
    {"RetryDue",
     From::retryPending,
     [](auto& t) { t.advanceBy(QuovaForwardGeocoder::kRetryDelay); },
     State::starting,
     1,
     0,
     {},
     "Starting search for \"abc\" - again."},
    {"RetryDueAfterANewStart",
     From::retryPending,
     [](auto& t) {
         t.startFor("new");
         t.advanceBy(QuovaForwardGeocoder::kRetryDelay);
     },
     State::starting,
     1,
     0,
     {},
     "NOT starting search for \"abc\" - again - it was cancelled."},
    {"TickForeignIdentifier",
     From::polling,
     [](auto& t) {
         auto timer = platform::Timer::scheduled(
             1000, false, [](platform::Timer&) {}, TimerConfiguration{"OTHER", platform::Date::now()});
         t.geocoder().pollResults(*timer);
         timer->invalidate();
     },
     State::polling,
     0,
     0,
     {},
     "Can't poll for result - search \"OTHER\" not ready."},
    {"TickWhilePollInFlight",
     From::pollInFlight,
     [](auto& t) { t.advanceBy(1.0); },
     State::polling,
     0,
     0,
     {},
     "Can't poll for results - retrieveTask still running."},
    {"TickWithinLimit", From::polling, [](auto& t) { t.advanceBy(1.0); }, State::polling, 0, 1, {}, nullptr},
    {"TickPastLimit",
     From::pollingPastLimit,
     [](auto& t) { t.advanceBy(1.0); },
     State::idle,
     0,
     0,
     {{-1, true, -1001}},
     "Polling UUID \"S1\" for 30.0 seconds, stopping."},
    {"PollFailed",
     From::pollInFlight,
     [](auto& t) {
         t.answerFor("GET", FakeReply::failure(platform::URLError::timedOut));
         t.expectNoPollInFlight();
     },
     State::polling,
     0,
     0,
     {},
     "retrieval error: \"The request timed out.\""},
    {"PollUndecodable",
     From::pollInFlight,
     [](auto& t) {
         t.answerFor("GET", FakeReply::http("<html>busy</html>"));
         t.expectNoPollInFlight();
     },
     State::polling,
     0,
     0,
     {},
     "hits: 0"},
    {"PollNotDoneNoHits",
     From::pollInFlight,
     [](auto& t) {
         t.answerFor("GET", FakeReply::http(pollReply(0, false)));
         t.expectNoPollInFlight();
     },
     State::polling,
     0,
     0,
     {},
     nullptr},
    {"PollNotDoneWithHits",
     From::pollInFlight,
     [](auto& t) {
         t.answerFor("GET", FakeReply::http(pollReply(3, false)));
         t.expectNoPollInFlight();
     },
     State::polling,
     0,
     0,
     {{3, false, 0}},
     nullptr},
    {"PollDone",
     From::pollInFlight,
     [](auto& t) { t.answerFor("GET", FakeReply::http(pollReply(5, true))); },
     State::idle,
     0,
     0,
     {{5, true, 0}},
     nullptr},
    {"PollDoneWithoutList",
     From::pollInFlight,
     [](auto& t) { t.answerFor("GET", FakeReply::http(pollReply(0, true, false))); },
     State::idle,
     0,
     0,
     {{-1, true, 0}},
     nullptr},
};

INSTANTIATE_TEST_SUITE_P(ForwardGeocoder, TransitionTest, ::testing::ValuesIn(kTransitions),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ForwardGeocoderTest, StartingAgainWhilePollingStopsTheOldSearch) {
    script(startReply("S1"), {pollReply(0, false)});
    start("abc");
    advance(kLatency);
    const std::string first = fake_->requests("POST")[0]->request.url;
    script(startReply("S2"), {pollReply(0, false)});
    start("abcd");
    EXPECT_NE(fake_->requests("POST")[1]->request.url, first);
    advance(3.0);  // S2 polled at once and on two ticks; S1 never again
    const auto urls = getURLs();
    EXPECT_EQ(std::count(urls.begin(), urls.end(), kSearchURL + "S1"), 1);
    EXPECT_EQ(std::count(urls.begin(), urls.end(), kSearchURL + "S2"), 3);
}

// A cancel while a retry waits must start nothing: the old search would
// otherwise come back with its old handler.
TEST_F(ForwardGeocoderTest, CancelDuringPendingRetryStartsNothing) {
    start();
    answer("POST", FakeReply::failure(platform::URLError::cannotConnectToHost));
    geocoder_->cancel();
    advance(60);
    EXPECT_EQ(count("POST"), 1u);
    EXPECT_EQ(calls_.size(), 0u);
    EXPECT_EQ(time_.clock().pendingCount(), 0u);
}

// An old search's success that arrives after a new search began, before or
// after the new one's own start reply, neither replaces the new search nor
// starts a second timer.
TEST_F(ForwardGeocoderTest, LateSuccessOfAnOldSearchLeavesOneLiveTimer) {
    for (bool oldFirst : {true, false}) {
        SCOPED_TRACE(oldFirst ? "old reply first" : "new reply first");
        const size_t getsBefore = count("GET");
        start("old");
        auto oldPost = fake_->pending("POST");
        fake_->holdCancellations(true);  // the old reply is already on its way
        start("new");
        fake_->holdCancellations(false);
        auto newPost = fake_->pending("POST");
        ASSERT_NE(oldPost, newPost);
        if (oldFirst) fake_->answer(oldPost, FakeReply::http(startReply("OLD")));
        fake_->answer(newPost, FakeReply::http(startReply("NEW")));
        if (!oldFirst) fake_->answer(oldPost, FakeReply::http(startReply("OLD")));
        settle();
        EXPECT_EQ(geocoder_->runningRequestUUID(), "NEW");
        EXPECT_TRUE(geocoder_->runningRequestTimer());
        EXPECT_FALSE(geocoder_->searchRequestTask());

        script(startReply("unused"), {pollReply(0, false, true, "NEW")});
        answer("GET", FakeReply::http(pollReply(0, false, true, "NEW")));
        advance(40);
        const auto all = getURLs();
        const std::vector<std::string> urls(all.begin() + static_cast<std::ptrdiff_t>(getsBefore), all.end());
        EXPECT_EQ(std::count(urls.begin(), urls.end(), kSearchURL + "OLD"), 0);
        EXPECT_EQ(std::count(urls.begin(), urls.end(), kSearchURL + "NEW"), 31);
        // Only the new search's handler, once, at its polling limit; then no timer is left.
        EXPECT_EQ(calls_.searches(), std::vector<std::string>{"new"});
        EXPECT_EQ(time_.clock().pendingCount(), 0u);
        fake_->setResponder(nullptr, 0);
        geocoder_->cancel();
        settle();
        calls_ = testing::HandlerCalls();
    }
}

// An unreachable backend is asked again after 0.1 s, the pause doubling up to
// 5 s, and after 30 s without a successful start the caller hears once.
TEST_F(ForwardGeocoderTest, UnreachableBackendBacksOffAndEndsWithOneHandlerCall) {
    fake_->setResponder(
        [](const auto&) { return FakeReply::failure(platform::URLError::cannotConnectToHost); }, kLatency);
    const double t0 = platform::Clock::current()->monotonicSeconds();
    start();
    advance(60);

    const auto posts = fake_->requests("POST");
    const std::vector<double> pauses = {0.1, 0.2, 0.4, 0.8, 1.6, 3.2, 5, 5, 5, 5, 5};
    ASSERT_EQ(posts.size(), pauses.size() + 1);
    for (size_t i = 0; i < pauses.size(); ++i) {
        EXPECT_NEAR(posts[i + 1]->createdAt - posts[i]->createdAt - kLatency, pauses[i], 1e-9) << i;
        EXPECT_NE(posts[i + 1]->request.url, posts[i]->request.url);  // a new identifier each time
        EXPECT_EQ(nlohmann::json::parse(posts[i + 1]->body)["searchProviders"], "all");
    }
    ASSERT_EQ(calls_.size(), 1u);
    const auto& call = calls_.calls()[0];
    EXPECT_FALSE(call.placemarks);
    EXPECT_TRUE(call.done);
    ASSERT_TRUE(call.error);
    EXPECT_EQ(call.error->code, -1001);
    // Told when the first failure after 30 s arrives.
    EXPECT_DOUBLE_EQ(call.at - t0, posts.back()->createdAt - t0 + kLatency);
    EXPECT_GE(call.at - t0, 30.0);
    EXPECT_EQ(loggedCount("Starting search FAILED, trying again."), pauses.size());
    EXPECT_EQ(count("GET"), 0u);

    advance(120);
    EXPECT_EQ(count("POST"), posts.size());
    EXPECT_EQ(calls_.size(), 1u);
}

// The backend's identifier goes into the URL path only when it is plain.
TEST_F(ForwardGeocoderTest, UnusableBackendIdentifierIsAFailedStartAndNeverRequested) {
    struct Row {
        std::string uuid;
        bool usable;
    };
    const Row rows[] = {
        {"../x", false},
        {"", false},
        {"a/b", false},
        {"a?b=1", false},
        {"a b", false},
        {"%2e%2e", false},
        {"\xc3\xa4", false},
        {std::string(65, 'a'), false},
        {"S1", true},
        {"a_b-C9", true},
        {std::string(64, 'z'), true},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(QuovaForwardGeocoder::isUsableSearchIdentifier(row.uuid), row.usable) << row.uuid;
    }

    start();
    answer("POST", FakeReply::http(startReply("../x")));
    EXPECT_EQ(count("GET"), 0u);
    EXPECT_FALSE(geocoder_->runningRequestUUID());
    EXPECT_TRUE(logged("Starting search FAILED, trying again."));
    advance(QuovaForwardGeocoder::kRetryDelay);
    EXPECT_EQ(count("POST"), 2u);
    geocoder_->pollResultsFor("../x");
    settle();
    EXPECT_EQ(count("GET"), 0u);
    for (const auto& task : fake_->tasks()) EXPECT_EQ(task->request.url.find(".."), std::string::npos);
}

TEST_F(ForwardGeocoderTest, CancelWhileAPollReplyIsQueuedCallsNothing) {
    start();
    answer("POST", FakeReply::http(startReply("S1")));
    fake_->answer(fake_->pending("GET"), FakeReply::http(pollReply(5, true)));
    fake_->queue()->sync([] {});  // the reply has been read; its hand-overs wait on the main queue
    geocoder_->cancel();
    settle();
    EXPECT_EQ(calls_.size(), 0u);
    EXPECT_FALSE(geocoder_->runningRequestTimer());
}

TEST_F(ForwardGeocoderTest, RequestThatCannotBeEncodedSendsNothingAndLogsOnce) {
    const auto before = logTexts().size();
    geocoder_->geocodeAddressString("abc", {std::numeric_limits<double>::quiet_NaN(), 24.5}, {65.75, 24.5},
                                    calls_.handler("abc"));
    advance(60);
    EXPECT_TRUE(fake_->tasks().empty());
    EXPECT_EQ(calls_.size(), 0u);
    const auto texts = logTexts();
    ASSERT_EQ(texts.size() - before, 1u);
    EXPECT_NE(texts.back().find("search request for \"abc\" not sent"), std::string::npos) << texts.back();
}

TEST_F(ForwardGeocoderTest, SecureConnectionFailuresAskForTheNoticeAndRetry) {
    start();
    answer("POST", FakeReply::failure(platform::URLError::secureConnectionFailed));
    advance(QuovaForwardGeocoder::kRetryDelay);
    answer("POST", FakeReply::failure(platform::URLError::serverCertificateUntrusted));
    advance(1);
    answer("POST", FakeReply::failure(platform::URLError::cannotConnectToHost));
    EXPECT_EQ(notices(),
              (std::vector<std::string>{
                  "An SSL error has occurred and a secure connection to the server cannot be made.",
                  "The certificate for this server is invalid."}));
    EXPECT_EQ(count("POST"), 3u);
}

// Replies arrive on the session's queue while the main thread starts and
// cancels searches as fast as it can: a handler only ever hears of the search
// that is current when it runs, and nothing is left running.
TEST_F(ForwardGeocoderTest, RapidStartsAndCancelsOnlyAnswerTheCurrentSearch) {
    fake_->setResponder(
        [](const FakeSearchSession::Task& task) -> std::optional<FakeReply> {
            const std::string id = task.request.url.substr(task.request.url.rfind('/') + 1);
            if (task.request.httpMethod == "POST") return FakeReply::http(startReply(id));
            return FakeReply::http(pollReply(1, true, true, id));
        },
        0);  // at once, on the session's own thread
    std::string current;
    int foreign = 0;
    int answered = 0;
    const int searches = 300;
    for (int i = 0; i < searches; ++i) {
        std::string text(1, 'q');
        text += std::to_string(i);
        current = text;
        geocoder_->geocodeAddressString(
            text, {1, 2}, {3, 4}, [&, text](auto, bool, auto) { text == current ? ++answered : ++foreign; });
        if (i % 3 == 1) {
            geocoder_->cancel();
            current.clear();
        }
        if (i % 5 == 0) platform::RunLoop::runUntilIdle();
        if (i % 7 == 0) time_.advance(0.05);
    }
    settle();
    advance(2);
    EXPECT_EQ(foreign, 0);
    EXPECT_GE(answered, 1);  // the last search, at least, ran to its end
    EXPECT_FALSE(geocoder_->runningRequestTimer());
    EXPECT_FALSE(geocoder_->searchRequestTask());
    advance(60);
    EXPECT_EQ(time_.clock().pendingCount(), 0u);
}

}  // namespace
}  // namespace tervolo::search
