#include "LogFileTestSupport.hpp"
#include "logging/QLLog.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/DispatchSemaphore.hpp"
#include "platform/dispatch/NotificationCenter.hpp"
#include "platform/dispatch/ProcessorCount.hpp"
#include "platform/foundation/Assertion.hpp"
#include "platform/foundation/Diagnostics.hpp"
#include "testsupport/logging/LogRecorder.hpp"

namespace tervolo::logging {
namespace {

using RecordingLogger = tervolo::testsupport::LogRecorder;

struct CapturedAssertion {
    std::string file;
    std::string message;
};

// Collects assertion failures instead of stopping the program.
class AssertionCapture {
  public:
    AssertionCapture()
        : scope_([this](std::string_view, std::string_view file, std::string_view message) {
              std::lock_guard lock(mutex_);
              failures_.push_back({std::string(file), std::string(message)});
          }) {}
    std::vector<CapturedAssertion> failures() const {
        std::lock_guard lock(mutex_);
        return failures_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<CapturedAssertion> failures_;
    platform::ScopedAssertionHandler scope_;
};

// Every registry test runs on both delivery paths: one processor (loggers
// served one after the other with sync) and several (in parallel through the
// logging group).
class QLLogTest : public ::testing::TestWithParam<int> {
  protected:
    QLLogTest() {
        platform::setProcessorCountForTesting(GetParam());
        registry_ = std::make_unique<QLLog>();
    }
    ~QLLogTest() override {
        registry_->removeAllLoggers();
        registry_->flushLog();
        registry_.reset();
        platform::setProcessorCountForTesting(std::nullopt);
    }

    QLLog& registry() { return *registry_; }

  private:
    std::unique_ptr<QLLog> registry_;
};

INSTANTIATE_TEST_SUITE_P(DeliveryPaths, QLLogTest, ::testing::Values(1, 4),
                         [](const auto& info) { return info.param == 1 ? "Serial" : "Parallel"; });

TEST_P(QLLogTest, LoggersReceiveTheFlagsTheirLevelHolds) {
    struct Case {
        const char* name;
        QLLogLevel level;
        std::vector<QLLogFlag> received;
    };
    const std::vector<QLLogFlag> flags = {QLLogFlag::error,
                                          QLLogFlag::warning,
                                          QLLogFlag::info,
                                          QLLogFlag::debug,
                                          QLLogFlag::verbose,
                                          QLLogFlag{0},
                                          QLLogFlag::error | QLLogFlag::warning};
    const Case cases[] = {
        {"all",
         QLLogLevel::all,
         {QLLogFlag::error, QLLogFlag::warning, QLLogFlag::info, QLLogFlag::debug, QLLogFlag::verbose,
          QLLogFlag::error | QLLogFlag::warning}},
        {"zero", QLLogLevel::off, {}},
        {"error+info",
         QLLogLevel{1 | 4},
         {QLLogFlag::error, QLLogFlag::info, QLLogFlag::error | QLLogFlag::warning}},
        {"verbose", QLLogLevel{16}, {QLLogFlag::verbose}},
    };
    std::vector<std::shared_ptr<RecordingLogger>> loggers;
    for (const auto& c : cases) {
        loggers.push_back(std::make_shared<RecordingLogger>(c.name));
        registry().addLogger(loggers.back(), c.level);
    }
    for (const auto flag : flags) registry().log(false, testing::makeRecord(flag));

    for (size_t i = 0; i < loggers.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        std::vector<QLLogFlag> got;
        for (const auto& r : loggers[i]->records()) got.push_back(r->flag());
        EXPECT_EQ(got, cases[i].received);
        // Every call reached the logger on its own queue, labelled with its name.
        EXPECT_EQ(loggers[i]->offQueueCalls(), 0);
        for (const auto& label : loggers[i]->labels()) EXPECT_EQ(label, cases[i].name);
    }
}

TEST_P(QLLogTest, TheRecordsOwnLevelPlaysNoPartInDelivery) {
    auto logger = std::make_shared<RecordingLogger>();
    registry().addLogger(logger);
    registry().log(false, std::make_shared<const QLLogMessage>("x", QLLogLevel::off, QLLogFlag::info, 0, "f",
                                                               "g", 1, std::any{}, 0, std::nullopt));
    EXPECT_EQ(logger->count(), 1u);
}

TEST_P(QLLogTest, DuplicateAddsAndRemovalOfTheFirstNodeOnly) {
    auto logger = std::make_shared<RecordingLogger>();
    registry().addLogger(logger, QLLogLevel{1});
    registry().addLogger(logger, QLLogLevel{1});  // same logger, same level: still one node
    EXPECT_EQ(registry().allLoggers().size(), 1u);

    registry().addLogger(logger, QLLogLevel{3});  // another level: a second node
    const auto info = registry().allLoggersWithLevel();
    ASSERT_EQ(info.size(), 2u);
    EXPECT_EQ(info[0].logger, logger);
    EXPECT_EQ(info[0].level, QLLogLevel{1});
    EXPECT_EQ(info[1].level, QLLogLevel{3});
    EXPECT_EQ(registry().allLoggers(), (std::vector<std::shared_ptr<QLLogger>>{logger, logger}));

    // Once per node whose mask holds the flag.
    registry().log(false, testing::makeRecord(QLLogFlag::error, "both"));
    registry().log(false, testing::makeRecord(QLLogFlag::warning, "second"));
    EXPECT_EQ(logger->messages(), (std::vector<std::string>{"both", "both", "second"}));

    registry().removeLogger(logger);
    const auto left = registry().allLoggersWithLevel();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].level, QLLogLevel{3});

    // Removing a logger that is not installed changes nothing.
    registry().removeLogger(std::make_shared<RecordingLogger>());
    registry().removeLogger(nullptr);
    registry().addLogger(nullptr);
    EXPECT_EQ(registry().allLoggers().size(), 1u);
}

TEST_P(QLLogTest, NotificationsArriveOnTheLoggersQueue) {
    auto logger = std::make_shared<RecordingLogger>("test.notified");
    registry().addLogger(logger);
    registry().addLogger(logger, QLLogLevel{1});
    registry().removeAllLoggers();
    EXPECT_TRUE(registry().allLoggers().empty());
    logger->drain();

    const auto queues = logger->addedInQueue();
    ASSERT_EQ(queues.size(), 2u);
    EXPECT_EQ(queues[0], logger->loggerQueue());  // the logger's own queue was used
    EXPECT_EQ(logger->willRemoveCount(), 2);
}

// A logger with no queue of its own gets a serial queue labelled with its name.
class PlainLogger : public QLLogger {
  public:
    void logMessage(const QLLogMessagePtr&) override {
        std::lock_guard lock(mutex);
        labels.push_back(platform::DispatchQueue::currentLabel());
    }
    std::shared_ptr<QLLogFormatter> logFormatter() override { return nullptr; }
    void setLogFormatter(std::shared_ptr<QLLogFormatter>) override {}
    std::string loggerName() const override { return "test.plainLogger"; }
    std::mutex mutex;
    std::vector<std::string> labels;
};

TEST_P(QLLogTest, ALoggerWithoutAQueueGetsOneNamedAfterIt) {
    auto logger = std::make_shared<PlainLogger>();
    registry().addLogger(logger);
    registry().log(false, testing::makeRecord(QLLogFlag::info));
    std::lock_guard lock(logger->mutex);
    EXPECT_EQ(logger->labels, std::vector<std::string>{"test.plainLogger"});
}

TEST_P(QLLogTest, WithoutLoggersRecordsAreDroppedQuietly) {
    registry().log(false, testing::makeRecord(QLLogFlag::error));
    registry().log(true, testing::makeRecord(QLLogFlag::info));
    registry().flushLog();
    SUCCEED();
}

TEST_P(QLLogTest, SynchronousLoggingFromTheLoggingQueueRunsInline) {
    auto logger = std::make_shared<RecordingLogger>();
    registry().addLogger(logger);
    size_t seenInside = 0;
    QLLog::loggingQueue()->sync([&] {
        registry().log(false, testing::makeRecord(QLLogFlag::error, "inline"));
        seenInside = logger->count();  // delivered before log returned
    });
    EXPECT_EQ(seenInside, 1u);

    // Also from an asynchronous block on the logging queue.
    platform::DispatchSemaphore done(0);
    QLLog::loggingQueue()->async([&] {
        registry().log(false, testing::makeRecord(QLLogFlag::error, "inline async"));
        done.signal();
    });
    done.wait();
    EXPECT_EQ(logger->messages(), (std::vector<std::string>{"inline", "inline async"}));
}

TEST_P(QLLogTest, AsynchronousCallersNeverWaitForTheLoggingQueue) {
    auto logger = std::make_shared<RecordingLogger>();
    registry().addLogger(logger);
    platform::DispatchSemaphore release(0);
    QLLog::loggingQueue()->async([&] { release.wait(); });  // hold the logging queue
    for (int i = 0; i < 100; ++i)
        registry().log(true, testing::makeRecord(QLLogFlag::info, std::to_string(i)));
    EXPECT_EQ(logger->count(), 0u);  // all still queued behind the held block
    release.signal();
    registry().flushLog();
    EXPECT_EQ(logger->count(), 100u);
}

TEST_P(QLLogTest, AsynchronousRecordsKeepTheirPlaceAmongRegistryChangesAndOtherBlocks) {
    // Everything waits behind a held logging queue, so the order in which
    // records, registry changes and plain blocks were queued is all that
    // decides what each logger sees.
    auto first = std::make_shared<RecordingLogger>("test.first");
    auto second = std::make_shared<RecordingLogger>("test.second");
    registry().addLogger(first);
    registry().flushLog();
    platform::DispatchSemaphore release(0);
    QLLog::loggingQueue()->async([&] { release.wait(); });
    std::vector<std::string> seenByBlock;
    registry().log(true, testing::makeRecord(QLLogFlag::info, "a"));
    registry().addLogger(second);
    registry().log(true, testing::makeRecord(QLLogFlag::info, "b"));
    QLLog::loggingQueue()->async([&] { seenByBlock = first->messages(); });
    registry().log(true, testing::makeRecord(QLLogFlag::info, "c"));
    registry().removeLogger(first);
    registry().log(true, testing::makeRecord(QLLogFlag::info, "d"));
    release.signal();
    registry().flushLog();
    EXPECT_EQ(first->messages(), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(second->messages(), (std::vector<std::string>{"b", "c", "d"}));
    EXPECT_EQ(seenByBlock, (std::vector<std::string>{"a", "b"}));
}

TEST_P(QLLogTest, ARecordHandedOverAgainBeforeItsFirstDeliveryArrivesEachTimeInItsPlace) {
    // The same record object queued several times while the logging queue is
    // held: every hand-over is one delivery, in the order they were queued.
    auto logger = std::make_shared<RecordingLogger>();
    registry().addLogger(logger);
    registry().flushLog();
    platform::DispatchSemaphore release(0);
    QLLog::loggingQueue()->async([&] { release.wait(); });
    const auto again = QLLogMessage::make("again", QLLogLevel::all, QLLogFlag::info, 0,
                                          QLLogText::borrowed(__FILE__), QLLogText::borrowed("fn"), 1, {}, 3);
    registry().log(true, again);
    registry().log(true, testing::makeRecord(QLLogFlag::info, "other"));
    registry().log(true, again);
    registry().log(true, again);
    release.signal();
    registry().flushLog();
    EXPECT_EQ(logger->messages(), (std::vector<std::string>{"again", "other", "again", "again"}));
    // Delivered and released by the registry: the caller holds the last reference.
    logger->clear();
    EXPECT_EQ(again.use_count(), 1);
}

TEST_P(QLLogTest, FlushAfterABurstDeliversEverythingToEveryLoggerInOrder) {
    auto first = std::make_shared<RecordingLogger>("test.first");
    auto second = std::make_shared<RecordingLogger>("test.second");
    registry().addLogger(first);
    registry().addLogger(second, QLLogLevel{4});
    constexpr int kThreads = 4;
    constexpr int kPerThread = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                registry().log(
                    true, testing::makeRecord(QLLogFlag::info, std::to_string(t) + ":" + std::to_string(i)));
            }
        });
    }
    for (auto& t : threads) t.join();
    registry().flushLog();

    for (const auto& logger : {first, second}) {
        const auto messages = logger->messages();
        ASSERT_EQ(messages.size(), size_t{kThreads * kPerThread});
        // Each thread's records in the order it logged them.
        std::vector<int> next(kThreads, 0);
        for (const auto& m : messages) {
            const int t = std::stoi(m.substr(0, m.find(':')));
            EXPECT_EQ(std::stoi(m.substr(m.find(':') + 1)), next[t]++);
        }
        EXPECT_EQ(logger->flushCount(), 1);
    }
    // Both loggers saw the records in the same (logging-queue) order.
    EXPECT_EQ(first->messages(), second->messages());
}

// A logger that logs an error from inside logMessage, while the registry waits for it.
class ReentrantLogger : public RecordingLogger {
  public:
    explicit ReentrantLogger(QLLog& registry) : registry_(registry) {}
    void logMessage(const QLLogMessagePtr& logMessage) override {
        RecordingLogger::logMessage(logMessage);
        if (logMessage->message() == "outer")
            registry_.log(false, testing::makeRecord(QLLogFlag::error, "from logger"));
    }

  private:
    QLLog& registry_;
};

TEST_P(QLLogTest, ALoggerLoggingSynchronouslyFromItsOwnDeliveryDoesNotDeadlock) {
    auto logger = std::make_shared<ReentrantLogger>(registry());
    registry().addLogger(logger);
    registry().log(false, testing::makeRecord(QLLogFlag::error, "outer"));
    registry().flushLog();
    EXPECT_EQ(logger->messages(), (std::vector<std::string>{"outer", "from logger"}));
}

// A logger that asks the registry for its loggers and flushes it from inside
// logMessage: both would wait for the logging queue, which waits for it.
class WaitingLogger : public RecordingLogger {
  public:
    explicit WaitingLogger(QLLog& registry) : registry_(registry) {}
    void logMessage(const QLLogMessagePtr& logMessage) override {
        RecordingLogger::logMessage(logMessage);
        listed = registry_.allLoggers().size();
        registry_.flushLog();
    }
    std::atomic<size_t> listed{99};

  private:
    QLLog& registry_;
};

TEST_P(QLLogTest, WaitingOnTheRegistryFromADeliveryIsReportedInsteadOfDeadlocking) {
    AssertionCapture capture;
    auto logger = std::make_shared<WaitingLogger>(registry());
    registry().addLogger(logger);
    registry().log(false, testing::makeRecord(QLLogFlag::error, "outer"));
    EXPECT_EQ(logger->count(), 1u);
    EXPECT_EQ(logger->listed.load(), 0u);  // nothing could be listed
    const auto failures = capture.failures();
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_EQ(failures[0].message,
              "QLLog: allLoggers called from a logger the registry is waiting for would deadlock");
    EXPECT_EQ(failures[1].message,
              "QLLog: flushLog called from a logger the registry is waiting for would deadlock");

    // From the logging queue itself the list is read inline.
    size_t listed = 0;
    QLLog::loggingQueue()->sync([&] { listed = registry().allLoggersWithLevel().size(); });
    EXPECT_EQ(listed, 1u);
}

class ThrowingLogger : public RecordingLogger {
  public:
    void logMessage(const QLLogMessagePtr& logMessage) override {
        RecordingLogger::logMessage(logMessage);
        throw std::runtime_error("disk gone");
    }
    void flush() override { throw 7; }
};

TEST_P(QLLogTest, ALoggerThatThrowsIsReportedOnStandardErrorAndOthersStillReceive) {
    platform::LineCapture stderrLines(platform::LineWriter::standardError());
    auto throwing = std::make_shared<ThrowingLogger>();
    auto steady = std::make_shared<RecordingLogger>();
    registry().addLogger(throwing);
    registry().addLogger(steady);
    registry().log(false, testing::makeRecord(QLLogFlag::error, "one"));
    registry().log(true, testing::makeRecord(QLLogFlag::info, "two"));
    registry().flushLog();
    EXPECT_EQ(throwing->count(), 2u);
    EXPECT_EQ(steady->messages(), (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(stderrLines.lines(),
              (std::vector<std::string>{"QLLog: a logger threw an exception: disk gone",
                                        "QLLog: a logger threw an exception: disk gone",
                                        "QLLog: a logger threw an exception: unknown exception"}));
}

TEST_P(QLLogTest, WillTerminateFlushesTheLoggers) {
    auto logger = std::make_shared<RecordingLogger>();
    registry().addLogger(logger);
    for (int i = 0; i < 50; ++i) registry().log(true, testing::makeRecord(QLLogFlag::debug));
    platform::NotificationCenter::defaultCenter().post(QLLog::kWillTerminateNotification);
    EXPECT_EQ(logger->count(), 50u);
    EXPECT_GE(logger->flushCount(), 1);
}

// Exposes the queue-bound operations to call them from the wrong place.
class ExposedQLLog : public QLLog {
  public:
    using QLLog::lt_allLoggers;
    using QLLog::lt_log;
};

TEST_P(QLLogTest, AssertionTextsNameTheMisuse) {
    ExposedQLLog exposed;
    AssertionCapture capture;
    exposed.lt_allLoggers();  // off the logging queue
    exposed.lt_log(testing::makeRecord(QLLogFlag::info));
    QLLog::loggingQueue()->sync([&] { exposed.flushLog(); });  // flush from the logging queue returns

    const auto failures = capture.failures();
    ASSERT_EQ(failures.size(), 3u);
    EXPECT_EQ(failures[0].file, "QLLog");
    EXPECT_EQ(failures[0].message, "This method should only be run on the logging thread/queue");
    EXPECT_EQ(failures[1].message, "This method should only be run on the logging thread/queue");
    EXPECT_EQ(failures[2].file, "QLLog");
    EXPECT_EQ(failures[2].message,
              "This method shouldn't be run on the logging thread/queue that make flush fast enough");
}

TEST(QLLogSharedTest, SharedInstanceIsOneRegistryOnTheLabelledQueue) {
    EXPECT_EQ(&QLLog::sharedInstance(), &QLLog::sharedInstance());
    EXPECT_EQ(QLLog::loggingQueue()->label(), "quova.logging");
    EXPECT_FALSE(QLLog::isOnLoggingQueue());
    bool inside = false;
    QLLog::loggingQueue()->sync([&] { inside = QLLog::isOnLoggingQueue(); });
    EXPECT_TRUE(inside);
    // A block of another queue run from a logging-queue block is not on the
    // logging queue (a logger's queue during delivery); back out of it, it is.
    auto other = platform::DispatchQueue::serial("other");
    bool nested = true;
    bool after = false;
    QLLog::loggingQueue()->sync([&] {
        other->sync([&] { nested = QLLog::isOnLoggingQueue(); });
        after = QLLog::isOnLoggingQueue();
    });
    EXPECT_FALSE(nested);
    EXPECT_TRUE(after);
}

TEST(QLLogSharedTest, FormatEntryPointsFormatAndNeverTakeTheMessageAsFormat) {
    QLLog registry;
    auto logger = std::make_shared<RecordingLogger>();
    registry.addLogger(logger);
    registry.log(false, QLLogLevel::all, QLLogFlag::info, 5, "/x/File.cpp", "fn", 9, std::any{},
                 "point {} of {}", 3, 4);
    const int n = 8;
    registry.logWithFormatArgs(false, QLLogLevel::all, QLLogFlag::info, 0, "f", "g", 1, std::any{}, "n={}",
                               fmt::make_format_args(n));
    registry.logWithFormatArgs(false, QLLogLevel::all, QLLogFlag::info, 0, "f", "g", 1, std::any{}, nullptr,
                               fmt::make_format_args(n));
    registry.log(false, "100% {literal}", QLLogLevel::all, QLLogFlag::info, 0, "f", nullptr, 1, std::any{});
    const auto records = logger->records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0]->message(), "point 3 of 4");
    EXPECT_EQ(records[0]->context(), 5);
    EXPECT_EQ(records[0]->fileName(), "File");
    EXPECT_EQ(records[0]->options(), 0);
    EXPECT_EQ(records[1]->message(), "n=8");
    EXPECT_EQ(records[2]->message(), "100% {literal}");
    EXPECT_EQ(records[2]->function(), "");
    registry.removeAllLoggers();
}

TEST(QLLogClassRegistryTest, OnlyClassesGivingBothFunctionsTakePart) {
    auto level = std::make_shared<std::atomic<uint64_t>>(2);
    auto full = std::make_shared<QLLogClass>(
        QLLogClass{"TestFullClass", [level] { return QLLogLevel{level->load()}; },
                   [level](QLLogLevel l) { level->store(rawValue(l)); }});
    auto half = std::make_shared<QLLogClass>(QLLogClass{"TestHalfClass", [] { return QLLogLevel{1}; }, {}});
    QLLog::registerClass(full);
    QLLog::registerClass(half);

    EXPECT_TRUE(QLLog::isRegisteredClass(*full));
    EXPECT_FALSE(QLLog::isRegisteredClass(*half));
    const auto names = QLLog::registeredClassNames();
    EXPECT_NE(std::find(names.begin(), names.end(), "TestFullClass"), names.end());
    EXPECT_EQ(std::find(names.begin(), names.end(), "TestHalfClass"), names.end());

    EXPECT_EQ(QLLog::levelForClass(*full), QLLogLevel{2});
    EXPECT_EQ(QLLog::levelForClass(*half), QLLogLevel::all);
    EXPECT_EQ(QLLog::levelForClassWithName("TestHalfClass"), QLLogLevel::all);
    EXPECT_EQ(QLLog::levelForClassWithName("NoSuchClass"), QLLogLevel::all);

    QLLog::setLevel(QLLogLevel{8}, "TestFullClass");
    EXPECT_EQ(QLLog::levelForClassWithName("TestFullClass"), QLLogLevel{8});
    QLLog::setLevel(QLLogLevel{16}, *full);
    EXPECT_EQ(level->load(), 16u);
    QLLog::setLevel(QLLogLevel{16}, *half);  // not registered: nothing
    QLLog::setLevel(QLLogLevel{16}, "NoSuchClass");
    EXPECT_EQ(QLLog::levelForClass(*half), QLLogLevel::all);
}

}  // namespace
}  // namespace tervolo::logging
