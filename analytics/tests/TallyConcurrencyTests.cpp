#include <algorithm>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "analytics/TallyCommon.hpp"
#include "analytics/tests/AnalyticsTestSupport.hpp"

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

}  // namespace
}  // namespace tervolo::analytics
