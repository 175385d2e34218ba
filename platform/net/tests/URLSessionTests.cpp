#include <arpa/inet.h>
#include <curl/curl.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/OSLog.hpp"
#include "platform/net/URLError.hpp"
#include "platform/net/URLSession.hpp"
#include "testsupport/LoopbackHTTPServer.hpp"
#include "testsupport/VirtualClockScope.hpp"

using namespace platform;
using tervolo::testsupport::CannedReply;
using tervolo::testsupport::LoopbackHTTPServer;
using ::testing::HasSubstr;

namespace {

// libcurl honours proxy variables; these tests talk to 127.0.0.1 only, never
// through a proxy a developer's environment may name.
[[maybe_unused]] const bool kNoProxy = [] { return ::setenv("no_proxy", "*", 1) == 0; }();

struct Outcome {
    std::optional<std::vector<uint8_t>> data;
    std::optional<HTTPURLResponse> response;
    std::optional<Error> error;
    std::string queueLabel;
    std::optional<std::string> fileContents;  // download tasks: the file as the completion saw it
    std::string filePath;

    std::string body() const { return data ? std::string(data->begin(), data->end()) : ""; }
    int64_t errorCode() const { return error ? error->code : 0; }
};

// Collects completions from any thread; tests wait for them with a generous
// bound (never to time an assertion, only so a hang fails instead of blocking).
class Completions {
  public:
    URLSessionTask::DataCompletion data() {
        return [this](std::optional<std::vector<uint8_t>> bytes, std::optional<HTTPURLResponse> response,
                      std::optional<Error> error) {
            add({std::move(bytes),
                 std::move(response),
                 std::move(error),
                 DispatchQueue::currentLabel(),
                 {},
                 {}});
        };
    }
    URLSessionTask::DownloadCompletion download() {
        return [this](std::optional<std::string> location, std::optional<HTTPURLResponse> response,
                      std::optional<Error> error) {
            Outcome outcome{{}, std::move(response), std::move(error), DispatchQueue::currentLabel(), {}, {}};
            if (location) {
                outcome.filePath = *location;
                std::ifstream in(*location, std::ios::binary);
                std::stringstream contents;
                contents << in.rdbuf();
                if (in) outcome.fileContents = contents.str();
            }
            add(std::move(outcome));
        };
    }
    bool waitFor(size_t count) {
        std::unique_lock lock(mutex_);
        return arrived_.wait_for(lock, std::chrono::seconds(30), [&] { return outcomes_.size() >= count; });
    }
    Outcome first() {
        EXPECT_TRUE(waitFor(1));
        std::lock_guard lock(mutex_);
        return outcomes_.empty() ? Outcome{} : outcomes_.front();
    }
    std::vector<Outcome> all() {
        std::lock_guard lock(mutex_);
        return outcomes_;
    }

  private:
    void add(Outcome outcome) {
        // Notified under the lock: the waiter may destroy this object as soon
        // as it sees the outcome.
        std::lock_guard lock(mutex_);
        outcomes_.push_back(std::move(outcome));
        arrived_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Outcome> outcomes_;
};

std::vector<uint8_t> bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

// Stops the session (its I/O thread is joined) and drains its delegate queue,
// so every completion that will ever come has come.
void settle(std::shared_ptr<URLSession>& session) {
    auto queue = session->delegateQueue();
    session.reset();
    queue->sync([] {});
}

URLSessionConfiguration quickConfiguration() {
    auto configuration = URLSessionConfiguration::ephemeral();
    configuration.timeoutIntervalForRequest = 10;
    configuration.timeoutIntervalForResource = 20;
    return configuration;
}

}  // namespace

TEST(URLSession, ServerSeesExactlyTheRequestsSent) {
    LoopbackHTTPServer server;
    server.route(
        "GET", "/tiles/1/2/3.png",
        CannedReply::text("tile", 201).withHeader("X-Reply", "yes").withHeader("Set-Cookie", "id=1; Path=/"));
    server.route("POST", "/upload", CannedReply::json(R"({"ok":true})"));
    server.route("PUT", "/put", CannedReply::text("put"));

    auto configuration = quickConfiguration();
    configuration.httpAdditionalHeaders.emplace("X-Session", "s");
    configuration.httpAdditionalHeaders.emplace("Content-Type", "text/plain");
    auto queue = DispatchQueue::serial("net.tests.delegate");
    auto session = URLSession::make(configuration, queue);

    Completions get;
    URLRequest request(server.url("/tiles/1/2/3.png?x=1&y=%20"));
    request.setValue("application/json", "content-type");  // the request's own header wins
    request.setValue("42", "X-Custom");
    session->dataTask(request, get.data())->resume();
    Outcome got = get.first();

    // A body large enough that curl would otherwise ask for 100-continue.
    std::string large(2 * 1024 * 1024, 'b');
    large.replace(0, 6, "{\"a\":1");
    Completions upload;
    URLRequest post(server.url("/upload"));
    post.setValue("application/json", "Content-Type");
    session->uploadTask(post, bytes(large), upload.data())->resume();
    Outcome posted = upload.first();

    Completions put;
    URLRequest putRequest(server.url("/put"));
    putRequest.httpMethod = "PUT";
    putRequest.httpBody = bytes("payload");
    session->dataTask(putRequest, put.data())->resume();
    put.first();

    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    const auto& g = requests[0];
    EXPECT_EQ(g.method, "GET");
    EXPECT_EQ(g.target, "/tiles/1/2/3.png?x=1&y=%20");
    EXPECT_EQ(g.header("User-Agent"), URLSession::userAgent());
    EXPECT_THAT(URLSession::userAgent(), ::testing::StartsWith("TervoloNG/"));
    EXPECT_EQ(g.header("X-Custom"), "42");
    EXPECT_EQ(g.header("X-Session"), "s");
    EXPECT_EQ(g.headerValues("Content-Type"), std::vector<std::string>{"application/json"});
    EXPECT_EQ(g.header("Cookie"), std::nullopt);
    EXPECT_EQ(g.header("Expect"), std::nullopt);
    EXPECT_EQ(g.body, "");

    const auto& p = requests[1];
    EXPECT_EQ(p.method, "POST");
    EXPECT_EQ(p.target, "/upload");
    EXPECT_EQ(p.body, large);
    EXPECT_EQ(p.header("Content-Length"), std::to_string(large.size()));
    EXPECT_EQ(p.header("Expect"), std::nullopt);
    EXPECT_EQ(p.header("Cookie"), std::nullopt);  // no cookie store: the Set-Cookie above is dropped

    EXPECT_EQ(requests[2].method, "PUT");
    EXPECT_EQ(requests[2].body, "payload");

    EXPECT_FALSE(got.error);
    EXPECT_EQ(got.body(), "tile");
    ASSERT_TRUE(got.response);
    EXPECT_EQ(got.response->statusCode(), 201);
    EXPECT_EQ(got.response->value("x-reply"), "yes");
    EXPECT_EQ(got.response->expectedContentLength(), 4);
    EXPECT_EQ(got.response->mimeType(), "text/plain");
    EXPECT_EQ(got.response->url(), server.url("/tiles/1/2/3.png?x=1&y=%20"));
    EXPECT_THAT(got.response->description(), HasSubstr("Status Code: 201"));
    EXPECT_EQ(got.queueLabel, "net.tests.delegate");
    EXPECT_EQ(posted.body(), R"({"ok":true})");
}

TEST(URLSession, HTTPStatusesAreNeverErrors) {
    LoopbackHTTPServer server;
    const int statuses[] = {204, 304, 400, 404, 429, 500, 503};
    for (int status : statuses) {
        server.route("GET", "/s" + std::to_string(status),
                     CannedReply::text(status == 204 || status == 304 ? "" : "x", status));
    }
    auto session = URLSession::make(quickConfiguration());
    for (int status : statuses) {
        Completions done;
        session->dataTask(server.url("/s" + std::to_string(status)), done.data())->resume();
        Outcome outcome = done.first();
        EXPECT_FALSE(outcome.error) << status;
        ASSERT_TRUE(outcome.response) << status;
        EXPECT_EQ(outcome.response->statusCode(), status);
        EXPECT_TRUE(outcome.data) << status;
    }
}

TEST(HTTPURLResponse, RetryAfterInSecondsOrAsADate) {
    tervolo::testsupport::VirtualClockScope time;  // 2023-11-14 22:13:20 UTC
    struct Case {
        const char* value;  // nullptr: no header
        std::optional<double> seconds;
    };
    const Case cases[] = {
        {"5", 5.0},
        {" 120 ", 120.0},
        {"0", 0.0},
        {"Tue, 14 Nov 2023 22:13:24 GMT", 4.0},
        {"Wed, 15 Nov 2023 00:00:00 GMT", 6400.0},
        {"Tue, 14 Nov 2023 22:00:00 GMT", 0.0},  // already past
        {nullptr, std::nullopt},
        {"", std::nullopt},
        {"-3", std::nullopt},
        {"2.5", std::nullopt},
        {"soon", std::nullopt},
        {"Tue, 14 Nov 2023 22:13:24 UTC", std::nullopt},
        {"Tue, 14 Nov 2023 22:13:24 GMT trailing", std::nullopt},
        {"Tue, 14 Foo 2023 22:13:24 GMT", std::nullopt},
        {"Tue, 32 Nov 2023 22:13:24 GMT", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(none)");
        HTTPHeaderFields headers;
        if (c.value) headers["retry-after"] = c.value;  // header names match in any case
        const HTTPURLResponse response("http://127.0.0.1/", 429, headers);
        const auto seconds = response.retryAfterSeconds();
        ASSERT_EQ(seconds.has_value(), c.seconds.has_value());
        if (seconds) {
            EXPECT_DOUBLE_EQ(*seconds, *c.seconds);
        }
    }
}

TEST(URLSession, IdleTimeOutAndResourceTimeOut) {
    LoopbackHTTPServer server;
    server.route("GET", "/stall", CannedReply::text("late").withDelay(30));
    CannedReply trickle = CannedReply::text(std::string(20, 't'));
    trickle.mode = CannedReply::Mode::chunkedTrickle;
    trickle.trickleChunkSize = 1;
    trickle.trickleInterval = 0.05;  // steady progress: 1 s in all, never idle for long
    server.route("GET", "/trickle", trickle);

    {
        // Gaps of 0.05 s against an idle limit of 2 s: a busy machine may
        // stretch a gap, never forty-fold.
        auto configuration = quickConfiguration();
        configuration.timeoutIntervalForRequest = 2;
        auto session = URLSession::make(configuration);
        Completions stalled, steady;
        session->dataTask(server.url("/stall"), stalled.data())->resume();
        session->dataTask(server.url("/trickle"), steady.data())->resume();
        Outcome s = stalled.first();
        EXPECT_EQ(s.errorCode(), URLError::timedOut);
        EXPECT_EQ(s.error->domain, "NSURLErrorDomain");
        EXPECT_EQ(URLError::failingURL(*s.error), server.url("/stall"));
        EXPECT_FALSE(s.data);
        EXPECT_FALSE(s.response);
        Outcome t = steady.first();
        EXPECT_FALSE(t.error) << t.error->description;
        EXPECT_EQ(t.body(), std::string(20, 't'));
    }
    {
        // A request's own shorter time-out wins over the session's.
        auto session = URLSession::make(quickConfiguration());
        URLRequest request(server.url("/stall"));
        request.timeoutInterval = 0.3;
        Completions stalled;
        session->dataTask(request, stalled.data())->resume();
        EXPECT_EQ(stalled.first().errorCode(), URLError::timedOut);
    }
    {
        auto configuration = quickConfiguration();
        configuration.timeoutIntervalForResource = 0.4;
        auto session = URLSession::make(configuration);
        Completions total;
        session->dataTask(server.url("/trickle"), total.data())->resume();
        EXPECT_EQ(total.first().errorCode(), URLError::timedOut);
    }
}

TEST(URLSession, CancelGivesExactlyOneCompletionWithCancelled) {
    LoopbackHTTPServer server;
    server.route("GET", "/silent", CannedReply::ofMode(CannedReply::Mode::silent));
    auto session = URLSession::make(quickConfiguration());

    // Never resumed.
    Completions neverStarted;
    auto suspended = session->dataTask(server.url("/silent"), neverStarted.data());
    EXPECT_EQ(suspended->state(), URLSessionTask::State::suspended);
    suspended->cancel();
    suspended->cancel();
    suspended->resume();
    EXPECT_EQ(suspended->state(), URLSessionTask::State::completed);

    // Cancelled while the server holds the request.
    Completions inFlight;
    auto running = session->dataTask(server.url("/silent"), inFlight.data());
    running->resume();
    EXPECT_NE(running->state(), URLSessionTask::State::suspended);
    ASSERT_TRUE(server.waitForRequests(1));
    running->cancel();
    running->cancel();

    // Resumed and cancelled at once, before the I/O thread saw it.
    Completions raced;
    auto quick = session->downloadTask(URLRequest(server.url("/silent")), raced.download());
    quick->resume();
    quick->cancel();

    // Still suspended when the session goes away.
    Completions orphan;
    auto leftOver = session->dataTask(server.url("/silent"), orphan.data());

    ASSERT_TRUE(inFlight.waitFor(1));
    settle(session);
    leftOver->resume();  // its session is gone: cancelled, not run
    leftOver->cancel();
    orphan.waitFor(1);

    for (Completions* c : {&neverStarted, &inFlight, &raced, &orphan}) {
        auto outcomes = c->all();
        ASSERT_EQ(outcomes.size(), 1u);
        EXPECT_EQ(outcomes[0].errorCode(), URLError::cancelled);
        EXPECT_FALSE(outcomes[0].response);
        EXPECT_FALSE(outcomes[0].data);
    }
    EXPECT_EQ(running->state(), URLSessionTask::State::completed);
    EXPECT_EQ(leftOver->state(), URLSessionTask::State::completed);
}

TEST(URLSession, ConcurrentResumeCancelAndStateReadsKeepOneCompletionPerTask) {
    LoopbackHTTPServer server;
    server.route("GET", "/x", CannedReply::text("x"));
    server.route("GET", "/slow", CannedReply::text("slow").withDelay(0.05));
    auto session = URLSession::make(quickConfiguration());
    constexpr int kThreads = 4;
    constexpr int kTasksPerThread = 40;
    std::vector<std::atomic<int>> calls(kThreads * kTasksPerThread);
    std::vector<std::atomic<int64_t>> codes(kThreads * kTasksPerThread);
    std::vector<std::shared_ptr<URLSessionTask>> tasks(kThreads * kTasksPerThread);
    for (int i = 0; i < kThreads * kTasksPerThread; ++i) {
        tasks[i] = session->dataTask(server.url(i % 2 ? "/x" : "/slow"),
                                     [&calls, &codes, i](auto, auto, std::optional<Error> error) {
                                         codes[i] = error ? error->code : 0;
                                         ++calls[i];
                                     });
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int k = 0; k < kTasksPerThread; ++k) {
                // Every thread touches every task of its share in a different way,
                // and reads the state of tasks other threads are changing.
                auto& task = tasks[t * kTasksPerThread + k];
                if (k % 3 != 0) task->resume();
                if (k % 4 == 0) task->cancel();
                (void)tasks[(t + 1) % kThreads * kTasksPerThread + k]->state();
                if (k % 5 == 0) task->resume();
            }
        });
    }
    for (auto& thread : threads) thread.join();
    // Tasks never resumed or cancelled are cancelled when the session goes.
    settle(session);
    for (size_t i = 0; i < tasks.size(); ++i) {
        EXPECT_EQ(calls[i], 1) << "task " << i;
        EXPECT_TRUE(codes[i] == 0 || codes[i] == URLError::cancelled) << "task " << i << ": " << codes[i];
        EXPECT_EQ(tasks[i]->state(), URLSessionTask::State::completed) << "task " << i;
    }
}

TEST(URLSession, ConnectionCapPerHostHoldsAtTheServer) {
    LoopbackHTTPServer server;
    server.route("GET", "/slow", CannedReply::text("ok").withDelay(0.15));
    auto configuration = quickConfiguration();
    configuration.httpMaximumConnectionsPerHost = 2;
    auto session = URLSession::make(configuration);
    Completions done;
    for (int i = 0; i < 6; ++i) session->dataTask(server.url("/slow"), done.data())->resume();
    ASSERT_TRUE(done.waitFor(6));
    for (const auto& outcome : done.all()) EXPECT_FALSE(outcome.error);
    EXPECT_EQ(server.maxOpenConnections(), 2);
    EXPECT_EQ(server.maxRequestsInFlight(), 2);
    EXPECT_EQ(server.requestCount(), 6u);
}

TEST(URLSession, WaitingForAConnectionSlotIsNotIdleTime) {
    // Each reply takes 0.4 s, well inside the 2 s idle limit (room for a busy
    // machine); with one connection the seventh request waits 2.4 s for its
    // turn, which must not count against it.
    LoopbackHTTPServer server;
    server.route("GET", "/slow", CannedReply::text("ok").withDelay(0.4));
    auto configuration = quickConfiguration();
    configuration.httpMaximumConnectionsPerHost = 1;
    configuration.timeoutIntervalForRequest = 2;
    auto session = URLSession::make(configuration);
    Completions done;
    for (int i = 0; i < 7; ++i) session->dataTask(server.url("/slow"), done.data())->resume();
    ASSERT_TRUE(done.waitFor(7));
    for (const auto& outcome : done.all()) EXPECT_FALSE(outcome.error) << outcome.error->description;
    EXPECT_EQ(server.maxOpenConnections(), 1);
}

TEST(URLSession, ResourceTimeOutCountsFromTheRequestGoingOut) {
    // Each reply takes 0.3 s, well inside the 1.5 s resource limit (room for
    // a busy machine); with one connection the seventh request waits 1.8 s
    // for its turn, which must not count against it.
    LoopbackHTTPServer server;
    server.route("GET", "/slow", CannedReply::text("ok").withDelay(0.3));
    auto configuration = quickConfiguration();
    configuration.httpMaximumConnectionsPerHost = 1;
    configuration.timeoutIntervalForResource = 1.5;
    auto session = URLSession::make(configuration);
    Completions done;
    for (int i = 0; i < 7; ++i) session->dataTask(server.url("/slow"), done.data())->resume();
    ASSERT_TRUE(done.waitFor(7));
    for (const auto& outcome : done.all()) EXPECT_FALSE(outcome.error) << outcome.error->description;

    // A reply slower than the limit still times out once it has been sent.
    server.route("GET", "/slower", CannedReply::text("ok").withDelay(3.0));
    Completions late;
    session->dataTask(server.url("/slower"), late.data())->resume();
    const Outcome outcome = late.first();
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->code, -1001);
}

TEST(URLSession, QueuedDownloadsHoldNoFileUntilTheyStart) {
    auto openDescriptors = [] {
        int count = 0;
        if (DIR* dir = ::opendir("/proc/self/fd")) {
            while (::readdir(dir) != nullptr) ++count;
            ::closedir(dir);
        }
        return count;
    };
    LoopbackHTTPServer server;
    server.route("GET", "/file", CannedReply::text("contents").withDelay(0.2));
    auto configuration = quickConfiguration();
    configuration.httpMaximumConnectionsPerHost = 1;
    auto session = URLSession::make(configuration);
    std::atomic<int> downloaded{0};
    const int before = openDescriptors();
    for (int i = 0; i < 200; ++i) {
        session
            ->downloadTask(URLRequest(server.url("/file")),
                           [&](std::optional<std::string> location, std::optional<HTTPURLResponse>,
                               std::optional<Error> error) {
                               if (location && !error) ++downloaded;
                           })
            ->resume();
    }
    ASSERT_TRUE(server.waitForRequests(1));
    // One transfer runs; the other 199 wait behind the cap without a file each.
    EXPECT_LT(openDescriptors() - before, 40);
    session->invalidateAndCancel();
}

TEST(URLSession, TLSFailuresAndPinning) {
    LoopbackHTTPServer plain;
    LoopbackHTTPServer secure(LoopbackHTTPServer::Transport::tls);
    LoopbackHTTPServer other(LoopbackHTTPServer::Transport::tls);
    secure.route("GET", "/s", CannedReply::text("secret"));
    std::string httpsToPlain = "https://127.0.0.1:" + std::to_string(plain.port()) + "/x";

    auto untrusting = URLSession::make(quickConfiguration());
    Completions handshake, untrusted;
    untrusting->dataTask(httpsToPlain, handshake.data())->resume();
    untrusting->dataTask(secure.url("/s"), untrusted.data())->resume();
    EXPECT_EQ(handshake.first().errorCode(), URLError::secureConnectionFailed);
    EXPECT_EQ(URLError::failingURL(*handshake.first().error), httpsToPlain);
    EXPECT_EQ(untrusted.first().errorCode(), URLError::serverCertificateUntrusted);

    struct Case {
        const char* name;
        std::vector<std::string> pins;
        int64_t expected;
    };
    const Case cases[] = {
        {"trusted, no pins", {}, 0},
        {"right pin (DER)", {secure.certificateDERPath()}, 0},
        {"right pin (PEM) among others", {other.certificatePEMPath(), secure.certificatePEMPath()}, 0},
        {"wrong pin", {other.certificateDERPath()}, URLError::serverCertificateUntrusted},
        {"pin file missing",
         {secure.certificateDERPath(), "/nonexistent/pin.der"},
         URLError::serverCertificateUntrusted},
    };
    auto capture = OSLogCapture::install();
    for (const auto& c : cases) {
        auto configuration = quickConfiguration();
        configuration.trustedCertificatesFile = secure.certificatePEMPath();
        configuration.pinnedCertificateFiles = c.pins;
        auto session = URLSession::make(configuration);
        Completions done;
        session->dataTask(secure.url("/s"), done.data())->resume();
        Outcome outcome = done.first();
        EXPECT_EQ(outcome.errorCode(), c.expected) << c.name;
        if (c.expected == 0) {
            EXPECT_EQ(outcome.body(), "secret") << c.name;
        }
    }
    capture->uninstall();
    EXPECT_THAT(capture->texts(),
                ::testing::ElementsAre(HasSubstr("pinned certificate file missing or unreadable: "
                                                 "/nonexistent/pin.der")));
}

TEST(URLSession, OversizedBodiesFailInsteadOfTruncating) {
    LoopbackHTTPServer server;
    server.route("GET", "/announced", CannedReply::text(std::string(5000, 'a')));
    CannedReply chunked = CannedReply::text(std::string(5000, 'c'));
    chunked.mode = CannedReply::Mode::chunkedTrickle;
    chunked.trickleChunkSize = 700;
    chunked.trickleInterval = 0;
    server.route("GET", "/chunked", chunked);
    server.route("GET", "/fits", CannedReply::text(std::string(1000, 'f')));

    auto configuration = quickConfiguration();
    configuration.maximumResponseBytes = 1000;
    auto session = URLSession::make(configuration);
    for (const char* path : {"/announced", "/chunked"}) {
        Completions data, download;
        session->dataTask(server.url(path), data.data())->resume();
        session->downloadTask(URLRequest(server.url(path)), download.download())->resume();
        Outcome d = data.first();
        EXPECT_EQ(d.errorCode(), URLError::dataLengthExceedsMaximum) << path;
        EXPECT_FALSE(d.data) << path;
        Outcome f = download.first();
        EXPECT_EQ(f.errorCode(), URLError::dataLengthExceedsMaximum) << path;
        EXPECT_TRUE(f.filePath.empty()) << path;
    }
    Completions exact;
    session->dataTask(server.url("/fits"), exact.data())->resume();
    EXPECT_EQ(exact.first().body(), std::string(1000, 'f'));
}

TEST(URLSession, RedirectsKeepTheFinalURL) {
    LoopbackHTTPServer server;
    server.route("GET", "/start", CannedReply::redirect("/middle", 301));
    server.route("GET", "/middle", CannedReply::redirect(server.url("/end?q=1"), 302));
    server.route("GET", "/end", CannedReply::text("arrived"));
    server.route("GET", "/ftp", CannedReply::redirect("ftp://127.0.0.1/file"));
    server.route("GET", "/loop", CannedReply::redirect("/loop"));
    auto session = URLSession::make(quickConfiguration());

    Completions followed, ftp, loop;
    session->dataTask(server.url("/start"), followed.data())->resume();
    session->dataTask(server.url("/ftp"), ftp.data())->resume();
    session->dataTask(server.url("/loop"), loop.data())->resume();
    Outcome outcome = followed.first();
    ASSERT_TRUE(outcome.response);
    EXPECT_EQ(outcome.response->url(), server.url("/end?q=1"));
    EXPECT_EQ(outcome.response->statusCode(), 200);
    EXPECT_EQ(outcome.body(), "arrived");
    EXPECT_EQ(outcome.response->value("Location"), std::nullopt);  // headers of the last response only
    EXPECT_EQ(ftp.first().errorCode(), URLError::unsupportedURL);
    EXPECT_EQ(loop.first().errorCode(), URLError::httpTooManyRedirects);
    EXPECT_EQ(server.requests().size(), 3u + 1u + 11u);

    auto configuration = quickConfiguration();
    configuration.followsRedirects = false;
    auto notFollowing = URLSession::make(configuration);
    Completions kept;
    notFollowing->dataTask(server.url("/start"), kept.data())->resume();
    EXPECT_EQ(kept.first().response->statusCode(), 301);
}

// A secure load never continues in the clear: https → http fails with
// -1022 in every session, and the http server is never asked. A session that
// must stay on its host refuses a redirect to another host or port with
// -1011 (and asks nobody there), while one on the same host is followed;
// other sessions follow redirects to other hosts as before.
TEST(URLSession, RefusesRedirectsToHttpAndOffTheHost) {
    LoopbackHTTPServer secure(LoopbackHTTPServer::Transport::tls);
    LoopbackHTTPServer plain;
    LoopbackHTTPServer other;
    plain.setFallback(CannedReply::text("in the clear"));
    other.setFallback(CannedReply::text("elsewhere"));
    std::string plainURL = plain.url("/page");
    plainURL.replace(0, std::string("http://127.0.0.1").size(), "http://localhost");
    secure.route("GET", "/down", CannedReply::redirect(plainURL, 302));
    secure.route("GET", "/down-relative",
                 CannedReply::redirect("http://127.0.0.1:" + std::to_string(plain.port()) + "/x", 301));
    plain.route("GET", "/away", CannedReply::redirect(other.url("/doc"), 302));
    plain.route("GET", "/named",
                CannedReply::redirect("http://localhost:" + std::to_string(plain.port()) + "/doc", 307));
    plain.route("GET", "/here", CannedReply::redirect("/doc", 302));
    plain.route("GET", "/doc", CannedReply::text("home"));

    for (const bool stayOnHost : {false, true}) {
        SCOPED_TRACE(stayOnHost);
        auto configuration = quickConfiguration();
        configuration.trustedCertificatesFile = secure.certificatePEMPath();
        configuration.redirectsStayOnHost = stayOnHost;
        configuration.resolveHook = [](const std::string& host) -> std::optional<std::string> {
            if (host == "localhost" || host == "elsewhere.test") return "127.0.0.1";
            return std::nullopt;
        };
        auto session = URLSession::make(configuration);
        struct Case {
            std::string url;
            int64_t refusedWith;  // 0: followed
            std::string body;
        };
        const Case cases[] = {
            {secure.url("/down"), URLError::appTransportSecurityRequiresSecureConnection, ""},
            {secure.url("/down-relative"), URLError::appTransportSecurityRequiresSecureConnection, ""},
            {plain.url("/away"), stayOnHost ? URLError::badServerResponse : 0, "elsewhere"},
            {plain.url("/named"), stayOnHost ? URLError::badServerResponse : 0, "home"},
            {plain.url("/here"), 0, "home"},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.url);
            Completions done;
            session->dataTask(c.url, done.data())->resume();
            Outcome outcome = done.first();
            EXPECT_EQ(outcome.errorCode(), c.refusedWith);
            if (c.refusedWith != 0) {
                ASSERT_TRUE(outcome.error);
                EXPECT_EQ(URLError::failingURL(*outcome.error), c.url);
            } else {
                EXPECT_EQ(outcome.body(), c.body);
            }
        }
    }
    for (const auto& request : plain.requests()) {
        EXPECT_NE(request.path, "/page");
        EXPECT_NE(request.path, "/x");
    }
    EXPECT_EQ(other.requestCount(), 1u);  // only the session that may leave its host went there
}

TEST(URLSession, DownloadHandsOverATemporaryFileAndRemovesIt) {
    LoopbackHTTPServer server;
    server.route("GET", "/doc.json", CannedReply::json(R"({"shorturl":"x"})"));
    server.route("GET", "/missing", CannedReply::text("nope", 404));
    auto session = URLSession::make(quickConfiguration());
    for (const char* path : {"/doc.json", "/missing"}) {
        Completions done;
        session->downloadTask(URLRequest(server.url(path)), done.download())->resume();
        ASSERT_TRUE(done.waitFor(1));
        auto queue = session->delegateQueue();
        queue->sync([] {});  // the removal runs right after the completion
        Outcome outcome = done.first();
        EXPECT_FALSE(outcome.error);
        ASSERT_FALSE(outcome.filePath.empty());
        EXPECT_EQ(outcome.fileContents, std::string(path) == "/doc.json" ? R"({"shorturl":"x"})" : "nope");
        struct stat info;
        EXPECT_NE(::stat(outcome.filePath.c_str(), &info), 0) << "left behind: " << outcome.filePath;
    }
}

TEST(URLSession, TransportFailuresMapToURLErrors) {
    LoopbackHTTPServer server;
    server.route("GET", "/reset", CannedReply::ofMode(CannedReply::Mode::resetBeforeReply));
    server.route("GET", "/empty", CannedReply::ofMode(CannedReply::Mode::closeWithoutReply));
    CannedReply cut = CannedReply::text(std::string(4000, 'x'));
    cut.mode = CannedReply::Mode::resetAfterHeaders;
    server.route("GET", "/cut", cut);
    server.route("GET", "/tile", CannedReply::text("via hook"));

    // A port nobody listens on: bind one, note it, close it.
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    std::string closedPort = std::to_string(ntohs(address.sin_port));
    ::close(fd);

    auto configuration = quickConfiguration();
    configuration.resolveHook = [](const std::string& host) -> std::optional<std::string> {
        if (host.size() > 11 && host.substr(1) == ".tiles.test") return "127.0.0.1";
        return std::nullopt;
    };
    auto session = URLSession::make(configuration);
    struct Case {
        std::string url;
        int64_t expected;
    };
    const Case cases[] = {
        {server.url("/reset"), URLError::networkConnectionLost},
        {server.url("/empty"), URLError::networkConnectionLost},
        {server.url("/cut"), URLError::networkConnectionLost},
        {"http://127.0.0.1:" + closedPort + "/", URLError::cannotConnectToHost},
        {"ftp://127.0.0.1/", URLError::unsupportedURL},
        {"http://b.tiles.test:" + std::to_string(server.port()) + "/tile", 0},
        // Names that never exist fail without a question to any name server.
        {"https://a.tiles.tervolo.invalid/1/2/3.png", URLError::cannotFindHost},
        {"http://Geocoder.INVALID./search", URLError::cannotFindHost},
    };
    for (const auto& c : cases) {
        Completions done;
        session->dataTask(c.url, done.data())->resume();
        Outcome outcome = done.first();
        EXPECT_EQ(outcome.errorCode(), c.expected) << c.url;
        if (outcome.error) {
            EXPECT_EQ(URLError::failingURL(*outcome.error), c.url);
            EXPECT_FALSE(outcome.error->description.empty());
        }
    }
    EXPECT_EQ(server.requests().back().header("Host"), "b.tiles.test:" + std::to_string(server.port()));
}

TEST(URLSession, CurlResultsMapToThePlatformCodes) {
    struct Case {
        CURLcode curl;
        int osErrno;
        int64_t expected;
    };
    const Case cases[] = {
        {CURLE_OPERATION_TIMEDOUT, 0, -1001},
        {CURLE_COULDNT_RESOLVE_HOST, 0, -1003},
        {CURLE_COULDNT_CONNECT, ECONNREFUSED, -1004},
        {CURLE_COULDNT_CONNECT, ENETUNREACH, -1009},
        {CURLE_RECV_ERROR, 0, -1005},
        {CURLE_GOT_NOTHING, 0, -1005},
        {CURLE_ABORTED_BY_CALLBACK, 0, -999},
        {CURLE_SSL_CONNECT_ERROR, 0, -1200},
        {CURLE_PEER_FAILED_VERIFICATION, 0, -1202},
        {CURLE_SSL_PINNEDPUBKEYNOTMATCH, 0, -1202},
        {CURLE_FILESIZE_EXCEEDED, 0, -1103},
        {CURLE_TOO_MANY_REDIRECTS, 0, -1007},
        {CURLE_UNSUPPORTED_PROTOCOL, 0, -1002},
        {CURLE_OUT_OF_MEMORY, 0, -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(URLError::codeForCurlResult(c.curl, c.osErrno), c.expected) << curl_easy_strerror(c.curl);
    }
}

TEST(URLSession, RequestsAcceptOnlyHTTPAndHTTPSWithAHost) {
    EXPECT_TRUE(URLRequest::make("https://a.tile.example/1/2/3.png"));
    EXPECT_TRUE(URLRequest::make("HTTP://127.0.0.1:8080/x"));
    for (const char* bad :
         {"ftp://example.org/x", "file:///etc/passwd", "https:///nohost", "not a url", ""}) {
        EXPECT_FALSE(URLRequest::make(bad)) << bad;
    }
}
