#include "LogFileTestSupport.hpp"
#include "logging/QLASLLogCapture.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "logging/ASLStore.hpp"
#include "logging/QLASLLogger.hpp"
#include "logging/QLLog.hpp"
#include "platform/foundation/ProcessInfo.hpp"
#include "testsupport/VirtualClockScope.hpp"
#include "testsupport/logging/LogRecorder.hpp"

namespace tervolo::logging {
namespace {

using RecordingLogger = tervolo::testsupport::LogRecorder;

constexpr double kWallStart = 1700000000.0;

ASLMessage entry(std::map<std::string, std::string> values) {
    return ASLMessage{std::move(values)};
}

// Every entry the store holds, in store order.
std::vector<ASLMessage> storedEntries() {
    return ASLStore::shared().search(ASLQuery{});
}

// Uppercases every record and drops the ones whose text is "drop".
class UppercaseFormatter : public QLLogFormatter {
  public:
    std::optional<std::string> formatLogMessage(const QLLogMessage& message) override {
        if (message.message() == "drop") return std::nullopt;
        std::string text = message.message();
        std::transform(text.begin(), text.end(), text.begin(),
                       [](unsigned char c) { return std::toupper(c); });
        return text;
    }
};

// The shared store emptied, time frozen on a virtual clock, and a recording
// logger on the shared registry, which the capture feeds.
class ASLTest : public ::testing::Test {
  protected:
    ASLTest() {
        ASLStore::shared().removeAllMessagesForTesting();
        QLLog::sharedInstance().addLogger(recorder_);
        QLLog::sharedInstance().allLoggers();  // installed
    }
    ~ASLTest() override {
        QLASLLogCapture::stop();
        QLASLLogCapture::setCaptureLevel(QLLogLevel{31});
        settle();
        QLLog::sharedInstance().removeAllLoggers();
        QLLog::sharedInstance().flushLog();
        ASLStore::shared().setFailingKeyForTesting(std::nullopt);
        ASLStore::shared().removeAllMessagesForTesting();
    }

    // An entry written by some other program through the platform's logging.
    static void sendForeign(std::map<std::string, std::string> values) {
        static const auto client = ASLStore::shared().open("com.example.other");
        ASLStore::shared().send(client, entry(std::move(values)));
    }

    // Until every notification has been handled and every record delivered
    // (records the capture delivers can make the ASL logger write and post again).
    static void settle() {
        for (int round = 0; round < 3; ++round) {
            ASLStore::shared().waitForNotifications();
            QLLog::sharedInstance().flushLog();
        }
    }

    static void startCapture() {
        QLASLLogCapture::start();
        ASSERT_TRUE(ASLStore::shared().waitForRegistrationCount(ASLStore::kMessageNotification, 1, 30.0));
    }

    std::vector<std::string> capturedTexts() const {
        std::vector<std::string> texts;
        for (const auto& r : recorder_->records()) {
            if (r->fileName() == "QLASLLogCapture") texts.push_back(r->message());
        }
        return texts;
    }

    tervolo::testsupport::VirtualClockScope time_{kWallStart};
    std::shared_ptr<RecordingLogger> recorder_ = std::make_shared<RecordingLogger>();
};

TEST_F(ASLTest, LoggerWritesEachFlagAtItsLevelWithItsMarks) {
    struct Case {
        QLLogFlag flag;
        std::string level;
    };
    const Case cases[] = {
        {QLLogFlag::error, "2"},
        {QLLogFlag::warning, "3"},
        {QLLogFlag::error | QLLogFlag::warning, "5"},  // equality, not a bit test
        {QLLogFlag::info, "4"},
        {QLLogFlag::debug, "5"},
        {QLLogFlag::verbose, "5"},
        {QLLogFlag{32}, "5"},
    };
    QLLog registry;
    const auto& logger = QLASLLogger::sharedInstance();
    ASSERT_EQ(logger->loggerName(), "quova.logging.aslLogger");
    registry.addLogger(logger);
    for (const auto& c : cases)
        registry.log(false, testing::makeRecord(c.flag, "flag " + std::to_string(rawValue(c.flag))));
    registry.log(false, testing::makeRecord(QLLogFlag::error, "captured earlier",
                                            "QLASLLogCapture"));  // never written back
    registry.removeLogger(logger);
    registry.flushLog();

    const auto entries = storedEntries();
    ASSERT_EQ(entries.size(), std::size(cases));
    const std::string euid =
        std::to_string(static_cast<int>(platform::ProcessInfo::processInfo().effectiveUserID()));
    for (size_t i = 0; i < entries.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(*entries[i].get("Message"), "flag " + std::to_string(rawValue(cases[i].flag)));
        EXPECT_EQ(*entries[i].get("Level"), cases[i].level);
        EXPECT_EQ(*entries[i].get("ReadUID"), euid);
        EXPECT_EQ(*entries[i].get("QLLog"), "1");
        EXPECT_EQ(*entries[i].get("Facility"), "com.apple.console");
    }
}

TEST_F(ASLTest, LoggerAppliesItsFormatterAndDropsEntriesItCannotBuild) {
    QLLog registry;
    const auto& logger = QLASLLogger::sharedInstance();
    registry.addLogger(logger);
    logger->setLogFormatter(std::make_shared<UppercaseFormatter>());
    registry.log(false, testing::makeRecord(QLLogFlag::info, "shown"));
    registry.log(false, testing::makeRecord(QLLogFlag::info, "drop"));
    ASLStore::shared().setFailingKeyForTesting("ReadUID");  // the third of the four fields
    registry.log(false, testing::makeRecord(QLLogFlag::info, "refused field"));
    ASLStore::shared().setFailingKeyForTesting(std::nullopt);
    logger->setLogFormatter(nullptr);
    registry.log(false, testing::makeRecord(QLLogFlag::info, "plain"));
    registry.removeLogger(logger);
    registry.flushLog();

    std::vector<std::string> texts;
    for (const auto& e : storedEntries()) texts.push_back(*e.get("Message"));
    EXPECT_EQ(texts, (std::vector<std::string>{"SHOWN", "plain"}));
}

TEST_F(ASLTest, NoSecondLoggerOnceTheSharedOneExists) {
    const auto& shared = QLASLLogger::sharedInstance();
    EXPECT_EQ(QLASLLogger::make(), nullptr);
    EXPECT_EQ(QLASLLogger::sharedInstance(), shared);
}

TEST_F(ASLTest, CapturedEntryLevelGivesFlagAndDelivery) {
    struct Case {
        std::optional<std::string> level;
        QLLogFlag flag;
        bool synchronous;
    };
    const Case cases[] = {
        {"0", QLLogFlag::error, true},    {"1", QLLogFlag::error, true},
        {"2", QLLogFlag::error, true},    {std::nullopt, QLLogFlag::error, true},
        {"x", QLLogFlag::error, true},  // not a number: level 0
        {"3", QLLogFlag::warning, false}, {"4", QLLogFlag::info, false},
        {"5", QLLogFlag::debug, false},   {"6", QLLogFlag::verbose, false},
        {"7", QLLogFlag::verbose, false}, {"12", QLLogFlag::verbose, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.level.value_or("none"));
        std::map<std::string, std::string> values{{"Message", "level " + c.level.value_or("none")},
                                                  {"Time", "1600000000"},
                                                  {"TimeNanoSec", "250000000"}};
        if (c.level) values["Level"] = *c.level;
        const size_t before = recorder_->count();
        if (c.synchronous) {
            // Delivered before the call returns.
            QLASLLogCapture::aslMessageReceived(entry(values));
            ASSERT_EQ(recorder_->count(), before + 1);
        } else {
            // Returns while the logging queue is held: it did not wait for delivery.
            std::promise<void> release;
            auto released = release.get_future().share();
            QLLog::loggingQueue()->async([released] { released.wait(); });
            QLASLLogCapture::aslMessageReceived(entry(values));
            EXPECT_EQ(recorder_->count(), before);
            release.set_value();
            QLLog::sharedInstance().flushLog();
            ASSERT_EQ(recorder_->count(), before + 1);
        }
        const auto made = recorder_->records().back();
        EXPECT_EQ(made->message(), "level " + c.level.value_or("none"));
        EXPECT_EQ(made->flag(), c.flag);
        EXPECT_EQ(made->level(), QLLogLevel{31});
        EXPECT_EQ(made->fileName(), "QLASLLogCapture");
        EXPECT_EQ(made->function(), "");
        EXPECT_EQ(made->line(), 0u);
        EXPECT_EQ(made->context(), 0);
        EXPECT_DOUBLE_EQ(made->timestamp().unixTime(), 1600000000.25);
    }
}

TEST_F(ASLTest, CaptureLevelFiltersAndEntriesWithoutTextOrTimeAreHandled) {
    QLASLLogCapture::setCaptureLevel(QLLogLevel{1});  // error only
    for (const char* level : {"2", "3", "4", "5", "6", "7"}) {
        QLASLLogCapture::aslMessageReceived(
            entry({{"Level", level}, {"Message", std::string("at ") + level}}));
    }
    QLASLLogCapture::aslMessageReceived(entry({{"Level", "1"}}));  // no message: ignored
    QLLog::sharedInstance().flushLog();

    const auto records = recorder_->records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]->message(), "at 2");
    EXPECT_EQ(records[0]->level(), QLLogLevel{1});
    EXPECT_DOUBLE_EQ(records[0]->timestamp().unixTime(), kWallStart);  // no "Time": dated now
}

TEST_F(ASLTest, CaptureNeverReadsBackWhatTheLoggerWrote) {
    const auto& aslLogger = QLASLLogger::sharedInstance();
    QLLog::sharedInstance().addLogger(aslLogger);
    startCapture();

    sendForeign({{"Level", "3"}, {"Message", "from another program"}});
    settle();
    QLLog::sharedInstance().log(true, testing::makeRecord(QLLogFlag::info, "from this program"));
    settle();

    // The foreign entry came in once and was not written back; this program's
    // record reached the store once and was not captured.
    EXPECT_EQ(recorder_->messages(), (std::vector<std::string>{"from another program", "from this program"}));
    std::vector<std::string> stored;
    for (const auto& e : storedEntries()) stored.push_back(*e.get("Message"));
    EXPECT_EQ(stored, (std::vector<std::string>{"from another program", "from this program"}));
}

TEST_F(ASLTest, StartStopStartDeliversEachEntryOnce) {
    startCapture();
    QLASLLogCapture::start();  // already capturing: no second watch
    settle();
    EXPECT_EQ(ASLStore::shared().registrationCount(ASLStore::kMessageNotification), 1u);

    sendForeign({{"Level", "5"}, {"Message", "A"}});
    settle();
    ASSERT_EQ(capturedTexts(), std::vector<std::string>{"A"});

    // Stop and start within the same second: one watch, and A (of this very
    // second) is not delivered again.
    QLASLLogCapture::stop();
    EXPECT_EQ(ASLStore::shared().registrationCount(ASLStore::kMessageNotification), 0u);
    startCapture();
    sendForeign({{"Level", "5"}, {"Message", "C"}});
    settle();
    EXPECT_EQ(ASLStore::shared().registrationCount(ASLStore::kMessageNotification), 1u);
    EXPECT_EQ(capturedTexts(), (std::vector<std::string>{"A", "C"}));

    // An entry of the stopped time is not captured by a later start.
    QLASLLogCapture::stop();
    sendForeign({{"Level", "5"}, {"Message", "while stopped"}});
    settle();
    time_.advance(5);
    startCapture();
    sendForeign({{"Level", "5"}, {"Message", "D"}});
    settle();
    EXPECT_EQ(capturedTexts(), (std::vector<std::string>{"A", "C", "D"}));
}

TEST_F(ASLTest, StartAndStopFromManyThreadsLeaveOneWatchAndNoDoubles) {
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&go] {
            while (!go.load()) std::this_thread::yield();
            for (int i = 0; i < 200; ++i) {
                QLASLLogCapture::start();
                QLASLLogCapture::stop();
            }
        });
    }
    threads.emplace_back([&go] {
        while (!go.load()) std::this_thread::yield();
        for (int i = 0; i < 200; ++i) sendForeign({{"Level", "5"}, {"Message", fmt::format("e{}", i)}});
    });
    go.store(true);
    for (auto& thread : threads) thread.join();

    QLASLLogCapture::stop();
    startCapture();
    sendForeign({{"Level", "5"}, {"Message", "last"}});
    settle();
    EXPECT_EQ(ASLStore::shared().registrationCount(ASLStore::kMessageNotification), 1u);

    auto texts = capturedTexts();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back(), "last");
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(std::adjacent_find(texts.begin(), texts.end()), texts.end()) << "an entry was captured twice";
}

TEST(ASLStoreTest, SearchKeepsStoreOrderAndAppliesEveryCondition) {
    ASLStore store;
    const auto client = store.open("test");
    for (const char* level : {"7", "3", "9", "5"}) {
        auto message = store.newMessage();
        ASSERT_TRUE(store.set(message, "Level", level));
        ASSERT_TRUE(store.set(message, "Message", std::string("m") + level));
        if (std::string(level) == "5") {
            ASSERT_TRUE(store.set(message, "QLLog", "1"));
        }
        ASSERT_TRUE(store.send(client, message));
    }
    auto empty = store.newMessage();
    EXPECT_FALSE(store.set(empty, "", "value"));
    EXPECT_FALSE(store.send(nullptr, empty));

    ASLQuery query;
    QLASLLogCapture::configureAslQuery(query);
    query.set("ASLMessageID", "1", ASLQuery::Operation::numericGreater);
    std::vector<std::string> found;
    for (const auto& m : store.search(query)) found.push_back(*m.get("Message"));
    EXPECT_EQ(found, std::vector<std::string>{"m3"});  // 7 is id 1, 9 above 7, 5 written by the logger
}

}  // namespace
}  // namespace tervolo::logging
