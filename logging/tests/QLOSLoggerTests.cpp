#include "LogFileTestSupport.hpp"
#include "logging/QLOSLogger.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "logging/QLLog.hpp"
#include "platform/foundation/Assertion.hpp"
#include "platform/foundation/OSLog.hpp"

namespace tervolo::logging {
namespace {

// Captures system-log entries, debug entries included.
class QLOSLoggerTest : public ::testing::Test {
  protected:
    QLOSLoggerTest() : capture_(platform::OSLogCapture::install()) {
        platform::OSLog::setDebugEnabledForTesting(true);
    }
    ~QLOSLoggerTest() override {
        registry_.removeAllLoggers();
        registry_.flushLog();
        capture_->uninstall();
        platform::OSLog::setDebugEnabledForTesting(std::nullopt);
    }

    QLLog registry_;
    std::shared_ptr<platform::OSLogCapture> capture_;
};

TEST_F(QLOSLoggerTest, EntryTypeFollowsTheFlagValue) {
    struct Case {
        QLLogFlag flag;
        platform::OSLogType type;
    };
    const Case cases[] = {
        {QLLogFlag::error, platform::OSLogType::Error},
        {QLLogFlag::warning, platform::OSLogType::Info},
        {QLLogFlag::info, platform::OSLogType::Info},
        {QLLogFlag::debug, platform::OSLogType::Debug},
        {QLLogFlag::verbose, platform::OSLogType::Debug},
        {QLLogFlag::error | QLLogFlag::warning, platform::OSLogType::Debug},  // equality, not a bit test
    };
    auto logger = std::make_shared<QLOSLogger>();
    registry_.addLogger(logger);
    for (const auto& c : cases)
        registry_.log(false, testing::makeRecord(c.flag, "flag " + std::to_string(rawValue(c.flag))));

    const auto entries = capture_->records();
    ASSERT_EQ(entries.size(), std::size(cases));
    for (size_t i = 0; i < entries.size(); ++i) {
        SCOPED_TRACE(entries[i].text);
        EXPECT_EQ(entries[i].type, cases[i].type);
        EXPECT_EQ(entries[i].text, "flag " + std::to_string(rawValue(cases[i].flag)));  // unchanged
        EXPECT_EQ(entries[i].subsystem, "");                                            // the default log
    }
}

TEST_F(QLOSLoggerTest, DisabledTypesAreNotWrittenAndCaptureRecordsNever) {
    platform::OSLog::setDebugEnabledForTesting(false);
    auto logger = std::make_shared<QLOSLogger>();
    registry_.addLogger(logger);
    registry_.log(false, testing::makeRecord(QLLogFlag::debug, "debug off"));
    registry_.log(false, testing::makeRecord(QLLogFlag::error, "from the system log", "QLASLLogCapture"));
    registry_.log(false,
                  testing::makeRecord(QLLogFlag::info, "%{public}s %n %s"));  // text is data, not a format
    EXPECT_EQ(capture_->texts(), std::vector<std::string>{"%{public}s %n %s"});
}

TEST_F(QLOSLoggerTest, SubsystemAndCategoryBothOrNeither) {
    auto logger = std::make_shared<QLOSLogger>("org.tervolo.test", "registry");
    registry_.addLogger(logger);
    registry_.log(false, testing::makeRecord(QLLogFlag::info, "hello"));
    const auto entries = capture_->records();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].subsystem, "org.tervolo.test");
    EXPECT_EQ(entries[0].category, "registry");
    EXPECT_EQ(logger->logger(), logger->logger());  // made once

    std::vector<std::string> failures;
    platform::ScopedAssertionHandler handler(
        [&](std::string_view, std::string_view file, std::string_view m) {
            failures.push_back(std::string(file) + ": " + std::string(m));
        });
    QLOSLogger half("org.tervolo.test", std::nullopt);
    EXPECT_EQ(failures, std::vector<std::string>{
                            "QLOSLogger: Either both subsystem and category or neither should be nil."});
    EXPECT_EQ(half.logger(), platform::OSLog::defaultLog());
}

TEST_F(QLOSLoggerTest, SharedInstanceIsOneLoggerOnItsNamedQueue) {
    const auto& shared = QLOSLogger::sharedInstance();
    EXPECT_EQ(shared, QLOSLogger::sharedInstance());
    EXPECT_EQ(shared->loggerName(), "quova.logging.osLogger");
    EXPECT_EQ(shared->loggerQueue()->label(), "quova.logging.osLogger");
    EXPECT_EQ(shared->logger(), platform::OSLog::defaultLog());
}

class TestFormatter : public QLLogFormatter {
  public:
    explicit TestFormatter(bool drop) : drop_(drop) {}
    std::optional<std::string> formatLogMessage(const QLLogMessage& m) override {
        if (drop_) return std::nullopt;
        std::string text = "[";
        text.append(m.fileName()).append("] ").append(m.message());
        return text;
    }
    void didAddToLogger(QLLogger&, const std::shared_ptr<platform::DispatchQueue>& queue) override {
        ++added;
        addedOnQueue = platform::DispatchQueue::current() == queue.get();
    }
    void willRemoveFromLogger(QLLogger&) override { ++removed; }

    std::atomic<int> added{0};
    std::atomic<int> removed{0};
    std::atomic<bool> addedOnQueue{false};

  private:
    bool drop_;
};

TEST_F(QLOSLoggerTest, FormatterShapesOrDropsTheTextAndChangesNotifyOnce) {
    auto logger = std::make_shared<QLOSLogger>();
    registry_.addLogger(logger);
    auto formatter = std::make_shared<TestFormatter>(false);
    auto dropper = std::make_shared<TestFormatter>(true);

    // The change is asynchronous; a following read from another thread sees it
    // (both pass through the same two serial queues in order).
    logger->setLogFormatter(formatter);
    logger->setLogFormatter(formatter);  // the same object again: no notification
    EXPECT_EQ(logger->logFormatter(), formatter);
    EXPECT_EQ(formatter->added.load(), 1);
    EXPECT_TRUE(formatter->addedOnQueue.load());
    registry_.log(false, testing::makeRecord(QLLogFlag::info, "shaped"));

    logger->setLogFormatter(dropper);
    EXPECT_EQ(logger->logFormatter(), dropper);
    EXPECT_EQ(formatter->removed.load(), 1);
    registry_.log(false, testing::makeRecord(QLLogFlag::info, "dropped"));

    logger->setLogFormatter(nullptr);
    EXPECT_EQ(logger->logFormatter(), nullptr);
    registry_.log(false, testing::makeRecord(QLLogFlag::info, "plain"));

    EXPECT_EQ(capture_->texts(), (std::vector<std::string>{"[Caller] shaped", "plain"}));
}

TEST_F(QLOSLoggerTest, FormatterAccessFromEitherQueueIsReportedWithoutDeadlock) {
    auto logger = std::make_shared<QLOSLogger>();
    auto formatter = std::make_shared<TestFormatter>(false);
    std::vector<std::string> failures;
    std::mutex mutex;
    platform::ScopedAssertionHandler handler(
        [&](std::string_view, std::string_view file, std::string_view m) {
            std::lock_guard lock(mutex);
            failures.push_back(std::string(file) + ": " + std::string(m));
        });
    QLLog::loggingQueue()->sync([&] {
        logger->setLogFormatter(formatter);
        EXPECT_EQ(logger->logFormatter(), formatter);
    });
    logger->loggerQueue()->sync([&] { EXPECT_EQ(logger->logFormatter(), formatter); });
    std::lock_guard lock(mutex);
    EXPECT_EQ(failures,
              (std::vector<std::string>{"QLLog: Core architecture requirement failure",
                                        "QLLog: Core architecture requirement failure",
                                        "QLLog: MUST access ivar directly, NOT via self.* syntax."}));
}

}  // namespace
}  // namespace tervolo::logging
