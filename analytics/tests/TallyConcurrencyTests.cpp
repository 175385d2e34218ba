#include <algorithm>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "analytics/TallyCommon.hpp"
#include "analytics/TallyConnectionManager.hpp"
#include "analytics/TallyPersistency.hpp"
#include "analytics/tests/AnalyticsTestSupport.hpp"
#include "testsupport/FakeAnalyticsServer.hpp"

namespace tervolo::analytics {
namespace {

using testing::AnalyticsTest;

class TallyConcurrencyTest : public AnalyticsTest {};

// Eight threads draw timestamps while the clock stands still and then steps
// back: no value is handed out twice and each thread's values rise.
TEST_F(TallyConcurrencyTest, UniqueTimestampsAreUniqueAcrossThreads) {
    constexpr int kThreads = 8;
    constexpr int kPerThread = 2000;
    std::vector<std::vector<int64_t>> drawn(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            auto& common = TallyCommon::sharedInstance();
            for (int i = 0; i < kPerThread; ++i) {
                if (t == 0 && i == kPerThread / 2) {
                    time_.clock().setWallSeconds(1700000000.123 - 3600);
                }
                drawn[t].push_back(static_cast<int64_t>(common.uniqueTimestamp() * 1000.0 + 0.5));
            }
        });
    }
    for (auto& thread : threads) thread.join();

    std::vector<int64_t> all;
    for (const auto& values : drawn) {
        EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
        EXPECT_EQ(std::adjacent_find(values.begin(), values.end()), values.end());
        all.insert(all.end(), values.begin(), values.end());
    }
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
    EXPECT_EQ(all.front(), 1700000000123);
    EXPECT_EQ(all.back(), 1700000000123 + kThreads * kPerThread - 1);
}

class TallyDrainConcurrencyTest : public testing::StartedAnalyticsTest {};

// Threads queue requests while completions drain the queue on the session's
// thread: never two requests in flight, every request sent, each once.
TEST_F(TallyDrainConcurrencyTest, ManyThreadsQueueWhileTheQueueDrains) {
    tervolo::testsupport::FakeAnalyticsServer server;
    auto connection = TallyConnectionManager::sharedInstance();
    connection->setHost(server.host());
    connection->setAlwaysUsePOST(true);
    connection->setIsTerminating(false);
    constexpr int kThreads = 4;
    constexpr int kPerThread = 25;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                TallyConnectionManager::sharedInstance()->sendAttributionData(fmt::format("{}-{}", t, i));
            }
        });
    }
    for (auto& thread : threads) thread.join();
    auto persistency = TallyPersistency::sharedInstance();
    for (int i = 0; i < 200 && persistency->queueCount() > 0; ++i) {
        connection->proceedOnQueue();
        ASSERT_TRUE(connection->waitUntilIdle(15));
    }
    EXPECT_EQ(persistency->queueCount(), 0u);
    auto sent = server.values("attribution_data");
    EXPECT_EQ(sent.size(), static_cast<size_t>(kThreads * kPerThread));
    std::sort(sent.begin(), sent.end());
    EXPECT_EQ(std::adjacent_find(sent.begin(), sent.end()), sent.end());
    EXPECT_EQ(server.maxRequestsInFlight(), 1);
}

}  // namespace
}  // namespace tervolo::analytics
