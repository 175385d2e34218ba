#include "logging/QLLogging.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/dispatch/DispatchSemaphore.hpp"
#include "platform/foundation/ProcessInfo.hpp"
#include "testsupport/logging/LogRecorder.hpp"

struct TestPoint {
    double latitude;
    double longitude;
};

template <>
struct fmt::formatter<TestPoint> : fmt::formatter<std::string_view> {
    auto format(const TestPoint& p, fmt::format_context& ctx) const {
        return fmt::format_to(ctx.out(), "({}, {})", p.latitude, p.longitude);
    }
};

namespace tervolo::logging {
namespace {

using RecordingLogger = tervolo::testsupport::LogRecorder;

// The macros log to the shared registry: install a recording logger there for
// the test and take it away afterwards.
class QLLoggingTest : public ::testing::Test {
  protected:
    QLLoggingTest() : logger_(std::make_shared<RecordingLogger>()) {
        QLLog::sharedInstance().addLogger(logger_);
    }
    ~QLLoggingTest() override {
        QLLog::sharedInstance().removeLogger(logger_);
        QLLog::sharedInstance().flushLog();
        resetDynamicLogLevel();
        setAsyncLoggingEnabled(true);
    }
    std::vector<std::string> delivered() {
        QLLog::sharedInstance().flushLog();
        return logger_->messages();
    }

    std::shared_ptr<RecordingLogger> logger_;
};

int evaluations = 0;
int counted(int value) {
    ++evaluations;
    return value;
}

TEST_F(QLLoggingTest, FilteredCallsBuildNothingAndEnabledOnesLog) {
    struct Case {
        const char* name;
        QLLogLevel dynamicLevel;
        std::vector<std::string> logged;
    };
    const Case cases[] = {
        {"all", QLLogLevel::all, {"error 1", "warn 2", "info 3", "debug 4", "verbose 5"}},
        {"error only", QLLogLevel{1}, {"error 1"}},
        {"info and debug", QLLogLevel{4 | 8}, {"info 3", "debug 4"}},
        {"zero", QLLogLevel::off, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setDynamicLogLevel(c.dynamicLevel);
        evaluations = 0;
        const size_t before = delivered().size();
        QLLogError("error {}", counted(1));
        QLLogWarn("warn {}", counted(2));
        QLLogInfo("info {}", counted(3));
        QLLogDebug("debug {}", counted(4));
        QLLogVerbose("verbose {}", counted(5));
        // The arguments of a filtered call are never evaluated.
        EXPECT_EQ(evaluations, static_cast<int>(c.logged.size()));
        const auto all = delivered();
        EXPECT_EQ(std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(before), all.end()),
                  c.logged);
    }
}

TEST_F(QLLoggingTest, OlderNamesShareTheDynamicLevel) {
    setDefaultDebugLevel(QLLogLevel{2});
    EXPECT_EQ(dynamicLogLevel(), QLLogLevel{2});
    resetDefaultDebugLevel();
    EXPECT_EQ(dynamicLogLevel(), QLLogLevel::all);
    EXPECT_EQ(defaultDebugLevel(), QLLogLevel::all);
}

TEST_F(QLLoggingTest, CoreTestsTheStaticLevelThenTheDynamicOneBeforeMakingTheMessage) {
    struct Case {
        QLLogLevel level;
        QLLogLevel dynamicLevel;
        QLLogFlag flag;
        bool logged;
    };
    const Case cases[] = {
        {QLLogLevel::all, QLLogLevel::all, QLLogFlag::info, true},
        {QLLogLevel{2}, QLLogLevel::all, QLLogFlag::info, false},  // static level warning, flag info
        {QLLogLevel::all, QLLogLevel{1}, QLLogFlag::info, false},
        {QLLogLevel{4}, QLLogLevel{4}, QLLogFlag::info, true},
        {QLLogLevel::all, QLLogLevel::all, QLLogFlag{0}, false},
    };
    QLLog registry;
    auto logger = std::make_shared<RecordingLogger>();
    registry.addLogger(logger);
    int made = 0;
    for (const auto& c : cases) {
        setDynamicLogLevel(c.dynamicLevel);
        const size_t before = logger->count();
        const int madeBefore = made;
        logMessageCore([&] { return ++made; }, c.level, c.flag, 42, "/p/Core.cpp", "fn", 3, std::string("t"),
                       false, registry);
        EXPECT_EQ(logger->count() - before, c.logged ? 1u : 0u);
        EXPECT_EQ(made - madeBefore, c.logged ? 1 : 0);
    }
    resetDynamicLogLevel();
    const auto records = logger->records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0]->message(), "1");  // a non-text value by its description
    EXPECT_EQ(records[0]->context(), 42);
    EXPECT_EQ(records[0]->level(), QLLogLevel::all);
    EXPECT_EQ(std::any_cast<std::string>(records[0]->tag()), "t");
    EXPECT_EQ(records[1]->level(), QLLogLevel{4});
    registry.removeAllLoggers();
}

TEST_F(QLLoggingTest, RecordsCarryTheCallersSourcePositionThreadAndQueue) {
    int line = 0;
    int64_t thread = 0;
    auto queue = platform::DispatchQueue::serial("test.caller", platform::QoS::UserInitiated);
    queue->sync([&] {
        thread = platform::ProcessInfo::currentThreadID();
        line = __LINE__ + 1;
        QLLogInfo("QuovaMapPointStore: loaded {} points.", 12);
    });
    QLLog::sharedInstance().flushLog();
    const auto records = logger_->records();
    ASSERT_EQ(records.size(), 1u);
    const auto& r = *records[0];
    EXPECT_EQ(r.message(), "QuovaMapPointStore: loaded 12 points.");
    EXPECT_EQ(r.flag(), QLLogFlag::info);
    EXPECT_EQ(r.level(), QLLogLevel::all);
    EXPECT_EQ(r.context(), 0);
    EXPECT_EQ(r.options(), 3);
    EXPECT_EQ(r.file(), __FILE__);
    EXPECT_EQ(r.fileName(), "QLLoggingTests");
    EXPECT_EQ(r.function(), "operator()");  // __func__ of the lambda it was written in
    EXPECT_EQ(r.line(), static_cast<uint64_t>(line));
    EXPECT_EQ(r.threadID(), std::to_string(thread));
    EXPECT_EQ(r.queueLabel(), "test.caller");
    EXPECT_EQ(r.qos(), platform::QoS::UserInitiated);
    EXPECT_FALSE(r.tag().has_value());
}

TEST_F(QLLoggingTest, MessageValuesAndTextsAreWrittenAsTheyAre) {
    const std::string withBraces = "title {not a format} 100%";
    QLLogInfo(withBraces);
    QLLogInfo("literal {}");
    QLLogDebug(42);
    QLLogDebug(TestPoint{48.5, 11.25});
    QLLogDebug("{} and {}", TestPoint{1, 2}, std::string("text"));
    EXPECT_EQ(delivered(), (std::vector<std::string>{"title {not a format} 100%", "literal {}", "42",
                                                     "(48.5, 11.25)", "(1, 2) and text"}));
}

TEST_F(QLLoggingTest, ErrorsAreSynchronousAndOtherLevelsFollowTheSwitch) {
    // Hold the logging queue: an asynchronous call returns at once, a
    // synchronous one would wait, so only asynchronous calls are made here
    // while it is held.
    platform::DispatchSemaphore release(0);
    QLLog::loggingQueue()->async([&] { release.wait(); });
    QLLogInfo("queued");
    QLLogWarn("queued too");
    EXPECT_EQ(logger_->count(), 0u);
    release.signal();

    // An error has been delivered when the call returns.
    QLLogError("error");
    EXPECT_EQ(logger_->messages(), (std::vector<std::string>{"queued", "queued too", "error"}));

    setAsyncLoggingEnabled(false);
    QLLogInfo("synchronous info");
    EXPECT_EQ(logger_->count(), 4u);
}

TEST_F(QLLoggingTest, AssertLogsAnErrorOnlyWhenTheConditionFailsAndReturns) {
    evaluations = 0;
    QLAssert(1 + 1 == 2, "never {}", counted(1));
    EXPECT_EQ(evaluations, 0);
    QLAssert(1 + 1 == 3, "arithmetic failed: {}", counted(2));
    QLAssertionFailure("unreachable state");
    EXPECT_EQ(evaluations, 1);
    // Synchronous like errors: delivered already.
    const auto records = logger_->records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0]->message(), "arithmetic failed: 2");
    EXPECT_EQ(records[0]->flag(), QLLogFlag::error);
    EXPECT_EQ(records[1]->message(), "unreachable state");

    // With the dynamic level at zero even failed assertions log nothing.
    setDynamicLogLevel(QLLogLevel::off);
    QLAssert(false, "silent {}", counted(3));
    QLAssertionFailure("silent");
    EXPECT_EQ(evaluations, 1);
    EXPECT_EQ(logger_->count(), 2u);
}

}  // namespace
}  // namespace tervolo::logging
