#include <gtest/gtest.h>

#include <dirent.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "backend/ShorturlLookupQueue.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/net/URLRequest.hpp"
#include "testsupport/Eventually.hpp"
#include "testsupport/LoopbackHTTPServer.hpp"

namespace {

using tervolo::backend::ShorturlLookupQueue;
using tervolo::testsupport::CannedReply;
using tervolo::testsupport::LoopbackHTTPServer;
using tervolo::testsupport::RecordedRequest;

size_t entriesIn(const char* folder) {
    size_t count = 0;
    if (DIR* directory = opendir(folder)) {
        while (const dirent* entry = readdir(directory)) {
            if (entry->d_name[0] != '.') ++count;
        }
        closedir(directory);
    }
    return count;
}

// A server whose replies wait until the test lets them go: the lookups it
// holds stay in flight for as long as the test looks.
class StallingServer {
  public:
    StallingServer() {
        server_.setFallback([this](const RecordedRequest&) {
            std::unique_lock lock(mutex_);
            released_.wait(lock, [this] { return open_; });
            return CannedReply::json("{}");
        });
    }
    ~StallingServer() { release(); }
    void release() {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        released_.notify_all();
    }
    LoopbackHTTPServer& server() { return server_; }
    platform::URLRequest request(const std::string& key) {
        return *platform::URLRequest::make(server_.url("/apps/api/location/shorturl/" + key));
    }

  private:
    std::mutex mutex_;
    std::condition_variable released_;
    bool open_ = false;
    LoopbackHTTPServer server_;
};

// Sixty hand-overs of 64 links each, from several threads at once, against a
// server that does not answer: a few requests run, the rest wait, keys that
// wait already are not queued twice, and the process keeps a bounded number
// of threads and descriptors (each lookup used to make a session and a thread
// of its own: thousands of both). Once the server answers, every queued
// lookup completes.
TEST(ShorturlLookupQueue, ManyHandOversAgainstAStalledServerStayBounded) {
    constexpr int kHandOvers = 60;
    constexpr int kLinks = 64;
    StallingServer stalling;
    const size_t threadsBefore = entriesIn("/proc/self/task");
    const size_t descriptorsBefore = entriesIn("/proc/self/fd");
    std::atomic<int> completed{0};
    std::atomic<int> started{0};
    std::atomic<int> waiting{0};
    std::atomic<int> coalesced{0};
    std::atomic<int> dropped{0};
    {
        ShorturlLookupQueue queue(platform::URLSessionConfiguration::defaultConfiguration());
        std::vector<std::thread> senders;
        for (int sender = 0; sender < 4; ++sender) {
            senders.emplace_back([&, sender] {
                for (int handOver = sender; handOver < kHandOvers; handOver += 4) {
                    for (int link = 0; link < kLinks; ++link) {
                        // Half the links of every hand-over are the same ones.
                        const std::string key = link % 2 == 0
                                                    ? "same" + std::to_string(link)
                                                    : std::to_string(handOver) + "-" + std::to_string(link);
                        const auto outcome =
                            queue.lookUp(key, stalling.request(key), [&](auto, auto, auto) { ++completed; });
                        switch (outcome) {
                            case ShorturlLookupQueue::Outcome::started:
                                ++started;
                                break;
                            case ShorturlLookupQueue::Outcome::waiting:
                                ++waiting;
                                break;
                            case ShorturlLookupQueue::Outcome::coalesced:
                                ++coalesced;
                                break;
                            case ShorturlLookupQueue::Outcome::dropped:
                                ++dropped;
                                break;
                        }
                    }
                }
            });
        }
        for (auto& sender : senders) sender.join();
        ASSERT_TRUE(stalling.server().waitForRequests(ShorturlLookupQueue::kMaximumInFlight));

        EXPECT_EQ(started.load(), static_cast<int>(ShorturlLookupQueue::kMaximumInFlight));
        EXPECT_EQ(queue.inFlight(), ShorturlLookupQueue::kMaximumInFlight);
        EXPECT_EQ(started + waiting + coalesced + dropped, kHandOvers * kLinks);
        EXPECT_GT(coalesced.load(), kHandOvers * kLinks / 3);
        EXPECT_LE(queue.waiting(), ShorturlLookupQueue::kMaximumWaiting);
        // The session's thread and queue, the server's threads (one for
        // accepting, one per connection): a handful, not thousands.
        EXPECT_LE(entriesIn("/proc/self/task"), threadsBefore + 4 + ShorturlLookupQueue::kMaximumInFlight);
        // A connection at each end, a download file each, curl's wake-up.
        EXPECT_LE(entriesIn("/proc/self/fd"),
                  descriptorsBefore + 4 + 3 * ShorturlLookupQueue::kMaximumInFlight);
        EXPECT_LE(stalling.server().maxOpenConnections(),
                  static_cast<int>(ShorturlLookupQueue::kMaximumInFlight));

        stalling.release();
        EXPECT_TRUE(tervolo::testsupport::eventually([&] { return completed == started + waiting; },
                                                     std::chrono::seconds(120)));
        EXPECT_EQ(stalling.server().requestCount(), static_cast<size_t>(started + waiting));
        EXPECT_EQ(queue.inFlight(), 0u);
        EXPECT_EQ(queue.waiting(), 0u);
    }
}

// One place: lookups run one after the other in the order they came; a key
// that waits already is served by its first lookup; a key that runs now may
// wait once more (its answer may be on its way out).
TEST(ShorturlLookupQueue, WaitingLookupsRunInTheirOrderAndDuplicatesCoalesce) {
    StallingServer stalling;
    ShorturlLookupQueue queue(platform::URLSessionConfiguration::defaultConfiguration(), 1);
    std::mutex mutex;
    std::vector<std::string> completions;
    const auto lookUp = [&](const std::string& key) {
        return queue.lookUp(key, stalling.request(key), [&, key](auto, auto, auto error) {
            std::lock_guard lock(mutex);
            completions.push_back(key + (error ? " failed" : ""));
        });
    };
    using Outcome = ShorturlLookupQueue::Outcome;
    EXPECT_EQ(lookUp("a"), Outcome::started);
    EXPECT_EQ(lookUp("b"), Outcome::waiting);
    EXPECT_EQ(lookUp("c"), Outcome::waiting);
    EXPECT_EQ(lookUp("b"), Outcome::coalesced);
    EXPECT_EQ(lookUp("a"), Outcome::waiting);
    EXPECT_EQ(queue.waiting(), 3u);
    stalling.release();
    ASSERT_TRUE(tervolo::testsupport::eventually(
        [&] {
            std::lock_guard lock(mutex);
            return completions.size() == 4;
        },
        std::chrono::seconds(60)));
    EXPECT_EQ(completions, (std::vector<std::string>{"a", "b", "c", "a"}));
    std::vector<std::string> paths;
    for (const auto& request : stalling.server().requests()) paths.push_back(request.path);
    EXPECT_EQ(paths,
              (std::vector<std::string>{"/apps/api/location/shorturl/a", "/apps/api/location/shorturl/b",
                                        "/apps/api/location/shorturl/c", "/apps/api/location/shorturl/a"}));
}

// A completion that throws still passes its place on: with one place, the
// lookup waiting behind it runs, and the queue ends empty. (Completions run
// on the main queue here, so the exception reaches the test's pump.)
TEST(ShorturlLookupQueue, ThrowingCompletionPassesItsPlaceOn) {
    LoopbackHTTPServer server;
    server.setFallback([](const RecordedRequest&) { return CannedReply::json("{}"); });
    ShorturlLookupQueue queue(platform::URLSessionConfiguration::defaultConfiguration(), 1,
                              ShorturlLookupQueue::kMaximumWaiting, platform::DispatchQueue::main());
    std::vector<std::string> completions;
    const auto request = [&](const std::string& key) {
        return *platform::URLRequest::make(server.url("/apps/api/location/shorturl/" + key));
    };
    using Outcome = ShorturlLookupQueue::Outcome;
    EXPECT_EQ(queue.lookUp("a", request("a"),
                           [&](auto, auto, auto) {
                               completions.push_back("a");
                               throw std::runtime_error("the completion failed");
                           }),
              Outcome::started);
    EXPECT_EQ(queue.lookUp("b", request("b"), [&](auto, auto, auto) { completions.push_back("b"); }),
              Outcome::waiting);
    EXPECT_THROW(platform::RunLoop::runUntil([] { return false; }, 60.0), std::runtime_error);
    EXPECT_TRUE(platform::RunLoop::runUntil([&] { return completions.size() == 2; }, 60.0));
    EXPECT_EQ(completions, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(queue.waiting(), 0u);
    EXPECT_TRUE(tervolo::testsupport::eventually([&] { return queue.inFlight() == 0; }, std::chrono::seconds(10)));
}

}  // namespace
