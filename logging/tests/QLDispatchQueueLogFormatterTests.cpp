#include "logging/QLDispatchQueueLogFormatter.hpp"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "logging/QLAtomicCounter.hpp"
#include "platform/dispatch/DateFormat.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/DispatchSemaphore.hpp"

namespace tervolo::logging {
namespace {

const platform::Date kDate = platform::Date::fromUnix(1714571107.123);

// "<local date> [<column> (QOS:<code>)] <message>"
std::string line(std::string_view column, std::string_view code, std::string_view message) {
    std::string text = platform::dateformat::localDashed(kDate);
    text.append(" [").append(column).append(" (QOS:").append(code).append(")] ").append(message);
    return text;
}

// A record with a chosen caller snapshot.
class SnapshotRecord : public QLLogMessage {
  public:
    SnapshotRecord(std::string queueLabel, std::string threadName, std::string threadID,
                   platform::QoS qos = platform::QoS::Default)
        : QLLogMessage("message", QLLogLevel::all, QLLogFlag::info, 0, "/src/Caller.cpp", "fn", 1, std::any{},
                       3, kDate) {
        setCaller({std::move(threadID), std::move(threadName), std::move(queueLabel), qos});
    }
};

TEST(QLDispatchQueueLogFormatterTest, QueueColumnSource) {
    struct Case {
        const char* name;
        const char* label;
        const char* threadName;
        std::string expected;
    };
    const Case cases[] = {
        {"the main queue is replaced", "com.apple.main-thread", "", "main"},
        {"a queue shows its label", "quova.logging", "worker", "quova.logging"},
        {"a global queue shows its thread name", "com.apple.root.default-priority", "pool-3", "pool-3"},
        {"a global queue thread without a name shows its id", "com.apple.root.high-priority", "", "4711"},
        {"an overcommit global queue", "com.apple.root.default-qos.overcommit", "", "4711"},
        {"no queue: the thread name", "", "reader", "reader"},
        {"no queue, no name: the thread id", "", "", "4711"},
        {"a thread name is replaced too", "", "com.apple.main-thread", "main"},
    };
    QLDispatchQueueLogFormatter formatter;
    for (const auto& c : cases) {
        EXPECT_EQ(formatter.queueThreadLabelForLogMessage(SnapshotRecord(c.label, c.threadName, "4711")),
                  c.expected)
            << c.name;
    }
}

TEST(QLDispatchQueueLogFormatterTest, WidthsAndReplacements) {
    struct Case {
        const char* name;
        size_t minLength, maxLength;
        const char* label;
        std::string expected;
    };
    const Case cases[] = {
        {"padded", 8, 0, "com.apple.main-thread", "main    "},
        {"cut", 0, 3, "com.apple.main-thread", "mai"},
        {"cut wins over padding", 8, 3, "com.apple.main-thread", "mai"},
        {"shorter than the maximum is padded", 8, 6, "com.apple.main-thread", "main    "},
        {"exactly the maximum", 0, 4, "com.apple.main-thread", "main"},
        {"long label cut", 0, 5, "quova.logging", "quova"},
        {"a cut never splits a character", 0, 2, "qüeue", "qü"},
        {"padding counts characters, not bytes", 6, 0, "qüeue", "qüeue "},
        {"an id is cut too", 0, 2, "", "47"},
    };
    for (const auto& c : cases) {
        QLDispatchQueueLogFormatter formatter;
        formatter.setMinQueueLength(c.minLength);
        formatter.setMaxQueueLength(c.maxLength);
        EXPECT_EQ(formatter.queueThreadLabelForLogMessage(SnapshotRecord(c.label, "", "4711")), c.expected)
            << c.name;
    }

    QLDispatchQueueLogFormatter formatter;
    EXPECT_EQ(formatter.replacementStringForQueueLabel("com.apple.main-thread"), "main");
    formatter.setReplacementString("log", "quova.logging");
    EXPECT_EQ(formatter.queueThreadLabelForLogMessage(SnapshotRecord("quova.logging", "", "1")), "log");
    // An id is never looked up, even when a replacement has its text.
    formatter.setReplacementString("one", "1");
    EXPECT_EQ(formatter.queueThreadLabelForLogMessage(SnapshotRecord("", "", "1")), "1");
    // No replacement removes the entry: the label itself shows again.
    formatter.setReplacementString(std::nullopt, "com.apple.main-thread");
    EXPECT_EQ(formatter.replacementStringForQueueLabel("com.apple.main-thread"), std::nullopt);
    EXPECT_EQ(formatter.queueThreadLabelForLogMessage(SnapshotRecord("com.apple.main-thread", "", "1")),
              "com.apple.main-thread");
}

TEST(QLDispatchQueueLogFormatterTest, QualityOfServiceCodes) {
    struct Case {
        int number;
        const char* code;
    };
    const Case cases[] = {{9, "BG"},  {17, "UT"}, {21, "DF"}, {25, "IN"}, {33, "UI"}, {0, "UN"},
                          {13, "UN"}, {29, "UN"}, {5, "UN"},  {10, "UN"}, {37, "UN"}, {-7, "UN"}};
    for (const auto& c : cases) EXPECT_EQ(QLDispatchQueueLogFormatter::qosCode(c.number), c.code) << c.number;

    // The record's class, through the platform's class numbers.
    QLDispatchQueueLogFormatter formatter;
    EXPECT_EQ(formatter.formatLogMessage(
                  SnapshotRecord("com.apple.main-thread", "", "1", platform::QoS::UserInteractive)),
              line("main", "UI", "message"));
    EXPECT_EQ(formatter.formatLogMessage(SnapshotRecord("q", "", "1", platform::QoS::Background)),
              line("q", "BG", "message"));
    EXPECT_EQ(formatter.formatLogMessage(SnapshotRecord("", "", "1", platform::QoS::Unspecified)),
              line("1", "UN", "message"));
}

// A record made on the queues themselves carries what the formatter shows.
TEST(QLDispatchQueueLogFormatterTest, RecordsMadeOnQueues) {
    QLDispatchQueueLogFormatter formatter;
    const auto make = [] {
        return QLLogMessage("m", QLLogLevel::all, QLLogFlag::info, 0, "f.cpp", "fn", 1, std::any{}, 3, kDate);
    };
    std::optional<QLLogMessage> serial;
    platform::DispatchQueue::serial("test.formatter", platform::QoS::Utility)->sync([&] { serial = make(); });
    EXPECT_EQ(formatter.formatLogMessage(*serial), line("test.formatter", "UT", "m"));

    // Global-queue workers have no name: the column shows the worker's thread id.
    std::optional<QLLogMessage> global;
    platform::DispatchSemaphore done(0);
    platform::DispatchQueue::global(platform::QoS::UserInitiated)->async([&] {
        global = make();
        done.signal();
    });
    done.wait();
    EXPECT_EQ(global->threadName(), "");
    EXPECT_EQ(formatter.formatLogMessage(*global), line(global->threadID(), "IN", "m"));
}

TEST(QLDispatchQueueLogFormatterTest, SharedByLoggersOnSeveralThreads) {
    QLDispatchQueueLogFormatter formatter;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&formatter, t] {
            const std::string label = fmt::format("label{}", t);
            for (int i = 0; i < 200; ++i) {
                formatter.setReplacementString(fmt::format("r{}", i), label);
                formatter.setMaxQueueLength(static_cast<size_t>(i % 5));
                (void)formatter.formatLogMessage(SnapshotRecord(label, "", "1"));
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(formatter.replacementStringForQueueLabel("label0"), "r199");
}

TEST(QLAtomicCounterTest, IncrementAndDecrementReturnTheNewValue) {
    QLAtomicCounter counter(5);
    EXPECT_EQ(counter.increment(), 6);
    EXPECT_EQ(counter.decrement(), 5);
    EXPECT_EQ(counter.value(), 5);

    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&counter] {
            for (int i = 0; i < 1000; ++i) counter.increment();
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(counter.value(), 4005);
}

}  // namespace
}  // namespace tervolo::logging
