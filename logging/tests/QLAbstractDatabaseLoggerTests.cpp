#include "logging/QLAbstractDatabaseLogger.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "logging/QLLog.hpp"
#include "platform/foundation/Assertion.hpp"
#include "testsupport/VirtualClockScope.hpp"

namespace tervolo::logging {
namespace {

constexpr double kStart = 1000.0;  // monotonic seconds when each test begins

// A database logger whose store is a list: it keeps what the base asks it to
// do and when (seconds since the test began). It refuses records whose text
// is "refuse".
class ListDatabaseLogger : public QLAbstractDatabaseLogger {
  public:
    struct Event {
        std::string what;  // "save", "delete" or "saveAndDelete"
        double at;
        size_t records;  // records saved by this event
        bool operator==(const Event&) const = default;
    };

    ListDatabaseLogger() : QLAbstractDatabaseLogger("test.databaseLogger") {}

    std::vector<Event> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    size_t saved() const {
        std::lock_guard lock(mutex_);
        return saved_;
    }
    int offQueueCalls() const {
        std::lock_guard lock(mutex_);
        return offQueueCalls_;
    }

  protected:
    bool db_log(const QLLogMessagePtr& logMessage) override {
        std::lock_guard lock(mutex_);
        check();
        if (logMessage->message() == "refuse") return false;
        ++buffered_;
        return true;
    }
    void db_save() override { add("save"); }
    void db_delete() override { add("delete"); }
    void db_saveAndDelete() override { add("saveAndDelete"); }

  private:
    void add(const char* what) {
        std::lock_guard lock(mutex_);
        check();
        const size_t records = what == std::string("delete") ? 0 : buffered_;
        if (records > 0) {
            saved_ += buffered_;
            buffered_ = 0;
        }
        events_.push_back({what, platform::Clock::current()->monotonicSeconds() - kStart, records});
    }
    void check() {
        if (!isOnInternalLoggerQueue()) ++offQueueCalls_;
    }

    mutable std::mutex mutex_;
    std::vector<Event> events_;
    size_t buffered_ = 0;
    size_t saved_ = 0;
    int offQueueCalls_ = 0;
};

using Event = ListDatabaseLogger::Event;

QLLogMessagePtr databaseRecord(std::string text = "m") {
    return std::make_shared<const QLLogMessage>(std::move(text), QLLogLevel::all, QLLogFlag::info, 0,
                                                "QLAbstractDatabaseLoggerTests.cpp", "record", 1, std::any{},
                                                0, std::nullopt);
}

// A registry of its own with the logger installed, on virtual time.
class DatabaseLoggerTest : public ::testing::Test {
  protected:
    DatabaseLoggerTest() {
        registry_.addLogger(logger_);
        settle();  // didAddLogger has run: the timers exist
    }
    ~DatabaseLoggerTest() override {
        registry_.removeAllLoggers();
        settle();
        EXPECT_EQ(logger_->offQueueCalls(), 0);
    }

    // Until queued settings changes and registry notifications have run.
    void settle() {
        QLLog::loggingQueue()->sync([] {});
        logger_->loggerQueue()->sync([] {});
    }
    void log(int count, const std::string& text = "m") {
        for (int i = 0; i < count; ++i) registry_.log(false, databaseRecord(text));
    }
    std::vector<Event> saves() const {
        std::vector<Event> result;
        for (const auto& e : logger_->events()) {
            if (e.what != "delete") result.push_back(e);
        }
        return result;
    }
    std::vector<double> deleteTimes() const {
        std::vector<double> result;
        for (const auto& e : logger_->events()) {
            if (e.what == "delete") result.push_back(e.at);
        }
        return result;
    }

    tervolo::testsupport::VirtualClockScope time_{1700000000.0, kStart};
    QLLog registry_;
    std::shared_ptr<ListDatabaseLogger> logger_ = std::make_shared<ListDatabaseLogger>();
};

TEST_F(DatabaseLoggerTest, SavesAtTheThresholdAndOnTheTimerAfterTheFirstUnsavedRecord) {
    log(499);
    EXPECT_TRUE(saves().empty());
    log(1);  // the 500th
    EXPECT_EQ(saves(), (std::vector<Event>{{"save", 0, 500}}));
    time_.advance(120);  // nothing unsaved: the timer stays quiet
    EXPECT_EQ(saves().size(), 1u);

    log(3);  // first unsaved at 120
    time_.advance(30);
    log(2);
    time_.advance(29.5);
    EXPECT_EQ(saves().size(), 1u);
    time_.advance(0.5);  // 60 s after the first of them
    EXPECT_EQ(saves().back(), (Event{"save", 180, 5}));

    time_.advance(300);  // suspended while all is saved
    EXPECT_EQ(saves().size(), 2u);
    log(1);  // at 480
    time_.advance(60);
    EXPECT_EQ(saves().back(), (Event{"save", 540, 1}));
    EXPECT_EQ(logger_->saved(), 506u);
}

TEST_F(DatabaseLoggerTest, WithoutThresholdOnlyTimerFlushAndRemovalSave) {
    logger_->setSaveThreshold(0);
    logger_->setSaveInterval(0);  // no save timer either
    log(600);
    time_.advance(1000);
    EXPECT_TRUE(saves().empty());

    registry_.flushLog();
    EXPECT_EQ(saves(), (std::vector<Event>{{"save", 1000, 600}}));

    log(7);
    registry_.removeLogger(logger_);
    settle();
    // Removal saved what was pending, then the timers went.
    EXPECT_EQ(saves().back(), (Event{"save", 1000, 7}));
    const size_t events = logger_->events().size();
    time_.advance(10 * 604800.0);
    EXPECT_EQ(logger_->events().size(), events);
}

TEST_F(DatabaseLoggerTest, ThresholdChangesAndRefusedRecords) {
    log(10);
    logger_->setSaveThreshold(20);  // above the count: nothing
    settle();
    EXPECT_TRUE(saves().empty());
    logger_->setSaveThreshold(10);  // reached: saves at once
    settle();
    EXPECT_EQ(saves(), (std::vector<Event>{{"save", 0, 10}}));

    logger_->setSaveThreshold(2);
    log(5, "refuse");  // refused records change no counter
    EXPECT_EQ(saves().size(), 1u);
    log(1);
    EXPECT_EQ(saves().size(), 1u);
    log(1);
    EXPECT_EQ(saves().back(), (Event{"save", 0, 2}));
    EXPECT_EQ(logger_->saveThreshold(), 2u);
}

TEST_F(DatabaseLoggerTest, ShorterSaveIntervalFiresAtOnceWhenAlreadyPassed) {
    log(1);
    time_.advance(20);
    logger_->setSaveInterval(10);  // 20 s have passed since the first unsaved record
    settle();
    time_.advance(0);
    EXPECT_EQ(saves(), (std::vector<Event>{{"save", 20, 1}}));
    log(1);
    time_.advance(10);
    EXPECT_EQ(saves().back(), (Event{"save", 30, 1}));
}

TEST_F(DatabaseLoggerTest, DeleteOnEverySaveUsesTheCombinedOperation) {
    logger_->setDeleteOnEverySave(true);
    logger_->setSaveThreshold(3);
    log(3);
    EXPECT_EQ(saves(), (std::vector<Event>{{"saveAndDelete", 0, 3}}));
    EXPECT_TRUE(logger_->deleteOnEverySave());
}

TEST_F(DatabaseLoggerTest, DeletesEveryIntervalAndOnALowerMaxAge) {
    time_.advance(600);
    EXPECT_EQ(deleteTimes(), (std::vector<double>{300, 600}));

    logger_->setMaxAge(2 * 604800.0);  // larger: no deletion now
    settle();
    EXPECT_EQ(deleteTimes().size(), 2u);

    time_.advance(100);
    logger_->setMaxAge(3600);  // smaller: at once, then every interval from then on
    settle();
    EXPECT_EQ(deleteTimes().back(), 700);
    time_.advance(299);
    EXPECT_EQ(deleteTimes().size(), 3u);
    time_.advance(1);
    EXPECT_EQ(deleteTimes().back(), 1000);

    logger_->setMaxAge(0);  // never delete: the timer goes
    settle();
    time_.advance(3000);
    EXPECT_EQ(deleteTimes().size(), 4u);

    logger_->setMaxAge(60);  // from none to some: at once, and the timer is back
    settle();
    EXPECT_EQ(deleteTimes().back(), 4000);
    logger_->setDeleteInterval(0);  // no timer, deletion only on request
    settle();
    time_.advance(1000);
    EXPECT_EQ(deleteTimes().size(), 5u);
    logger_->deleteOldLogEntries();
    settle();
    EXPECT_EQ(deleteTimes().back(), 5000);
    logger_->setDeleteInterval(50);  // first 50 s after the last deletion
    settle();
    time_.advance(50);
    EXPECT_EQ(deleteTimes().back(), 5050);
}

TEST_F(DatabaseLoggerTest, SettingsReadFromTheLoggerQueueAreReported) {
    std::vector<std::string> failures;
    platform::ScopedAssertionHandler handler(
        [&](std::string_view, std::string_view file, std::string_view message) {
            failures.push_back(std::string(file) + ": " + std::string(message));
        });
    double interval = 0;
    logger_->loggerQueue()->sync([&] { interval = logger_->saveInterval(); });
    EXPECT_EQ(interval, 60);
    uint64_t threshold = 0;
    QLLog::loggingQueue()->sync([&] { threshold = logger_->saveThreshold(); });
    EXPECT_EQ(threshold, 500u);
    EXPECT_EQ(failures, (std::vector<std::string>{
                            "QLAbstractDatabaseLogger: MUST access ivar directly, NOT via self.* syntax.",
                            "QLAbstractDatabaseLogger: Core architecture requirement failure"}));
    EXPECT_EQ(logger_->maxAge(), 604800);
    EXPECT_EQ(logger_->deleteInterval(), 300);
}

TEST_F(DatabaseLoggerTest, SettingsFromManyThreadsWhileRecordsArriveLoseNoRecord) {
    constexpr int kRecords = 2000;
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        while (!go.load()) std::this_thread::yield();
        for (int i = 0; i < kRecords; ++i) registry_.log(i % 2 == 0, databaseRecord());
    });
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            while (!go.load()) std::this_thread::yield();
            for (int i = 0; i < 200; ++i) {
                logger_->setSaveThreshold(static_cast<uint64_t>(1 + (i + t) % 7));
                logger_->setSaveInterval(i % 3 == 0 ? 0.0 : 30.0);
                logger_->setMaxAge(i % 2 == 0 ? 3600.0 : 60.0);
                logger_->setDeleteOnEverySave(i % 2 == 0);
                logger_->savePendingLogEntries();
                (void)logger_->saveThreshold();
            }
        });
    }
    go.store(true);
    for (auto& thread : threads) thread.join();
    registry_.flushLog();
    EXPECT_EQ(logger_->saved(), static_cast<size_t>(kRecords));
}

TEST(DatabaseLoggerLifetimeTest, ReleasedLoggerStopsItsTimers) {
    tervolo::testsupport::VirtualClockScope time(1700000000.0, kStart);
    QLLog registry;
    auto logger = std::make_shared<ListDatabaseLogger>();
    std::weak_ptr<ListDatabaseLogger> weak = logger;
    registry.addLogger(logger);
    registry.log(false, databaseRecord());
    registry.removeLogger(logger);
    registry.allLoggers();
    logger->loggerQueue()->sync([] {});
    EXPECT_EQ(logger->saved(), 1u);
    logger.reset();
    EXPECT_TRUE(weak.expired());  // the timers did not keep it alive
    time.advance(10 * 604800.0);  // and nothing fires for it any more
    EXPECT_EQ(time.clock().pendingCount(), 0u);
}

}  // namespace
}  // namespace tervolo::logging
