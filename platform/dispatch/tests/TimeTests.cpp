#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/Date.hpp"
#include "platform/dispatch/DateFormat.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/DispatchSemaphore.hpp"
#include "platform/dispatch/DispatchSourceTimer.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/dispatch/Timer.hpp"
#include "platform/dispatch/VirtualClock.hpp"

using platform::Clock;
using platform::Date;
using platform::DispatchQueue;
using platform::DispatchSourceTimer;
using platform::VirtualClock;

namespace {

class VirtualTime : public ::testing::Test {
  protected:
    void SetUp() override { Clock::install(clock); }
    void TearDown() override {
        Clock::install(nullptr);
        platform::RunLoop::runUntilIdle();
    }
    std::shared_ptr<VirtualClock> clock = std::make_shared<VirtualClock>(1700000000.0, 1000.0);
};

// Event log shared by blocks on several queues.
struct Log {
    std::mutex mutex;
    std::vector<std::string> events;
    void add(std::string e) {
        std::lock_guard lock(mutex);
        events.push_back(std::move(e));
    }
    std::vector<std::string> take() {
        std::lock_guard lock(mutex);
        return std::exchange(events, {});
    }
};

}  // namespace

TEST_F(VirtualTime, AsyncAfterRunsInDueOrderWithTiesInSchedulingOrder) {
    auto serial = DispatchQueue::serial("test.after");
    auto concurrent = DispatchQueue::concurrent("test.after-c");
    auto main = DispatchQueue::main();
    Log log;
    serial->asyncAfter(3.0, [&] { log.add("serial 3"); });
    main->asyncAfter(1.0, [&] { log.add("main 1"); });
    serial->asyncAfter(1.0, [&] { log.add("serial 1"); });
    concurrent->asyncAfter(2.0, [&] { log.add("concurrent 2"); });
    main->asyncAfter(-5.0, [&] { log.add("main now"); });  // a past deadline is due at once
    serial->asyncAfter(1.0, [&] {
        log.add("serial 1b");
        serial->asyncAfter(0.5, [&] { log.add("serial 1.5 (scheduled at 1)"); });
    });
    EXPECT_EQ(clock->pendingCount(), 6u);

    clock->advance(0.5);
    EXPECT_EQ(log.take(), (std::vector<std::string>{"main now"}));
    clock->advance(0.25);
    EXPECT_TRUE(log.take().empty());
    clock->advance(2.25);
    EXPECT_EQ(log.take(),
              (std::vector<std::string>{"main 1", "serial 1", "serial 1b", "serial 1.5 (scheduled at 1)",
                                        "concurrent 2", "serial 3"}));
    EXPECT_EQ(clock->pendingCount(), 0u);
    EXPECT_DOUBLE_EQ(clock->monotonicSeconds(), 1003.0);
    EXPECT_DOUBLE_EQ(clock->wallSeconds(), 1700000003.0);
}

TEST_F(VirtualTime, HandlersSeeTheClockAtTheirDueTime) {
    auto queue = DispatchQueue::serial("test.due");
    std::vector<double> seen;
    for (double d : {2.5, 0.25, 1.0})
        queue->asyncAfter(d, [&] { seen.push_back(Clock::current()->monotonicSeconds()); });
    clock->advance(10);
    EXPECT_EQ(seen, (std::vector<double>{1000.25, 1001.0, 1002.5}));
    EXPECT_DOUBLE_EQ(Date::now().unixTime(), 1700000010.0);
}

// The timer in each of its states, on a serial queue: advance() returns after due handlers ran.
TEST_F(VirtualTime, DispatchSourceTimerInEveryState) {
    auto queue = DispatchQueue::serial("test.timer");
    int fired = 0;
    auto make = [&](double start, std::optional<double> interval) {
        auto t = DispatchSourceTimer::make(queue);
        t->setEventHandler([&] { ++fired; });
        t->schedule(start, interval, 0.1);
        return t;
    };
    auto count = [&] {
        queue->sync([] {});  // merged fires delivered by resume() are plain async blocks
        return std::exchange(fired, 0);
    };

    {  // created inactive: nothing fires until activated
        auto t = make(1.0, 1.0);
        clock->advance(5);
        EXPECT_EQ(count(), 0);
        t->activate();
        clock->advance(0.75);
        EXPECT_EQ(count(), 0);
        clock->advance(0.25);
        EXPECT_EQ(count(), 1);
        clock->advance(3.5);
        EXPECT_EQ(count(), 3);  // 2, 3, 4 s after activation
        t->cancel();
        clock->advance(5);
        EXPECT_EQ(count(), 0);
        EXPECT_TRUE(t->isCancelled());
    }
    {  // one-shot fires once
        auto t = make(2.0, std::nullopt);
        t->activate();
        t->activate();  // a second activate changes nothing
        clock->advance(10);
        EXPECT_EQ(count(), 1);
        clock->advance(10);
        EXPECT_EQ(count(), 0);
    }
    {  // counted suspend; fires while suspended are merged into one on the last resume
        auto t = make(1.0, 1.0);
        t->activate();
        t->suspend();
        t->suspend();
        clock->advance(3);
        EXPECT_EQ(count(), 0);
        t->resume();
        EXPECT_EQ(count(), 0);
        t->resume();
        EXPECT_EQ(count(), 1);
        t->resume();  // beyond the suspensions: ignored
        clock->advance(1);
        EXPECT_EQ(count(), 1);
    }
    {  // resume() of an inactive timer activates it
        auto t = make(0.5, std::nullopt);
        t->resume();
        clock->advance(0.5);
        EXPECT_EQ(count(), 1);
    }
    {  // cancel is safe inactive, suspended, twice, and after the last owner is gone
        auto inactive = make(1.0, 1.0);
        inactive->cancel();
        inactive->activate();
        auto suspended = make(1.0, 1.0);
        suspended->activate();
        suspended->suspend();
        suspended->cancel();
        suspended->cancel();
        suspended->resume();
        auto dropped = make(1.0, 1.0);
        dropped->activate();
        dropped.reset();
        clock->advance(5);
        EXPECT_EQ(count(), 0);
    }
    {  // scheduling again replaces the earlier schedule
        auto t = make(1.0, std::nullopt);
        t->activate();
        clock->advance(0.5);
        t->schedule(2.0, 0.5);
        clock->advance(1.0);  // the old deadline passes without a fire
        EXPECT_EQ(count(), 0);
        clock->advance(2.0);  // 2.0, 2.5, 3.0 after the new schedule
        EXPECT_EQ(count(), 3);
    }
    {  // a zero repeating interval is raised to 0.1 ms instead of firing endlessly at one instant
        auto t = make(0, 0.0);
        t->activate();
        clock->advance(0.001);
        const int n = count();
        EXPECT_GE(n, 10);
        EXPECT_LE(n, 11);
        t->cancel();
    }
    {  // cancel from inside the handler stops a repeating timer
        auto t = DispatchSourceTimer::make(queue);
        t->setEventHandler([&] {
            ++fired;
            t->cancel();
        });
        t->schedule(0, 0.1);
        t->activate();
        clock->advance(1);
        EXPECT_EQ(count(), 1);
        t->setEventHandler(nullptr);
    }
}

TEST_F(VirtualTime, MainQueueTimerRunsDuringAdvanceOnTheMainThread) {
    int fired = 0;
    auto t = DispatchSourceTimer::make(DispatchQueue::main());
    t->setEventHandler([&] {
        EXPECT_TRUE(platform::isMainThread());
        ++fired;
    });
    t->schedule(1, 1);
    t->activate();
    clock->advance(3);
    EXPECT_EQ(fired, 3);
}

TEST_F(VirtualTime, RunLoopTimerRepeatsWithUserInfoUntilInvalidated) {
    std::vector<std::string> seen;
    std::weak_ptr<platform::Timer> weakRepeating;
    {
        auto repeating = platform::Timer::scheduled(
            1.0, true,
            [&](platform::Timer& timer) {
                seen.push_back(std::any_cast<std::string>(timer.userInfo()));
                if (seen.size() == 3) timer.invalidate();
            },
            std::string("config"));
        weakRepeating = repeating;
        EXPECT_TRUE(repeating->isValid());
        EXPECT_TRUE(repeating->repeats());
    }  // the run loop keeps a scheduled timer alive
    int once = 0;
    auto oneShot = platform::Timer::scheduled(0.7, false, [&](platform::Timer&) { ++once; });

    clock->advance(0.7);
    EXPECT_EQ(once, 1);
    EXPECT_FALSE(oneShot->isValid());
    clock->advance(10);
    EXPECT_EQ(once, 1);
    EXPECT_EQ(seen, (std::vector<std::string>{"config", "config", "config"}));
    EXPECT_TRUE(weakRepeating.expired());  // released by the run loop once invalidated

    auto stopped = platform::Timer::scheduled(1.0, true, [&](platform::Timer&) { ++once; });
    stopped->invalidate();
    stopped->invalidate();
    clock->advance(5);
    EXPECT_EQ(once, 1);
}

TEST(Clock, SystemClockByDefaultAndInstallRestores) {
    auto system = Clock::current();
    EXPECT_EQ(system, Clock::system());
    const double wall = Clock::current()->wallSeconds();
    EXPECT_GT(wall, 1.6e9);
    auto v = std::make_shared<VirtualClock>(1000.0, 5.0);
    Clock::install(v);
    EXPECT_DOUBLE_EQ(Date::now().unixTime(), 1000.0);
    v->advance(-1);  // backwards is ignored
    v->setWallSeconds(2000.0);
    EXPECT_DOUBLE_EQ(Clock::current()->wallSeconds(), 2000.0);
    EXPECT_DOUBLE_EQ(Clock::current()->monotonicSeconds(), 5.0);
    Clock::install(nullptr);
    EXPECT_EQ(Clock::current(), system);
}

TEST(Date, UnixConversionIntervalsAndOrder) {
    const Date d = Date::fromUnix(978307200.0);
    EXPECT_EQ(d.secondsSince2001, 0.0);
    EXPECT_EQ(Date{86400.5}.unixTime(), 978393600.5);
    const Date later = d.addingTimeInterval(90.25);
    EXPECT_DOUBLE_EQ(later.timeIntervalSince(d), 90.25);
    EXPECT_DOUBLE_EQ(d.timeIntervalSince(later), -90.25);
    EXPECT_LT(d, later);
    EXPECT_EQ(later, Date{90.25});
}

namespace {

// Sets TZ for one test and puts the old value back.
class TimeZone {
  public:
    explicit TimeZone(const char* tz) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~TimeZone() {
        if (old_) {
            setenv("TZ", old_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

  private:
    std::optional<std::string> old_;
};

}  // namespace

TEST(DateFormat, FixedFormsInGMTAndLocalTime) {
    TimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
    namespace df = platform::dateformat;
    struct Row {
        double unix;
        const char *fileName, *slashed, *localDashed, *iso;
    };
    const Row rows[] = {
        // 2024-05-01 11:45:07.123 UTC, summer time locally (+0200)
        {1714563907.123, "2024-05-01--11-45-07-123", "2024/05/01 11:45:07:123", "2024-05-01 13:45:07:123",
         "2024-05-01T13:45:07+0200"},
        // 2024-01-31 13:45:07.9999: milliseconds are truncated, never rounded into the next second
        {1706708707.9999, "2024-01-31--13-45-07-999", "2024/01/31 13:45:07:999", "2024-01-31 14:45:07:999",
         "2024-01-31T14:45:07+0100"},
        // the reference date itself, and a time before 1970
        {978307200.0, "2001-01-01--00-00-00-000", "2001/01/01 00:00:00:000", "2001-01-01 01:00:00:000",
         "2001-01-01T01:00:00+0100"},
        {-0.5, "1969-12-31--23-59-59-500", "1969/12/31 23:59:59:500", "1970-01-01 00:59:59:500",
         "1970-01-01T00:59:59+0100"},
    };
    for (const auto& row : rows) {
        const Date date = Date::fromUnix(row.unix);
        EXPECT_EQ(df::gmtFileName(date), row.fileName);
        EXPECT_EQ(df::gmtSlashed(date), row.slashed);
        EXPECT_EQ(df::localDashed(date), row.localDashed);
        EXPECT_EQ(df::localPrintf(date), row.localDashed);
        EXPECT_EQ(df::localISO8601(date), row.iso);
    }
}

TEST(DateFormat, FileNameDateParsesStrictlyAndRoundTrips) {
    namespace df = platform::dateformat;
    struct Row {
        const char* text;
        std::optional<double> unix;
    };
    const Row rows[] = {
        {"2024-05-01--11-45-07-123", 1714563907.123},
        {"2024-02-29--00-00-00-000", 1709164800.0},  // leap day
        {"2000-02-29--23-59-59-999", 951868799.999},
        {"1969-12-31--23-59-59-500", -0.5},
        {"2023-02-29--00-00-00-000", std::nullopt},  // not a leap year
        {"2024-13-01--00-00-00-000", std::nullopt},
        {"2024-04-31--00-00-00-000", std::nullopt},
        {"2024-00-10--00-00-00-000", std::nullopt},
        {"2024-05-01--24-00-00-000", std::nullopt},
        {"2024-05-01--23-60-00-000", std::nullopt},
        {"2024-05-01--23-00-60-000", std::nullopt},
        {"2024-05-01 11:45:07:123", std::nullopt},
        {"2024-05-01--11-45-07-12", std::nullopt},
        {"2024-05-01--11-45-07-1234", std::nullopt},
        {"2024-05-01--11-45-07-12a", std::nullopt},
        {"+024-05-01--11-45-07-123", std::nullopt},
        {"2024-05-01--11-45-07-123 ", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& row : rows) {
        const auto parsed = df::parseGMTFileName(row.text);
        ASSERT_EQ(parsed.has_value(), row.unix.has_value()) << row.text;
        if (parsed) {
            EXPECT_NEAR(parsed->unixTime(), *row.unix, 1e-6) << row.text;
            EXPECT_EQ(df::gmtFileName(*parsed), row.text);
        }
    }
}

// Real-time timers created, suspended, resumed and cancelled from several threads at once (for the
// thread sanitizer): each waits for its own handler's fires, never for a duration.
TEST(DispatchSourceTimerStress, RealTimeTimersFromManyThreads) {
    struct Done {
        std::shared_ptr<std::atomic<int>> fired;
        int atCancel;
    };
    std::mutex doneMutex;
    std::vector<Done> serialDone;  // fires counted once a serial queue has passed its cancel
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            const bool serial = t % 2 == 0;
            auto queue = serial ? DispatchQueue::serial("test.stress") : DispatchQueue::global();
            for (int round = 0; round < 5; ++round) {
                auto timer = DispatchSourceTimer::make(queue);
                auto fired = std::make_shared<std::atomic<int>>(0);
                auto threeFires = std::make_shared<platform::DispatchSemaphore>(0);
                timer->setEventHandler([fired, threeFires] {
                    if (fired->fetch_add(1) + 1 == 3) threeFires->signal();
                });
                timer->schedule(0, 0.0005);
                timer->activate();
                timer->suspend();
                timer->resume();
                threeFires->wait();
                timer->cancel();
                if (serial) {
                    queue->sync([] {});  // a handler queued or running before the cancel has passed
                    std::lock_guard lock(doneMutex);
                    serialDone.push_back({fired, fired->load()});
                }
            }
        });
    }
    for (auto& t : threads) t.join();
    // No handler started after its timer's cancel() returned.
    for (const auto& done : serialDone) EXPECT_EQ(done.fired->load(), done.atCancel);
}

// The real-time scheduler sleeps until its earliest item: an item due sooner than every waiting
// one wakes it, and items arriving in any order run by due time. Items due later than the earliest
// leave it asleep; an hour-long item in front would hold the short ones back past the wait here.
TEST(DispatchScheduler, RealTimeItemsRunByDueTimeWhateverTheirOrderOfArrival) {
    auto queue = DispatchQueue::serial("test.scheduler");
    std::mutex mutex;
    std::vector<int> ran;
    auto record = [&](int which) {
        std::lock_guard lock(mutex);
        ran.push_back(which);
    };
    auto far = std::make_shared<std::atomic<bool>>(false);
    queue->asyncAfter(3600, [far] { far->store(true); });
    platform::DispatchSemaphore done(0);
    // Later ones first, then one due before all of them, then one between.
    queue->asyncAfter(0.06, [&] {
        record(3);
        done.signal();
    });
    queue->asyncAfter(0.04, [&] { record(2); });
    queue->asyncAfter(0.001, [&] { record(0); });
    queue->asyncAfter(0.02, [&] { record(1); });
    ASSERT_TRUE(done.wait(30.0)) << "the scheduler slept past its earliest items";
    queue->sync([] {});
    std::lock_guard lock(mutex);
    EXPECT_EQ(ran, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_FALSE(far->load());
}
