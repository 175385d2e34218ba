#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <regex>
#include <set>
#include <thread>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/ProcessorCount.hpp"
#include "platform/foundation/Assertion.hpp"
#include "platform/foundation/Diagnostics.hpp"
#include "platform/foundation/FileManager.hpp"
#include "platform/foundation/OSLog.hpp"
#include "platform/foundation/ProcessInfo.hpp"
#include "platform/foundation/Sysctl.hpp"
#include "testsupport/Eventually.hpp"
#include "testsupport/TemporaryFolder.hpp"
#include "testsupport/VirtualClockScope.hpp"

using platform::OSLog;
using platform::OSLogType;
using platform::ProcessInfo;

namespace {

TEST(OSLogTest, RecordsCarryLogTypeAndTextVerbatim) {
    auto capture = platform::OSLogCapture::install();
    OSLog::setDebugEnabledForTesting(false);
    auto log = OSLog::make("org.tervolo.TervoloNG", "points");
    log->write(OSLogType::Error, "failed %s %n %@ 100%");
    log->write(OSLogType::Info, "info");
    log->write(OSLogType::Debug, "hidden");
    OSLog::defaultLog()->write(OSLogType::Default, "plain");
    OSLog::setDebugEnabledForTesting(true);
    log->write(OSLogType::Debug, "shown");
    OSLog::setDebugEnabledForTesting(std::nullopt);
    capture->uninstall();

    const auto records = capture->records();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].text, "failed %s %n %@ 100%") << "text is data, never a format";
    EXPECT_EQ(records[0].type, OSLogType::Error);
    EXPECT_EQ(records[0].subsystem, "org.tervolo.TervoloNG");
    EXPECT_EQ(records[0].category, "points");
    EXPECT_EQ(records[1].text, "info");
    EXPECT_EQ(records[2].text, "plain");
    EXPECT_EQ(records[2].subsystem, "");
    EXPECT_EQ(records[3].text, "shown");
    EXPECT_EQ(records[3].type, OSLogType::Debug);
}

TEST(OSLogTest, OnlyDebugCanBeDisabled) {
    auto log = OSLog::defaultLog();
    OSLog::setDebugEnabledForTesting(false);
    for (OSLogType type : {OSLogType::Default, OSLogType::Info, OSLogType::Error, OSLogType::Fault}) {
        EXPECT_TRUE(log->isEnabled(type));
    }
    EXPECT_FALSE(log->isEnabled(OSLogType::Debug));
    OSLog::setDebugEnabledForTesting(std::nullopt);
    // The syslog backend takes format characters as plain text too.
    log->write(OSLogType::Info, "foundation test %s%s%s%n");
}

// A system log daemon on a Unix socket in a test folder: keeps every record
// it receives, from datagrams or from NUL-ended records on stream connections.
class LogDaemon {
  public:
    LogDaemon(const std::string& path, int type) : path_(path) {
        fd_ = ::socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        ::unlink(path.c_str());
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << errno;
        if (type == SOCK_STREAM) {
            EXPECT_EQ(::listen(fd_, 4), 0);
        }
        EXPECT_EQ(::pipe2(wake_, O_CLOEXEC), 0);
        thread_ = std::thread([this, type] { receive(type); });
    }
    ~LogDaemon() {
        const char stop = 0;
        EXPECT_EQ(::write(wake_[1], &stop, 1), 1);
        thread_.join();
        ::close(fd_);
        ::close(wake_[0]);
        ::close(wake_[1]);
        ::unlink(path_.c_str());
    }
    std::vector<std::string> records() const {
        std::lock_guard lock(mutex_);
        return records_;
    }
    bool waitForRecords(size_t count) const {
        return tervolo::testsupport::eventually([&] { return records().size() >= count; });
    }

  private:
    void receive(int type) {
        std::vector<pollfd> fds{{wake_[0], POLLIN, 0}, {fd_, POLLIN, 0}};
        std::vector<std::string> pending(fds.size());
        char buffer[4096];
        while (::poll(fds.data(), fds.size(), -1) >= 0) {
            if (fds[0].revents != 0) break;
            for (size_t i = 1; i < fds.size(); ++i) {
                if (fds[i].revents == 0) continue;
                if (type == SOCK_STREAM && i == 1) {
                    fds.push_back({::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC), POLLIN, 0});
                    pending.emplace_back();
                    continue;
                }
                const ssize_t n = ::recv(fds[i].fd, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    fds[i].events = 0;
                    continue;
                }
                std::lock_guard lock(mutex_);
                if (type == SOCK_DGRAM) {
                    records_.emplace_back(buffer, static_cast<size_t>(n));
                    continue;
                }
                for (ssize_t k = 0; k < n; ++k) {
                    if (buffer[k] != '\0') {
                        pending[i].push_back(buffer[k]);
                    } else {
                        records_.push_back(std::move(pending[i]));
                        pending[i].clear();
                    }
                }
            }
        }
        for (size_t i = 2; i < fds.size(); ++i) ::close(fds[i].fd);
    }

    std::string path_;
    int fd_ = -1;
    int wake_[2] = {-1, -1};
    mutable std::mutex mutex_;
    std::vector<std::string> records_;
    std::thread thread_;
};

// Points the system log writer at a test socket for one test.
class SystemLogTest : public ::testing::Test {
  protected:
    void SetUp() override { OSLog::setSystemLogPathForTesting(socketPath); }
    void TearDown() override { OSLog::setSystemLogPathForTesting(""); }

    tervolo::testsupport::TemporaryFolder folder;
    std::string socketPath = folder.file("log");
};

TEST_F(SystemLogTest, KeepsOneConnectionForEveryRecordInTheSystemLogForm) {
    LogDaemon daemon(socketPath, SOCK_DGRAM);
    const uint64_t attempts = OSLog::systemLogConnectionAttempts();
    auto log = OSLog::make("org.tervolo.TervoloNG", "tests");
    constexpr int kRecords = 200;  // far more than a datagram socket queues unread
    for (int i = 0; i < kRecords; ++i) log->write(OSLogType::Info, "record " + std::to_string(i));
    log->write(OSLogType::Error, "failed %s %n");
    OSLog::defaultLog()->write(OSLogType::Fault, "plain");

    ASSERT_TRUE(daemon.waitForRecords(kRecords + 2));
    EXPECT_EQ(OSLog::systemLogConnectionAttempts() - attempts, 1u);
    const auto records = daemon.records();
    const std::string head = R"(^<(\d+)>[A-Z][a-z]{2} [ 1-3]\d \d\d:\d\d:\d\d )" +
                             ProcessInfo::processInfo().processName() + R"(\[)" + std::to_string(::getpid()) +
                             R"(\]: )";
    struct Case {
        size_t index;
        std::string priority;  // LOG_USER with the level
        std::string text;
    };
    const Case cases[] = {{0, "14", "[org.tervolo.TervoloNG:tests] record 0"},
                          {kRecords - 1, "14", "[org.tervolo.TervoloNG:tests] record 199"},
                          {kRecords, "11", "[org.tervolo.TervoloNG:tests] failed %s %n"},
                          {kRecords + 1, "11", "plain"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(records[c.index]);
        std::smatch match;
        ASSERT_TRUE(std::regex_search(records[c.index], match, std::regex(head)));
        EXPECT_EQ(match[1].str(), c.priority);
        EXPECT_EQ(match.suffix().str(), c.text);
    }
}

TEST_F(SystemLogTest, ConnectsAgainWhenTheDaemonRestarts) {
    auto log = OSLog::make("org.tervolo.TervoloNG", "tests");
    const uint64_t attempts = OSLog::systemLogConnectionAttempts();
    {
        LogDaemon first(socketPath, SOCK_DGRAM);
        log->write(OSLogType::Info, "before");
        ASSERT_TRUE(first.waitForRecords(1));
    }
    LogDaemon second(socketPath, SOCK_DGRAM);
    log->write(OSLogType::Info, "after");
    log->write(OSLogType::Info, "later");
    ASSERT_TRUE(second.waitForRecords(2));
    const auto records = second.records();
    EXPECT_NE(records[0].find("] after"), std::string::npos) << "the record that found it broken is kept";
    EXPECT_NE(records[1].find("] later"), std::string::npos);
    EXPECT_EQ(OSLog::systemLogConnectionAttempts() - attempts, 2u);
}

TEST_F(SystemLogTest, WithoutADaemonTriesAgainOnlyAfterTheDelay) {
    tervolo::testsupport::VirtualClockScope time;
    auto log = OSLog::make("org.tervolo.TervoloNG", "tests");
    const uint64_t attempts = OSLog::systemLogConnectionAttempts();
    for (int i = 0; i < 1000; ++i) log->write(OSLogType::Info, "nobody listens");
    EXPECT_EQ(OSLog::systemLogConnectionAttempts() - attempts, 1u);

    LogDaemon daemon(socketPath, SOCK_DGRAM);
    time.advance(OSLog::kReconnectDelay / 2);
    log->write(OSLogType::Info, "still waiting");
    EXPECT_EQ(OSLog::systemLogConnectionAttempts() - attempts, 1u);
    time.advance(OSLog::kReconnectDelay / 2);
    log->write(OSLogType::Info, "heard");
    ASSERT_TRUE(daemon.waitForRecords(1));
    EXPECT_EQ(OSLog::systemLogConnectionAttempts() - attempts, 2u);
    EXPECT_NE(daemon.records()[0].find("] heard"), std::string::npos);
}

TEST_F(SystemLogTest, StreamDaemonGetsNulEndedRecordsFromManyThreads) {
    LogDaemon daemon(socketPath, SOCK_STREAM);
    auto log = OSLog::make("org.tervolo.TervoloNG", "tests");
    const uint64_t attempts = OSLog::systemLogConnectionAttempts();
    constexpr int kThreads = 4;
    constexpr int kEach = 100;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&log, t] {
            for (int i = 0; i < kEach; ++i) {
                log->write(OSLogType::Info, "thread " + std::to_string(t) + " record " + std::to_string(i));
            }
        });
    }
    for (auto& thread : threads) thread.join();
    ASSERT_TRUE(daemon.waitForRecords(kThreads * kEach));
    EXPECT_EQ(OSLog::systemLogConnectionAttempts() - attempts, 1u);
    std::set<std::string> texts;
    for (const auto& record : daemon.records()) texts.insert(record.substr(record.find("] ") + 2));
    EXPECT_EQ(texts.size(), static_cast<size_t>(kThreads * kEach)) << "every record whole and apart";
    EXPECT_TRUE(texts.count("thread 3 record 99"));
}

TEST(DiagnosticsTest, LineWritersCanBeCapturedAndRestored) {
    platform::LineWriter& out = platform::LineWriter::standardOutput();
    {
        platform::LineCapture outer(out);
        {
            platform::LineCapture inner(out);
            out.writeLine("inner");
            EXPECT_EQ(inner.lines(), (std::vector<std::string>{"inner"}));
        }
        out.writeLine("outer %s");
        EXPECT_EQ(outer.lines(), (std::vector<std::string>{"outer %s"}));
    }
    platform::LineCapture errors(platform::LineWriter::standardError());
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([] {
            for (int j = 0; j < 50; ++j) platform::LineWriter::standardError().writeLine("line");
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(errors.lines().size(), 200u);
}

TEST(AssertionTest, HandlerReceivesConditionFileAndMessage) {
    std::vector<std::string> seen;
    {
        platform::ScopedAssertionHandler handler(
            [&](std::string_view condition, std::string_view file, std::string_view message) {
                seen = {std::string(condition), std::string(file), std::string(message)};
            });
        const bool onLoggingQueue = false;
        PLATFORM_ASSERT(onLoggingQueue, "This method should only be run on the logging thread/queue");
        PLATFORM_ASSERT(true, "never");
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"onLoggingQueue", "SystemTests.cpp",
                                              "This method should only be run on the logging thread/queue"}));
}

TEST(AssertionTest, DefaultHandlerLogsAndAbortsOnlyInDebugBuilds) {
#ifdef NDEBUG
    platform::LineCapture errors(platform::LineWriter::standardError());
    platform::assertionFailure("x > 0", "File.cpp", "Invalid parameter");
    EXPECT_EQ(errors.lines(),
              (std::vector<std::string>{"*** Assertion failure: Invalid parameter (x > 0, File.cpp)"}));
#else
    EXPECT_DEATH(platform::assertionFailure("x > 0", "File.cpp", "Invalid parameter"), "Invalid parameter");
#endif
}

TEST(ProcessInfoTest, DescribesTheProcessAndTheMachine) {
    ProcessInfo& info = ProcessInfo::processInfo();
    EXPECT_EQ(info.processName(), "tervolo_platform_foundation_tests");
    EXPECT_EQ(info.processIdentifier(), ::getpid());
    EXPECT_EQ(info.effectiveUserID(), ::geteuid());
    ::setenv("TERVOLO_PROCESS_INFO_TEST", "a=b", 1);
    EXPECT_EQ(info.environment().at("TERVOLO_PROCESS_INFO_TEST"), "a=b");
    EXPECT_EQ(info.environmentValue("TERVOLO_PROCESS_INFO_TEST"), "a=b");
    ::unsetenv("TERVOLO_PROCESS_INFO_TEST");
    EXPECT_FALSE(info.environmentValue("TERVOLO_PROCESS_INFO_TEST").has_value());
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    EXPECT_EQ(info.hostName(), host);
    EXPECT_FALSE(info.machine().empty());
    EXPECT_FALSE(info.kernelRelease().empty());

    platform::setProcessorCountForTesting(3);
    EXPECT_EQ(info.processorCount(), 3);
    platform::setProcessorCountForTesting(std::nullopt);
    EXPECT_GE(info.processorCount(), 1);
}

TEST(ProcessInfoTest, ReadsTheOperatingSystemFromOSRelease) {
    tervolo::testsupport::TemporaryFolder folder;
    const std::string path = folder.file("os-release");
    ASSERT_FALSE(platform::FileManager::defaultManager().writeFile(
        path,
        "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME=\"Debian GNU/Linux\"\nVERSION_ID='12'\n"));
    ProcessInfo& info = ProcessInfo::processInfo();
    info.setOSReleasePathForTesting(path);
    EXPECT_EQ(info.operatingSystemName(), "Debian GNU/Linux");
    EXPECT_EQ(info.operatingSystemVersionString(), "12");
    // Without the file: uname's answers.
    info.setOSReleasePathForTesting(folder.file("missing"));
    EXPECT_EQ(info.operatingSystemName(), "Linux");
    EXPECT_EQ(info.operatingSystemVersionString(), info.kernelRelease());
    info.setOSReleasePathForTesting(std::nullopt);
}

TEST(ProcessInfoTest, ThreadIdentityIsPerThreadAndNamesAreCached) {
    const int64_t mainID = ProcessInfo::currentThreadID();
    EXPECT_EQ(mainID, static_cast<int64_t>(::syscall(SYS_gettid)));
    int64_t otherID = 0;
    std::string otherName;
    std::string renamed;
    char kernelName[32] = {};
    std::thread([&] {
        otherID = ProcessInfo::currentThreadID();
        ::pthread_setname_np(::pthread_self(), "worker");
        otherName = ProcessInfo::currentThreadName();
        // Changed behind the cache's back: the cached name stays.
        ::pthread_setname_np(::pthread_self(), "changed");
        EXPECT_EQ(ProcessInfo::currentThreadName(), "worker");
        ProcessInfo::setCurrentThreadName("com.tervolo.a-very-long-thread-name");
        renamed = ProcessInfo::currentThreadName();
        ::pthread_getname_np(::pthread_self(), kernelName, sizeof kernelName);
    }).join();
    EXPECT_NE(otherID, mainID);
    EXPECT_EQ(otherName, "worker");
    EXPECT_EQ(renamed, "com.tervolo.a-very-long-thread-name");
    EXPECT_STREQ(kernelName, "com.tervolo.a-v");
}

TEST(ProcessInfoTest, ThreadNameFollowsTheQueueAWorkerServes) {
    // Pool workers take the label of each queue they serve; a name cached while
    // serving one queue must not leak into records written for the next.
    auto first = platform::DispatchQueue::serial("name.first");
    auto second = platform::DispatchQueue::serial("name.second");
    for (int round = 0; round < 20; ++round) {
        std::string seenFirst, seenSecond;
        first->sync([] {});  // make the queues' workers exist
        first->async([&] { seenFirst = ProcessInfo::currentThreadName(); });
        first->sync([] {});
        second->async([&] { seenSecond = ProcessInfo::currentThreadName(); });
        second->sync([] {});
        ASSERT_EQ(seenFirst, "name.first");
        ASSERT_EQ(seenSecond, "name.second");
    }
}

}  // namespace

namespace {

TEST(SysctlTest, AnswersTheKnownNamesFromLinuxSources) {
    using platform::Sysctl;
    struct utsname names {};
    ASSERT_EQ(::uname(&names), 0);
    EXPECT_EQ(Sysctl::string("hw.machine"), std::string(names.machine));
    EXPECT_EQ(Sysctl::string("kern.osrelease"), std::string(names.release));
    EXPECT_EQ(Sysctl::string("kern.osversion"), std::string(names.version));
    EXPECT_TRUE(Sysctl::string("hw.model").has_value());
    if (std::string(names.machine) == "x86_64") {
        EXPECT_EQ(Sysctl::integer("hw.cputype"), 16777223);
        EXPECT_EQ(Sysctl::integer("hw.cpusubtype"), 3);
    }
    EXPECT_EQ(Sysctl::integer("hw.logicalcpu_max"), ::sysconf(_SC_NPROCESSORS_CONF));
    const auto physical = Sysctl::integer("hw.physicalcpu_max");
    ASSERT_TRUE(physical.has_value());
    EXPECT_GE(*physical, 1);
    EXPECT_LE(*physical, *Sysctl::integer("hw.logicalcpu_max"));
    EXPECT_EQ(Sysctl::integer("sysctl.proc_native"), 1);

    struct Failure {
        const char* name;
        bool asString;
        int errnoValue;
    };
    for (const Failure& test : {Failure{"kern.nothing", true, ENOENT}, Failure{"kern.nothing", false, ENOENT},
                                Failure{"hw.cputype", true, EINVAL}, Failure{"hw.machine", false, EINVAL}}) {
        errno = 0;
        const bool answered =
            test.asString ? Sysctl::string(test.name).has_value() : Sysctl::integer(test.name).has_value();
        EXPECT_FALSE(answered) << test.name;
        EXPECT_EQ(errno, test.errnoValue) << test.name;
    }
}

TEST(SysctlTest, FakesReplaceValuesAndFailures) {
    using platform::Sysctl;
    Sysctl::setFakeForTesting("kern.osrelease", Sysctl::Fake{std::string("23.1.0")});
    Sysctl::setFakeForTesting("hw.model", Sysctl::Fake{Sysctl::Failure{EPERM}});
    Sysctl::setFakeForTesting("hw.cputype", Sysctl::Fake{int64_t{12}});
    EXPECT_EQ(Sysctl::string("kern.osrelease"), "23.1.0");
    errno = 0;
    EXPECT_FALSE(Sysctl::string("hw.model").has_value());
    EXPECT_EQ(errno, EPERM);
    EXPECT_EQ(Sysctl::integer("hw.cputype"), 12);
    Sysctl::removeAllFakesForTesting();
    EXPECT_NE(Sysctl::string("kern.osrelease"), "23.1.0");
}

}  // namespace
