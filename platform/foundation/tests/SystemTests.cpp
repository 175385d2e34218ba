#include <pthread.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/ProcessorCount.hpp"
#include "platform/foundation/Assertion.hpp"
#include "platform/foundation/Diagnostics.hpp"
#include "platform/foundation/FileManager.hpp"
#include "platform/foundation/OSLog.hpp"
#include "platform/foundation/ProcessInfo.hpp"
#include "platform/foundation/Sysctl.hpp"
#include "testsupport/TemporaryFolder.hpp"

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
