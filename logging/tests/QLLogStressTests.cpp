#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "logging/QLLog.hpp"
#include "logging/QLLogging.hpp"
#include "platform/dispatch/ProcessorCount.hpp"
#include "testsupport/logging/LogRecorder.hpp"

namespace tervolo::logging {
namespace {

using RecordingLogger = tervolo::testsupport::LogRecorder;

class QLLogStressTest : public ::testing::TestWithParam<int> {
  protected:
    QLLogStressTest() { platform::setProcessorCountForTesting(GetParam()); }
    ~QLLogStressTest() override { platform::setProcessorCountForTesting(std::nullopt); }
};

INSTANTIATE_TEST_SUITE_P(DeliveryPaths, QLLogStressTest, ::testing::Values(1, 4),
                         [](const auto& info) { return info.param == 1 ? "Serial" : "Parallel"; });

// Eight threads log (mostly asynchronously, every tenth record synchronously)
// while another thread keeps adding and removing loggers and changing a
// formatter. The logger installed throughout receives every record, each
// thread's records in order.
TEST_P(QLLogStressTest, EightThreadsLogWhileLoggersComeAndGo) {
    QLLog registry;
    auto steady = std::make_shared<RecordingLogger>("test.steady");
    registry.addLogger(steady);

    constexpr int kThreads = 8;
    constexpr int kPerThread = 1500;
    std::atomic<bool> done{false};
    std::thread churn([&] {
        std::vector<std::shared_ptr<RecordingLogger>> transient;
        int round = 0;
        while (!done.load()) {
            auto logger = std::make_shared<RecordingLogger>("test.transient");
            registry.addLogger(logger, round % 2 ? QLLogLevel::all : QLLogLevel{4});
            transient.push_back(logger);
            if (transient.size() > 3) {
                registry.removeLogger(transient.front());
                transient.erase(transient.begin());
            }
            if (round % 5 == 0) (void)registry.allLoggersWithLevel();
            if (round % 7 == 0) registry.flushLog();
            ++round;
        }
        for (const auto& logger : transient) registry.removeLogger(logger);
    });

    std::vector<std::thread> producers;
    for (int t = 0; t < kThreads; ++t) {
        producers.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                const bool sync = i % 10 == 0;
                logMessageCore([&] { return std::to_string(t) + ":" + std::to_string(i); }, QLLogLevel::all,
                               sync ? QLLogFlag::error : QLLogFlag::info, 0, __FILE__, __func__, __LINE__, {},
                               !sync, registry);
            }
        });
    }
    for (auto& p : producers) p.join();
    done.store(true);
    churn.join();
    registry.flushLog();

    const auto messages = steady->messages();
    ASSERT_EQ(messages.size(), size_t{kThreads * kPerThread});
    std::vector<int> next(kThreads, 0);
    for (const auto& m : messages) {
        const auto colon = m.find(':');
        const int t = std::stoi(m.substr(0, colon));
        ASSERT_EQ(std::stoi(m.substr(colon + 1)), next[t]++) << "thread " << t;
    }
    EXPECT_EQ(steady->offQueueCalls(), 0);
    registry.removeAllLoggers();
    registry.flushLog();
    EXPECT_TRUE(registry.allLoggers().empty());
}

// Threads hand the one record over again and again while the registry
// delivers it: each hand-over is one delivery, and no reference is lost or
// left behind.
TEST_P(QLLogStressTest, ThreadsHandingOverOneSharedRecordDeliverItEveryTime) {
    QLLog registry;
    auto logger = std::make_shared<RecordingLogger>("test.shared");
    registry.addLogger(logger);
    const auto shared =
        QLLogMessage::make("shared", QLLogLevel::all, QLLogFlag::info, 0, QLLogText::borrowed(__FILE__),
                           QLLogText::borrowed("fn"), 1, {}, 3);
    constexpr int kThreads = 8;
    constexpr int kPerThread = 500;
    std::vector<std::thread> producers;
    for (int t = 0; t < kThreads; ++t) {
        producers.emplace_back([&] {
            for (int i = 0; i < kPerThread; ++i) registry.log(true, shared);
        });
    }
    for (auto& p : producers) p.join();
    registry.flushLog();
    EXPECT_EQ(logger->count(), size_t{kThreads * kPerThread});
    registry.removeAllLoggers();
    registry.flushLog();
    logger->clear();
    EXPECT_EQ(shared.use_count(), 1);
}

// Loggers on their own queues ask one record for its message at the same
// time: they all get the one text.
TEST(QLLogMessageStressTest, RecordsMadeOnManyThreadsAndEndedOnAnotherKeepTheirBytes) {
    // Makers hand their records to one thread that ends them in an order of
    // its own, as a logger's queue does; the memory they leave goes back to
    // the makers while they go on. Every record must read as made until it ends.
    constexpr int kMakers = 4;
    constexpr int kPerMaker = 20000;
    std::mutex mutex;
    std::vector<std::pair<std::string, QLLogMessagePtr>> handed;
    std::atomic<int> makersDone{0};
    std::atomic<int> mismatches{0};
    std::thread ender([&] {
        std::vector<std::pair<std::string, QLLogMessagePtr>> taken;
        for (;;) {
            const bool last = makersDone.load() == kMakers;
            {
                std::lock_guard lock(mutex);
                taken.swap(handed);
            }
            // Every other record now, the rest after the next batch came in.
            for (size_t k = 0; k < taken.size(); ++k) {
                if (taken[k].second->messageText() != taken[k].first) mismatches.fetch_add(1);
                if (k % 2 == 0 || last) taken[k].second.reset();
            }
            std::erase_if(taken, [](const auto& entry) { return entry.second == nullptr; });
            {
                std::lock_guard lock(mutex);
                for (auto& entry : taken) handed.push_back(std::move(entry));
            }
            taken.clear();
            if (last) return;
            std::this_thread::yield();
        }
    });
    std::vector<std::thread> makers;
    for (int m = 0; m < kMakers; ++m) {
        makers.emplace_back([&, m] {
            for (int i = 0; i < kPerMaker; ++i) {
                std::string text = std::to_string(m * kPerMaker + i);
                text.append(static_cast<size_t>(i % 97), 'x');
                auto record = QLLogMessage::make(text, QLLogFlag::info, QLLogText::borrowed(__FILE__),
                                                 QLLogText::borrowed("fn"), 1);
                std::lock_guard lock(mutex);
                handed.emplace_back(std::move(text), std::move(record));
            }
            makersDone.fetch_add(1);
        });
    }
    for (auto& maker : makers) maker.join();
    ender.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_TRUE(handed.empty());
}

TEST(QLLogMessageStressTest, ReadersAskingForTheMessageAtOnceShareOneText) {
    const std::string text = "a message read by every logger at once";
    for (int round = 0; round < 50; ++round) {
        const auto record =
            QLLogMessage::make(text, QLLogLevel::all, QLLogFlag::info, 0, QLLogText::borrowed(__FILE__),
                               QLLogText::borrowed("fn"), 1, {}, 3);
        std::atomic<int> ready{0};
        std::vector<const std::string*> seen(6, nullptr);
        std::vector<std::thread> readers;
        for (size_t r = 0; r < seen.size(); ++r) {
            readers.emplace_back([&, r] {
                ready.fetch_add(1);
                while (ready.load() < static_cast<int>(seen.size())) {
                }
                seen[r] = &record->message();
            });
        }
        for (auto& reader : readers) reader.join();
        for (const auto* s : seen) {
            ASSERT_EQ(s, seen[0]);
            ASSERT_EQ(*s, text);
        }
        EXPECT_EQ(record->messageText(), text);
    }
}

}  // namespace
}  // namespace tervolo::logging
