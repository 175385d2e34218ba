#include <filesystem>
#include <fstream>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "analytics/TallyConnectionManager.hpp"
#include "analytics/TallyPersistency.hpp"
#include "analytics/TallyQueueFile.hpp"
#include "analytics/tests/AnalyticsTestSupport.hpp"
#include "platform/dispatch/DispatchSemaphore.hpp"
#include "platform/foundation/Bundle.hpp"
#include "testsupport/FakeAnalyticsServer.hpp"

namespace tervolo::analytics {
namespace {

using tervolo::testsupport::CannedReply;
using tervolo::testsupport::FakeAnalyticsServer;
using tervolo::testsupport::LoopbackHTTPServer;
using testing::StartedAnalyticsTest;

class TallyConnectionTest : public StartedAnalyticsTest {
  protected:
    std::shared_ptr<TallyConnectionManager> connection() { return TallyConnectionManager::sharedInstance(); }
    std::shared_ptr<TallyPersistency> persistency() { return TallyPersistency::sharedInstance(); }

    // Sends to `server` from now on, as this system configures the client.
    void connectTo(const std::string& host, platform::URLSessionConfiguration configuration = {}) {
        connection()->setHost(host);
        connection()->setAlwaysUsePOST(true);
        connection()->setURLSessionConfiguration(std::move(configuration));
        connection()->setIsTerminating(false);
    }
    // Queues `label` without sending, as if it had been queued earlier.
    void queueQuietly(const std::string& label) { persistency()->addToQueue("app_key=KEY&label=" + label); }
    // One pass over the queue, waiting until its request has completed.
    void proceedAndWait() {
        connection()->proceedOnQueue();
        ASSERT_TRUE(connection()->waitUntilIdle(15));
    }
    // Proceeds until the queue is empty (each success sends the next itself;
    // a failure needs another pass, as the session timer would give it).
    bool drained(int passes = 200) {
        for (int i = 0; i < passes; ++i) {
            if (persistency()->queueCount() == 0) return true;
            connection()->proceedOnQueue();
            if (!connection()->waitUntilIdle(15)) return false;
        }
        return persistency()->queueCount() == 0;
    }
    std::vector<std::string> labels(const FakeAnalyticsServer& server) { return server.values("label"); }
};

TEST_F(TallyConnectionTest, OneRequestInFlightAndOrderKeptWhileTheServerIsSlow) {
    FakeAnalyticsServer server;
    server.script({FakeAnalyticsServer::success().withDelay(0.5)});
    connectTo(server.host());
    connection()->sendAttributionData("first");
    // While the first is held by the server, ten more are queued and each
    // tries to send: none may start while one is in flight.
    for (int i = 0; i < 10; ++i) connection()->sendAttributionData(fmt::format("n{}", i));
    EXPECT_EQ(logger_->count("Proceeding on queue is aborted: Already has a request in process!"), 10u);
    ASSERT_TRUE(drained());
    const auto sent = server.values("attribution_data");
    ASSERT_EQ(sent.size(), 11u);
    EXPECT_EQ(sent.front(), "first");
    for (int i = 0; i < 10; ++i) EXPECT_EQ(sent[i + 1], fmt::format("n{}", i));
    EXPECT_EQ(server.maxRequestsInFlight(), 1);
    // This system's shape: POST to /i with the query as the body.
    const auto request = server.requests().front();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/i");
    EXPECT_EQ(request.header("Expect"), std::nullopt);
}

// A success goes straight on to the next request: waiting until idle covers
// the whole run, so what the caller does next never meets a pass about to
// start. The pass after the first success is held back here for a moment; had
// the slot been let go in between, the wait would end with "b" still queued.
TEST_F(TallyConnectionTest, IdleOnlyOnceTheQueueIsDoneAfterASuccess) {
    class HoldingLogger : public testing::RecordingLogger {
      public:
        explicit HoldingLogger(std::thread::id caller) : caller_(caller) {}
        void internalLog(const std::string& log, TallyLogLevel level) override {
            RecordingLogger::internalLog(log, level);
            if (log.find("Proceeding on queue...") != std::string::npos &&
                std::this_thread::get_id() != caller_ && !held_.exchange(true)) {
                // Bounded: with the slot held, the caller waits for this pass.
                (void)resume.wait(0.3);
            }
        }
        platform::DispatchSemaphore resume{0};

      private:
        std::thread::id caller_;
        std::atomic<bool> held_{false};
    };
    auto holding = std::make_shared<HoldingLogger>(std::this_thread::get_id());
    TallyCommon::sharedInstance().setLoggerDelegate(holding);
    FakeAnalyticsServer server;
    connectTo(server.host());
    queueQuietly("a");
    queueQuietly("b");
    proceedAndWait();
    const size_t left = persistency()->queueCount();
    holding->resume.signal();
    EXPECT_EQ(left, 0u);
    ASSERT_TRUE(connection()->waitUntilIdle(15));
    EXPECT_THAT(labels(server), ::testing::ElementsAre("a", "b"));
    TallyCommon::sharedInstance().setLoggerDelegate(logger_);
}

TEST_F(TallyConnectionTest, SuccessTestAgainstRealReplies) {
    const struct {
        const char* name;
        CannedReply reply;
        bool removesHead;
    } cases[] = {
        {"200 Success", CannedReply::json(R"({"result":"Success"})"), true},
        {"200 lower-case success", CannedReply::json(R"({"result":"success"})"), false},
        {"204 empty", CannedReply::text("", 204), false},
        {"500 Success", CannedReply::json(R"({"result":"Success"})", 500), false},
        {"200 array", CannedReply::json("[1]"), false},
        {"200 not JSON", CannedReply::text("oops"), false},
        {"302 redirect is not followed", CannedReply::redirect("/i"), false},
        {"transport error", CannedReply::ofMode(CannedReply::Mode::resetBeforeReply), false},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        FakeAnalyticsServer server;
        server.setDefaultReply(row.reply);
        connectTo(server.host());
        persistency()->flushQueue();
        queueQuietly("x");
        proceedAndWait();
        EXPECT_EQ(server.requestCount(), 1u);
        EXPECT_EQ(persistency()->queueCount(), row.removesHead ? 0u : 1u);
    }
}

TEST_F(TallyConnectionTest, RejectedHeadStaysUntilTheServerTakesIt) {
    FakeAnalyticsServer server;
    server.script({FakeAnalyticsServer::rejection(), FakeAnalyticsServer::rejection(500),
                   FakeAnalyticsServer::rejection()});
    connectTo(server.host());
    queueQuietly("a");
    queueQuietly("b");
    for (int attempt = 0; attempt < 3; ++attempt) {
        proceedAndWait();
        EXPECT_THAT(persistency()->queuedRequests(),
                    ::testing::ElementsAre("app_key=KEY&label=a", "app_key=KEY&label=b"));
    }
    ASSERT_TRUE(drained());
    EXPECT_THAT(labels(server), ::testing::ElementsAre("a", "a", "a", "a", "b"));
}

TEST_F(TallyConnectionTest, HeadRefusedAsAClientErrorFiftyTimesIsDropped) {
    FakeAnalyticsServer server;
    server.script(std::vector<CannedReply>(50, FakeAnalyticsServer::rejection(400)));
    connectTo(server.host());
    queueQuietly("poison");
    queueQuietly("good");
    for (int attempt = 0; attempt < 49; ++attempt) proceedAndWait();
    EXPECT_EQ(persistency()->firstItemInQueue(), "app_key=KEY&label=poison");
    EXPECT_EQ(connection()->headFailureCount(), 49u);
    // The 50th refusal drops it and the queue moves on by itself.
    connection()->proceedOnQueue();
    ASSERT_TRUE(server.waitForRequests(51));
    ASSERT_TRUE(drained());
    EXPECT_EQ(labels(server).back(), "good");
    EXPECT_EQ(logger_->count("Request refused by the server 50 times in a row; it is dropped"), 1u);

    // Server errors never drop anything.
    FakeAnalyticsServer failing;
    failing.setDefaultReply(FakeAnalyticsServer::rejection(503));
    connectTo(failing.host());
    queueQuietly("kept");
    for (int attempt = 0; attempt < 55; ++attempt) proceedAndWait();
    EXPECT_EQ(persistency()->firstItemInQueue(), "app_key=KEY&label=kept");
}

TEST_F(TallyConnectionTest, TransportFailuresLeaveTheHeadQueued) {
    std::string closedHost;
    {
        LoopbackHTTPServer gone;
        closedHost = gone.url();
    }
    platform::URLSessionConfiguration quick;
    quick.timeoutIntervalForRequest = 0.5;
    quick.timeoutIntervalForResource = 1.0;
    const struct {
        const char* name;
        std::optional<CannedReply> reply;  // none: nothing listens
    } cases[] = {
        {"connection refused", std::nullopt},
        {"reset mid-body", CannedReply::ofMode(CannedReply::Mode::resetAfterHeaders)},
        {"closed without a reply", CannedReply::ofMode(CannedReply::Mode::closeWithoutReply)},
        {"server never answers", CannedReply::ofMode(CannedReply::Mode::silent)},
        {"server trickles",
         [] {
             auto trickle = CannedReply::json(std::string(4000, ' ') + R"({"result":"Success"})");
             trickle.mode = CannedReply::Mode::chunkedTrickle;
             trickle.trickleInterval = 0.1;
             return trickle;
         }()},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        std::optional<FakeAnalyticsServer> server;
        if (row.reply) {
            server.emplace();
            server->setDefaultReply(*row.reply);
        }
        connectTo(server ? server->host() : closedHost, quick);
        persistency()->flushQueue();
        connection()->sendAttributionData("x");
        // The call has returned; whatever the server does, the caller is free.
        ASSERT_TRUE(connection()->waitUntilIdle(15));
        EXPECT_EQ(persistency()->queueCount(), 1u);
        if (server) server->stop();
    }
}

class TallyPinningTest : public TallyConnectionTest {
  protected:
    void SetUp() override {
        resources_ = folder_.file("resources");
        std::filesystem::create_directories(resources_);
        std::filesystem::copy_file(server_.certificateDERPath(), resources_ + "/analytics.der");
        std::filesystem::copy_file(other_.certificateDERPath(), resources_ + "/other.der");
        platform::Bundle::main().setResourcesDirectory(resources_);
    }
    void TearDown() override { platform::Bundle::main().setResourcesDirectory(std::nullopt); }

    platform::URLSessionConfiguration trusting() {
        platform::URLSessionConfiguration configuration;
        configuration.trustedCertificatesFile = server_.certificatePEMPath();
        return configuration;
    }

    FakeAnalyticsServer server_{LoopbackHTTPServer::Transport::tls};
    LoopbackHTTPServer other_{LoopbackHTTPServer::Transport::tls};
    std::string resources_;
};

TEST_F(TallyPinningTest, PinnedPublicKeyDecides) {
    const struct {
        const char* name;
        std::optional<std::vector<std::string>> pins;
        bool trusted;
        bool sent;
    } cases[] = {
        {"no pins, trusted", std::nullopt, true, true},
        {"matching pin", std::vector<std::string>{"other.der", "analytics.der"}, true, true},
        {"wrong pin", std::vector<std::string>{"other.der"}, true, false},
        {"missing pin file fails closed", std::vector<std::string>{"analytics.der", "absent.der"}, true,
         false},
        {"untrusted certificate", std::vector<std::string>{"analytics.der"}, false, false},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        connection()->setPinnedCertificates(row.pins);
        connectTo(server_.host(), row.trusted ? trusting() : platform::URLSessionConfiguration{});
        persistency()->flushQueue();
        queueQuietly("pinned");
        proceedAndWait();
        EXPECT_EQ(persistency()->queueCount(), row.sent ? 0u : 1u);
    }
    EXPECT_EQ(logger_->count("Bundled certificate can not be found for absent.der"), 1u);
}

TEST_F(TallyConnectionTest, NothingIsSentWhileTerminatingCrashingOrUnderATemporaryID) {
    FakeAnalyticsServer server;
    connectTo(server.host());
    persistency()->addToQueue("app_key=KEY&device_id=TLYTemporaryDeviceID&label=t");
    connection()->proceedOnQueue();
    EXPECT_EQ(logger_->count("Proceeding on queue is aborted: Device ID in request is TLYTemporaryDeviceID!"),
              1u);
    persistency()->replaceAllTemporaryDeviceIDsInQueueWithDeviceID("DEV");
    connection()->setIsTerminating(true);
    connection()->proceedOnQueue();
    EXPECT_EQ(logger_->count("Proceeding on queue is aborted: Application is terminating!"), 1u);
    EXPECT_EQ(server.requestCount(), 0u);
    connection()->setIsTerminating(false);
    ASSERT_TRUE(drained());
    EXPECT_THAT(server.values("device_id"), ::testing::ElementsAre("DEV"));

    // A crash only queues and saves: the record goes out at the next start.
    connection()->sendCrashReport("%7B%22_name%22%3A%22x%22%7D", true);
    EXPECT_TRUE(connection()->isCrashing());
    connection()->proceedOnQueue();
    EXPECT_EQ(server.requestCount(), 1u);
    TallyPersistency::resetForTesting();
    EXPECT_THAT(queued().back(), ::testing::EndsWith("&crash=%7B%22_name%22%3A%22x%22%7D"));
}

// What the next start would load from the stored queue and its journal, read
// now, as if the process ended at this moment.
std::vector<std::string> storedForNextStart() {
    std::vector<std::string> requests;
    uint64_t covered = 0;
    auto read = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    if (auto snapshot = TallyQueueFile::decodeSnapshot(read(TallyPersistency::storageFile()))) {
        requests = snapshot->requests;
        covered = snapshot->generation;
    }
    for (auto& entry : TallyQueueFile::decodeJournal(read(TallyPersistency::journalFile()))) {
        if (entry.generation > covered) requests.push_back(entry.request);
    }
    return requests;
}

// A request that completes while the application terminates leaves the stored
// queue at once: nothing waits for the held-back snapshot at exit, and the
// request would otherwise go out a second time at the next start.
TEST_F(TallyConnectionTest, ARequestSentWhileTerminatingLeavesTheStoredQueue) {
    FakeAnalyticsServer server;
    server.script({FakeAnalyticsServer::success().withDelay(0.3), FakeAnalyticsServer::success()});
    connectTo(server.host());
    queueQuietly("quitting");
    connection()->proceedOnQueue();
    ASSERT_TRUE(server.waitForRequests(1));
    connection()->setIsTerminating(true);
    ASSERT_TRUE(connection()->waitUntilIdle(15));
    EXPECT_EQ(persistency()->queueCount(), 0u);
    EXPECT_THAT(storedForNextStart(), ::testing::IsEmpty());

    // Before termination the snapshot may wait: the journal keeps every addition safe meanwhile.
    connection()->setIsTerminating(false);
    queueQuietly("running");
    ASSERT_TRUE(drained());
    EXPECT_THAT(labels(server), ::testing::ElementsAre("quitting", "running"));
}

}  // namespace
}  // namespace tervolo::analytics
