#include "logging/LoggingSystem.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "LogFacadeTestSupport.hpp"
#include "logging/FacadeMessage.hpp"
#include "logging/FacadeNoOpLogHandler.hpp"
#include "logging/Logger.hpp"
#include "logging/QLLogHandler.hpp"
#include "logging/StreamLogHandler.hpp"
#include "testsupport/logging/LogRecorder.hpp"

namespace tervolo::logging {
namespace {

using Level = Logger::Level;

LogHandlerFactory noOpFactory() {
    return [](const std::string& label) { return std::make_unique<FacadeNoOpLogHandler>(label); };
}

bool isStandardOutputStreamHandler(const LogHandler& handler, const std::string& label) {
    const auto* stream = dynamic_cast<const StreamLogHandler*>(&handler);
    return stream != nullptr && stream->label() == label && stream->logLevel() == Level::info &&
           stream->metadata().empty() && stream->stream() == StdioOutputStream::standardOutput();
}

// Scenarios that bootstrap the process-wide system run in a child process
// (bootstrapping is once per process): they exit 0 when every check holds and
// otherwise name the failed check on standard error and exit 1.
#define SCENARIO_CHECK(condition)                                   \
    do {                                                            \
        if (!(condition)) {                                         \
            std::fprintf(stderr, "check failed: %s\n", #condition); \
            std::exit(1);                                           \
        }                                                           \
    } while (false)

class LoggingSystemTest : public ::testing::Test {
  protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(LoggingSystemTest, WithoutBootstrapLoggersWriteToStandardOutputAtInfo) {
    // No test bootstraps this process (see the scenarios below).
    Logger logger("my.label");
    EXPECT_TRUE(isStandardOutputStreamHandler(logger.handler(), "my.label"));
    EXPECT_EQ(logger.label(), "my.label");
}

TEST_F(LoggingSystemTest, FactoryBoxBootstrapsOnceAndASecondBootstrapStops) {
    LoggingSystem::FactoryBox box;
    EXPECT_FALSE(box.initialized());
    EXPECT_TRUE(isStandardOutputStreamHandler(*(*box.underlying())("a"), "a"));
    box.bootstrap(noOpFactory());
    EXPECT_TRUE(box.initialized());
    EXPECT_NE(dynamic_cast<FacadeNoOpLogHandler*>((*box.underlying())("b").get()), nullptr);
    // No message: the program stops with a fatal precondition failure.
    EXPECT_EXIT(box.bootstrap(noOpFactory()), ::testing::KilledBySignal(SIGABRT), "^$");
    EXPECT_NE(dynamic_cast<FacadeNoOpLogHandler*>((*box.underlying())("c").get()), nullptr);
}

TEST_F(LoggingSystemTest, SecondProcessWideBootstrapStops) {
    EXPECT_EXIT(
        {
            LoggingSystem::bootstrap(noOpFactory());
            std::fprintf(stderr, "first bootstrap done\n");
            LoggingSystem::bootstrap(noOpFactory());
            std::fprintf(stderr, "second bootstrap returned\n");
        },
        ::testing::KilledBySignal(SIGABRT), "^first bootstrap done\n$");
}

void bootstrapWithQuovaLoggingScenario() {
    auto registry = std::make_shared<QLLog>();
    auto recorder = std::make_shared<tervolo::testsupport::LogRecorder>();
    registry->addLogger(recorder);
    Logger before("before");
    LoggingSystem::bootstrapWithQuovaLogging(registry, Level::info, Level::error);
    Logger after("after");

    // A logger made before the bootstrap keeps its handler.
    SCENARIO_CHECK(isStandardOutputStreamHandler(before.handler(), "before"));
    const auto* handler = dynamic_cast<const QLLogHandler*>(&after.handler());
    SCENARIO_CHECK(handler != nullptr);
    SCENARIO_CHECK(handler->loggerInfo().label == "after");
    SCENARIO_CHECK(handler->loggerInfo().logLevel == Level::info);
    SCENARIO_CHECK(handler->config().syncLogging.metadataKey == "log-synchronous");

    after.debug("dropped");
    after.info("async");
    after.error("sync");
    const auto records = recorder->records();
    SCENARIO_CHECK(records.size() == 2);
    SCENARIO_CHECK(records[0]->message() == "async" && records[0]->flag() == QLLogFlag::info);
    SCENARIO_CHECK(records[1]->message() == "sync" && records[1]->flag() == QLLogFlag::error);
    SCENARIO_CHECK(facadeInfo(*records[1]) != nullptr && facadeInfo(*records[1])->logger.label == "after");
    registry->flushLog();
    std::exit(0);
}

TEST_F(LoggingSystemTest, BootstrapWithQuovaLogging) {
    EXPECT_EXIT(bootstrapWithQuovaLoggingScenario(), ::testing::ExitedWithCode(0), "^$");
}

// The factory runs outside the system's lock, so it may make loggers of its
// own and log through them, also synchronously into a registry.
void factoryThatLogsScenario() {
    auto registry = std::make_shared<QLLog>();
    auto recorder = std::make_shared<tervolo::testsupport::LogRecorder>();
    registry->addLogger(recorder);
    const LogHandlerFactory quova = QLLogHandler::handlerFactory(registry, Level::trace, Level::trace);
    LoggingSystem::bootstrap([quova](const std::string& label) {
        if (label != "factory") {
            Logger inner("factory");
            inner.critical("making a handler for " + label);
        }
        return quova(label);
    });
    Logger outer("outer");
    outer.info("outer logs");
    const auto messages = recorder->messages();
    SCENARIO_CHECK(messages.size() == 2);
    SCENARIO_CHECK(messages[0] == "making a handler for outer");
    SCENARIO_CHECK(messages[1] == "outer logs");
    registry->flushLog();
    std::exit(0);
}

TEST_F(LoggingSystemTest, FactoryCanMakeLoggersAndLogWithoutDeadlock) {
    EXPECT_EXIT(factoryThatLogsScenario(), ::testing::ExitedWithCode(0), "^$");
}

// Threads reading the factory while another bootstraps each get either the
// old or the new factory, never a torn one.
TEST_F(LoggingSystemTest, ReadersAndBootstrapOnSeveralThreads) {
    LoggingSystem::FactoryBox box;
    std::atomic<bool> go{false};
    std::atomic<int> noOps{0};
    std::atomic<int> streams{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&] {
            while (!go.load()) std::this_thread::yield();
            for (int i = 0; i < 500; ++i) {
                const auto handler = (*box.underlying())("x");
                if (dynamic_cast<FacadeNoOpLogHandler*>(handler.get()) != nullptr) {
                    ++noOps;
                } else if (dynamic_cast<StreamLogHandler*>(handler.get()) != nullptr) {
                    ++streams;
                }
            }
        });
    }
    go = true;
    box.bootstrap(noOpFactory());
    for (auto& reader : readers) reader.join();
    EXPECT_EQ(noOps + streams, 4 * 500);
    EXPECT_TRUE(box.initialized());
}

}  // namespace
}  // namespace tervolo::logging
