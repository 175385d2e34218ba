#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <stdexcept>
#include <thread>

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "analytics/Tally.hpp"
#include "analytics/TallyBinaryImages.hpp"
#include "analytics/TallyConnectionManager.hpp"
#include "analytics/TallyConsentManager.hpp"
#include "analytics/TallyCrashReporter.hpp"
#include "analytics/TallyCrashStub.hpp"
#include "analytics/TallyDeviceInfo.hpp"
#include "analytics/TallyPersistency.hpp"
#include "analytics/TallyText.hpp"
#include "analytics/tests/AnalyticsTestSupport.hpp"
#include "platform/foundation/FileManager.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "testsupport/FakeAnalyticsServer.hpp"

namespace tervolo::analytics {
namespace {

using ::testing::HasSubstr;
using testing::TallyFacadeTest;

class TallyCrashTest : public TallyFacadeTest {
  protected:
    std::shared_ptr<TallyCrashReporter> reporter() { return TallyCrashReporter::sharedInstance(); }
    // The record in the last queued request.
    TallyJSON lastRecord() {
        const auto crash = tly_valueForQueryStringKey(last(), "crash");
        return crash ? TallyJSON::parse(*tly_percentDecoded(*crash)) : TallyJSON();
    }
};

TEST_F(TallyCrashTest, Breadcrumbs) {
    TallyConfig config = systemConfig("http://127.0.0.1:9");
    config.crashLogLimit = 2;
    startOffline(config);
    Tally::sharedInstance().recordCrashLog(std::string(1000, 'a'));
    EXPECT_EQ(reporter()->customCrashLogs().back(), "<2023-11-14 22:13:20.123> " + std::string(1000, 'a'));
    Tally::sharedInstance().recordCrashLog(std::string(1001, 'b'));
    EXPECT_EQ(reporter()->customCrashLogs().back(), "<2023-11-14 22:13:20.123> " + std::string(1000, 'b'));
    Tally::sharedInstance().recordCrashLog("third");
    const auto logs = reporter()->customCrashLogs();
    ASSERT_EQ(logs.size(), 2u);
    EXPECT_THAT(logs[0], HasSubstr("bbb"));
    EXPECT_THAT(logs[1], ::testing::EndsWith("> third"));
    reporter()->setCrashLogLimit(0);  // behaves as 1
    Tally::sharedInstance().recordCrashLog("only");
    EXPECT_EQ(reporter()->customCrashLogs().size(), 1u);
    Tally::sharedInstance().clearCrashLogs();
    EXPECT_TRUE(reporter()->customCrashLogs().empty());
}

TEST_F(TallyCrashTest, StackLinesNameTheirImages) {
    const std::string line39 = "12  " + std::string("  libexample.so") + std::string(20, ' ');
    ASSERT_EQ(line39.size(), 39u);
    EXPECT_THAT(TallyImageNamesInStackTrace({line39}), ::testing::ElementsAre("libexample.so"));
    EXPECT_TRUE(TallyImageNamesInStackTrace({line39.substr(0, 38)}).empty());
    const std::string formatted = TallyFormatStackLine(3, "libc.so.6", 0x7f00001234, "abort", 18);
    EXPECT_EQ(formatted, "3   libc.so.6                          0x0000007f00001234 abort + 18");
    EXPECT_THAT(TallyImageNamesInStackTrace({formatted}), ::testing::ElementsAre("libc.so.6"));
}

TEST_F(TallyCrashTest, BinaryImagesOfThisProcess) {
    const auto images = TallyLoadedImages();
    ASSERT_FALSE(images.empty());
    EXPECT_TRUE(images.front().isMainExecutable);
    EXPECT_EQ(images.front().name, "tervolo_analytics_tests");
    const auto trace = TallyCurrentStackTrace(0);
    ASSERT_FALSE(trace.empty());
    EXPECT_THAT(trace.front(), ::testing::StartsWith("0   tervolo_analytics_tests"));
    std::string buildUUID;
    std::string executable;
    const TallyJSON found = TallyBinaryImagesForStackTrace(trace, images, &buildUUID, &executable);
    ASSERT_TRUE(found.contains("tervolo_analytics_tests")) << found.dump();
    EXPECT_EQ(executable, "tervolo_analytics_tests");
    EXPECT_TRUE(std::regex_match(buildUUID,
                                 std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")))
        << buildUUID;
    EXPECT_TRUE(std::regex_match(found["tervolo_analytics_tests"]["la"].get<std::string>(),
                                 std::regex("0x[0-9A-F]+")));
    EXPECT_EQ(TallyBuildIDAsUUID(std::vector<uint8_t>{0xAB, 0x01}), "AB010000-0000-0000-0000-000000000000");
}

TEST_F(TallyCrashTest, MachOUUIDFromSyntheticHeaders) {
    auto header = [](uint32_t magic, size_t headerSize, bool withUUID, bool swap) {
        std::vector<uint8_t> bytes(headerSize, 0);
        auto put = [&](size_t at, uint32_t value) {
            if (swap) value = __builtin_bswap32(value);
            if (bytes.size() < at + 4) bytes.resize(at + 4);
            std::memcpy(bytes.data() + at, &value, 4);
        };
        std::memcpy(bytes.data(), &magic, 4);
        put(16, withUUID ? 2 : 1);
        put(headerSize, 0x19);  // a segment command of 16 bytes first
        put(headerSize + 4, 16);
        bytes.resize(headerSize + 16);
        if (withUUID) {
            put(headerSize + 16, 0x1B);
            put(headerSize + 20, 24);
            for (uint8_t i = 0; i < 16; ++i) bytes.push_back(i);
        }
        return bytes;
    };
    const std::array<uint8_t, 16> expected{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    EXPECT_EQ(TallyMachOUUID(header(0xFEEDFACF, 32, true, false)), expected);
    EXPECT_EQ(TallyMachOUUID(header(0xFEEDFACE, 28, true, false)), expected);
    EXPECT_EQ(TallyMachOUUID(header(0xCFFAEDFE, 32, true, true)), expected);
    EXPECT_EQ(TallyMachOUUID(header(0xFEEDFACF, 32, false, false)), std::nullopt);
    EXPECT_EQ(TallyMachOUUID(std::vector<uint8_t>{0xCF, 0xFA}), std::nullopt);
}

TEST_F(TallyCrashTest, HandledExceptionRecords) {
    TallyConfig config = systemConfig("http://127.0.0.1:9");
    config.crashSegmentation = TallyJSON{{"build", "nightly"}, {"shared", "segmentation"}};
    startOffline(config);
    TallyException exception{"std::invalid_argument", "bad radius", TallyJSON{{"shared", "exception"}}, {}};
    Tally::sharedInstance().recordCrashLog("opened details");
    Tally::sharedInstance().recordHandledException(exception);
    TallyJSON record = lastRecord();
    ASSERT_TRUE(record.is_object());
    EXPECT_FALSE(record.contains("_error"));
    EXPECT_EQ(record["_binary_images"], TallyJSON::object());
    EXPECT_EQ(record["_build_uuid"], "");
    EXPECT_EQ(record["_name"], "bad radius");
    EXPECT_EQ(record["_type"], "std::invalid_argument");
    EXPECT_EQ(record["_nonfatal"], 1);
    EXPECT_EQ(record["_custom"]["shared"], "exception");  // the exception's entry wins
    EXPECT_EQ(record["_custom"]["build"], "nightly");
    EXPECT_EQ(record["_root"], false);
    EXPECT_THAT(record["_logs"].get<std::string>(), ::testing::EndsWith("> opened details"));
    EXPECT_EQ(record.begin().key(), "_binary_images");
    EXPECT_FALSE(record.contains("_bat") && !record["_bat"].is_number_integer());

    Tally::sharedInstance().recordUnhandledException(exception,
                                                     {"0   app    0x1 main + 1", "1   app    0x2 start + 2"});
    record = lastRecord();
    EXPECT_EQ(record["_nonfatal"], 0);
    EXPECT_EQ(record["_error"], "0   app    0x1 main + 1\n1   app    0x2 start + 2");
    EXPECT_FALSE(record["_custom"].contains(kTallyExceptionUserInfoBacktraceKey));
    EXPECT_EQ(record.begin().key(), "_error");
    EXPECT_TRUE(reporter()->isReporting());  // reported by the application: reporting stays on

    reporter()->setCrashFilter("invalid_arg");
    const size_t before = queued().size();
    Tally::sharedInstance().recordHandledException(exception);
    EXPECT_EQ(queued().size(), before);
    EXPECT_EQ(logger_->count("Crash matches filter and it will not be processed."), 1u);
}

TEST_F(TallyCrashTest, NothingBeforeStartOrWithoutConsent) {
    Tally::sharedInstance().recordHandledException(TallyException{"x", "y", TallyJSON::object(), {}});
    EXPECT_EQ(TallyCrashReporter::sharedInstance(), nullptr);
    TallyConfig config = systemConfig("http://127.0.0.1:9");
    config.requiresConsent = true;
    startOffline(config);
    EXPECT_FALSE(reporter()->isReporting());
    Tally::sharedInstance().recordCrashLog("dropped");
    EXPECT_TRUE(reporter()->customCrashLogs().empty());
    Tally::sharedInstance().giveConsentForFeature(TLYConsentCrashReporting);
    EXPECT_TRUE(reporter()->isReporting());
    Tally::sharedInstance().cancelConsentForFeature(TLYConsentCrashReporting);
    EXPECT_FALSE(reporter()->isReporting());
}

TEST_F(TallyCrashTest, StubsThatAreTornOrForeignAreRefused) {
    EXPECT_EQ(TallyCrashStub::read(""), std::nullopt);
    EXPECT_EQ(TallyCrashStub::read("TALLY-CRASH-STUB 1\nkind signal\nsignal 11\n"), std::nullopt);
    EXPECT_EQ(TallyCrashStub::read("garbage\nend\n"), std::nullopt);
    EXPECT_EQ(TallyCrashStub::read("TALLY-CRASH-STUB 1\ntype 99\nshort\nend\n"), std::nullopt);
    const auto stub = TallyCrashStub::read(
        "TALLY-CRASH-STUB 1\nkind signal\nsignal 11\ntime 5\nrun 7\nbackground 1\ntype 0\n\nreason 0\n\n"
        "frame 1010 0\nframe 99 -1\nimage 0 1000 1 AB-CD\nname 3\napp\nlogs 4\na\nbc\nend\n");
    ASSERT_TRUE(stub);
    EXPECT_TRUE(stub->isSignal);
    EXPECT_EQ(stub->signal, 11);
    EXPECT_EQ(stub->runSeconds, 7);
    EXPECT_TRUE(stub->inBackground);
    EXPECT_EQ(stub->logs, "a\nbc");
    ASSERT_EQ(stub->stackLines.size(), 2u);
    EXPECT_EQ(stub->stackLines[0], "0   app                                0x0000000000001010 app + 16");
    EXPECT_EQ(stub->binaryImages["app"]["la"], "0x1000");
    EXPECT_EQ(stub->executableName, "app");
}

// Child processes: one crash each; the parent looks at what the next start sends.
enum class CrashMode { segv, abort, exception, segvUnderQueueLock, pipe, segvWithPreviousHandler };

// A real fault, not undefined behaviour a sanitizer would stop at first: a
// write to a page that allows no access.
void fault() {
    void* page = ::mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    *static_cast<volatile int*>(page) = 1;
}

void previousHandler(int) {
    const char marker[] = "previous handler ran\n";
    [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, marker, sizeof marker - 1);
    ::_exit(42);
}

TEST_F(TallyCrashTest, ChildCrashes) {
    const char* mode = std::getenv("TALLY_CRASH_MODE");
    if (mode == nullptr) {
        GTEST_SKIP() << "runs only as a child of the crash tests";
    }
    ::setenv("XDG_DATA_HOME", std::getenv("TALLY_TEST_DATA_HOME"), 1);
    ::setenv("XDG_CONFIG_HOME", std::getenv("TALLY_TEST_CONFIG_HOME"), 1);
    platform::UserDefaults::standard().reload();
    TallyDeviceInfo::sharedInstance().resetForTesting();
    const auto crash = static_cast<CrashMode>(std::atoi(mode));
    if (crash == CrashMode::segvWithPreviousHandler) {
        struct sigaction action {};
        action.sa_handler = previousHandler;
        sigemptyset(&action.sa_mask);
        sigaction(SIGSEGV, &action, nullptr);
    }
    startOffline();
    Tally::sharedInstance().recordCrashLog("before the crash");
    switch (crash) {
        case CrashMode::segv:
        case CrashMode::segvWithPreviousHandler:
            fault();
            break;
        case CrashMode::abort:
            std::abort();
        case CrashMode::exception:
            // On a thread of its own: nothing catches it there, as in the application.
            std::thread([] { throw std::runtime_error("radius out of range"); }).join();
            break;
        case CrashMode::segvUnderQueueLock:
            TallyPersistency::sharedInstance()->runWithQueueLockedForTesting([] { fault(); });
            break;
        case CrashMode::pipe: {
            int fds[2];
            ASSERT_EQ(::pipe(fds), 0);
            ::close(fds[0]);
            EXPECT_EQ(::write(fds[1], "x", 1), -1);
            EXPECT_EQ(errno, EPIPE);
            ::_exit(0);
        }
    }
    ::_exit(3);
}

class TallyCrashChildTest : public TallyCrashTest {
  protected:
    // Runs the child until it ends (at most 20 s); its wait status.
    int runChild(CrashMode mode) {
        const pid_t child = ::fork();
        if (child == 0) {
            ::setenv("TALLY_CRASH_MODE", std::to_string(static_cast<int>(mode)).c_str(), 1);
            ::setenv("TALLY_TEST_DATA_HOME", folder_.dataHome().c_str(), 1);
            ::setenv("TALLY_TEST_CONFIG_HOME", folder_.configHome().c_str(), 1);
            // Under AddressSanitizer its own SIGSEGV handler would report and
            // exit; without it ours chains to the default action as in a
            // release build.
            const char* asan = ::getenv("ASAN_OPTIONS");
            const std::string options =
                std::string(asan ? asan : "") + (asan && *asan ? ":" : "") + "handle_segv=0";
            ::setenv("ASAN_OPTIONS", options.c_str(), 1);
            ::execl("/proc/self/exe", "child", "--gtest_filter=TallyCrashTest.ChildCrashes",
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        int status = 0;
        for (int i = 0; i < 2000; ++i) {
            if (::waitpid(child, &status, WNOHANG) == child) return status;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        ADD_FAILURE() << "the crashing child hung";
        return status;
    }
    // The next start against a fake server: the crash requests it sends.
    std::vector<TallyJSON> nextStartCrashes() {
        platform::UserDefaults::standard().reload();
        TallyDeviceInfo::sharedInstance().resetForTesting();
        tervolo::testsupport::FakeAnalyticsServer server;
        TallyConfig config = systemConfig(server.host());
        config.loggerDelegate = logger_;
        Tally::sharedInstance().startWithConfig(config);
        auto connection = TallyConnectionManager::sharedInstance();
        for (int i = 0; i < 100 && TallyPersistency::sharedInstance()->queueCount() > 0; ++i) {
            connection->proceedOnQueue();
            connection->waitUntilIdle(10);
        }
        std::vector<TallyJSON> records;
        for (const auto& value : server.values("crash")) records.push_back(TallyJSON::parse(value));
        return records;
    }
};

TEST_F(TallyCrashChildTest, FatalCrashesReachTheServerAtTheNextStart) {
    const struct {
        const char* name;
        CrashMode mode;
        int signal;
        const char* type;
        const char* reason;
    } cases[] = {
        {"SIGSEGV", CrashMode::segv, SIGSEGV, "Fatal Signal", "App terminated by SIGSEGV"},
        {"SIGABRT", CrashMode::abort, SIGABRT, "Fatal Signal", "App terminated by SIGABRT"},
        {"uncaught exception", CrashMode::exception, SIGABRT, "std::runtime_error", "radius out of range"},
        {"crash under the queue lock", CrashMode::segvUnderQueueLock, SIGSEGV, "Fatal Signal",
         "App terminated by SIGSEGV"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        Tally::sharedInstance().resetForTesting();
        testing::resetAnalyticsModules();
        TallyCommon::sharedInstance().setHasStarted(false);
        const int status = runChild(row.mode);
        // The handler records the crash, then the process dies of the signal.
        ASSERT_TRUE(WIFSIGNALED(status)) << status;
        EXPECT_EQ(WTERMSIG(status), row.signal);
        const auto records = nextStartCrashes();
        ASSERT_EQ(records.size(), 1u);
        const TallyJSON& record = records[0];
        EXPECT_EQ(record["_type"], row.type);
        EXPECT_EQ(record["_name"], row.reason);
        EXPECT_EQ(record["_nonfatal"], 0);
        EXPECT_FALSE(record.contains("_custom"));
        EXPECT_THAT(record["_logs"].get<std::string>(), HasSubstr("> before the crash"));
        EXPECT_THAT(record["_error"].get<std::string>(), HasSubstr("tervolo_analytics_tests"));
        EXPECT_TRUE(record["_binary_images"].contains("tervolo_analytics_tests"));
        EXPECT_EQ(record["_executable_name"], "tervolo_analytics_tests");
        EXPECT_FALSE(platform::FileManager::defaultManager().fileExists(TallyCrashReporter::stubFile()) &&
                     platform::FileManager::defaultManager()
                             .attributesOfItem(TallyCrashReporter::stubFile())
                             .value()
                             .size > 0);
    }
}

TEST_F(TallyCrashChildTest, BrokenPipeIsNoCrash) {
    const int status = runChild(CrashMode::pipe);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(nextStartCrashes().empty());
}

TEST_F(TallyCrashChildTest, PreviousHandlersStillRun) {
    const int status = runChild(CrashMode::segvWithPreviousHandler);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 42);
    const auto records = nextStartCrashes();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["_name"], "App terminated by SIGSEGV");
}

}  // namespace
}  // namespace tervolo::analytics
