#include <dlfcn.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.hpp"
#include "crash/QCrashLogWriter.hpp"
#include "crash/QCrashReport.hpp"
#include "crash/QCrashReportTextFormatter.hpp"
#include "crash/QCrashReporter.hpp"
#include "crash/ReporterState.hpp"
#include "crash/SignalNames.hpp"
#include "fixtures/UnwindChains.hpp"

// The crashing functions, with C names so that the reports can be checked
// for them by name.
int* volatile gNull = nullptr;
extern "C" __attribute__((noinline, no_sanitize("undefined"))) void crash_fn_null() {
    *gNull = 1;
}
// Mapped when the program loads, so that the parent knows the address its
// forked children fault at.
char* const gReadOnlyPage =
    static_cast<char*>(mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
extern "C" __attribute__((noinline)) void crash_fn_readonly() {
    *reinterpret_cast<volatile char*>(gReadOnlyPage) = 1;
}
extern "C" __attribute__((noinline)) void crash_fn_trap() {
    __builtin_trap();
}
extern "C" __attribute__((noinline, no_sanitize("undefined"))) void crash_fn_divide() {
    volatile int zero = 0;
    volatile int seven = 7;
    volatile int r = seven / zero;
    (void)r;
}
extern "C" __attribute__((noinline)) void crash_fn_abort() {
    abort();
}
extern "C" __attribute__((noinline)) void crash_fn_bus() {
    raise(SIGBUS);
    asm volatile("" ::: "memory");  // no tail call: this frame stays on the stack
}
volatile int gDepthLimit = 1 << 30;
extern "C" __attribute__((noinline)) int crash_fn_overflow(int depth) {
    volatile char pad[512];
    pad[0] = static_cast<char>(depth);
    if (depth > gDepthLimit) return pad[0];
    return crash_fn_overflow(depth + 1) + pad[0];
}
extern "C" __attribute__((noinline)) void crash_fn_throw() {
    throw std::runtime_error("the reason");
}
// Thrown on a thread of its own: an exception leaving a thread's function
// reaches std::terminate with the exception still current.
void throwOnAThread() {
    std::thread([] { crash_fn_throw(); }).join();
}

namespace tervolo::crash {
namespace {

using testing::runInChild;

std::string hex(const std::vector<uint8_t>& bytes) {
    std::string out;
    char two[4];
    for (uint8_t b : bytes) {
        snprintf(two, sizeof two, "%02X ", b);
        out += two;
    }
    if (!out.empty()) out.pop_back();
    return out;
}

TEST(LogWriterPack, MeasuredSizeEqualsTheBytesWritten) {
    struct Case {
        uint32_t field;
        qcrash_writer_type_t type;
        std::vector<uint8_t> value;  // raw bytes of the value (or text)
        const char* expected;
    } cases[] = {
        {1, QCRASH_WRITER_UINT64, {0, 0, 0, 0, 0, 0, 0, 0}, "08 00"},
        {1, QCRASH_WRITER_UINT64, {0x2C, 0x01, 0, 0, 0, 0, 0, 0}, "08 AC 02"},
        {2, QCRASH_WRITER_INT32, {0xFF, 0xFF, 0xFF, 0xFF}, "10 FF FF FF FF FF FF FF FF FF 01"},
        {1, QCRASH_WRITER_SINT32, {0xFF, 0xFF, 0xFF, 0xFF}, "08 01"},
        {1, QCRASH_WRITER_SINT64, {0, 0, 0, 0, 0, 0, 0, 0x80}, "08 FF FF FF FF FF FF FF FF FF 01"},
        {15, QCRASH_WRITER_UINT32, {1, 0, 0, 0}, "78 01"},
        {16, QCRASH_WRITER_UINT32, {1, 0, 0, 0}, "80 01 01"},
        {2, QCRASH_WRITER_STRING, {'a', 'b', 'c', 0}, "12 03 61 62 63"},
        {1, QCRASH_WRITER_FIXED32, {1, 0, 0, 0}, "0D 01 00 00 00"},
        {1, QCRASH_WRITER_DOUBLE, {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}, "09 00 00 00 00 00 00 F0 3F"},
        {1, QCRASH_WRITER_BOOL, {1}, "08 01"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        qcrash_async_file_t file;
        qcrash_async_file_init(&file, fds[1], 0);
        const size_t measured = qcrash_writer_pack(nullptr, c.field, c.type, c.value.data());
        const size_t written = qcrash_writer_pack(&file, c.field, c.type, c.value.data());
        ASSERT_TRUE(qcrash_async_file_close(&file));
        std::vector<uint8_t> out(64);
        const ssize_t n = read(fds[0], out.data(), out.size());
        close(fds[0]);
        out.resize(static_cast<size_t>(n));
        EXPECT_EQ(hex(out), c.expected);
        EXPECT_EQ(measured, out.size());
        EXPECT_EQ(written, out.size());
    }
}

// ---- live reports ----

struct Worker {
    std::atomic<int>* ready;
    std::atomic<bool>* go;
    testing::ChainRecord record{};
};

__attribute__((noinline)) void waitForGo(void* context) {
    auto* w = static_cast<Worker*>(context);
    w->ready->fetch_add(1);
    while (!w->go->load()) std::this_thread::yield();
}

// Three threads parked in a known call chain, for the lifetime of the object.
class BusyThreads {
  public:
    BusyThreads() {
        for (auto& w : workers_) {
            w.ready = &ready_;
            w.go = &go_;
            threads_.emplace_back([&w] { testing::dwarfChain(&w.record, waitForGo, &w); });
        }
        while (ready_.load() < 3) std::this_thread::yield();
    }
    ~BusyThreads() {
        go_ = true;
        for (auto& t : threads_) t.join();
    }
    const Worker& worker(size_t i) const { return workers_[i]; }

  private:
    std::atomic<int> ready_{0};
    std::atomic<bool> go_{false};
    Worker workers_[3];
    std::vector<std::thread> threads_;
};

std::string temporaryBase() {
    char pattern[] = "/tmp/crash_reporter_XXXXXX";
    return mkdtemp(pattern);
}

// The top-level keys of a report body, in order.
std::vector<uint8_t> topLevelKeys(const std::vector<uint8_t>& file) {
    std::vector<uint8_t> keys;
    size_t at = 8;
    auto varint = [&](size_t& p) {
        uint64_t v = 0;
        for (int shift = 0; p < file.size(); shift += 7) {
            const uint8_t b = file[p++];
            v |= static_cast<uint64_t>(b & 0x7F) << shift;
            if ((b & 0x80) == 0) break;
        }
        return v;
    };
    while (at < file.size()) {
        const uint64_t key = varint(at);
        keys.push_back(static_cast<uint8_t>(key));
        const uint64_t wire = key & 7;
        if (wire == 2) {
            const uint64_t length = varint(at);
            if (key == 0x22 && at < file.size()) {
                EXPECT_EQ(file[at], 0x10) << "image entries start with their size";
            }
            at += length;
        } else if (wire == 0) {
            varint(at);
        } else {
            ADD_FAILURE() << "unexpected wire type";
            break;
        }
    }
    return keys;
}

TEST(CrashReporterLive, AReportOfThisProcessDecodesAndFormats) {
    const BusyThreads busy;
    QCrashReporter reporter("com.example/tervolo", "42", std::nullopt,
                            QCrashReporterConfig(0, 1, false, temporaryBase()));
    EXPECT_NE(reporter.crashReportDirectory().find("/org.tervolong.crashreporter.data/com.example_tervolo"),
              std::string::npos);
    reporter.setCustomData(std::vector<uint8_t>{7, 8, 9});
    platform::Error error;
    const auto bytes = reporter.generateLiveReport(&error);
    ASSERT_TRUE(bytes) << error.description;
    ASSERT_GE(bytes->size(), 8u);
    EXPECT_EQ(std::memcmp(bytes->data(), "qcrash\0\1", 8), 0);

    const auto keys = topLevelKeys(*bytes);
    ASSERT_GE(keys.size(), 8u);
    EXPECT_EQ(std::vector<uint8_t>(keys.begin(), keys.begin() + 5),
              (std::vector<uint8_t>{0x4A, 0x0A, 0x42, 0x12, 0x3A}));
    EXPECT_EQ(keys[keys.size() - 2], 0x32);  // the signal, then the custom data
    EXPECT_EQ(keys.back(), 0x52);

    const auto message = QCrashReport::decode(*bytes, &error);
    ASSERT_TRUE(message) << error.description;
    ASSERT_NE(message->report_info, nullptr);
    EXPECT_TRUE(message->report_info->user_requested);
    EXPECT_EQ(message->process_info->process_path[std::strlen(message->process_info->process_path)], 0);

    const auto report = QCrashReport::create(*bytes, &error);
    ASSERT_NE(report, nullptr) << error.description;
    EXPECT_EQ(report->signalInfo().name(), "SIGTRAP");
    EXPECT_EQ(report->signalInfo().code(), "TRAP_TRACE");
    EXPECT_TRUE(report->uuidRef());
    EXPECT_EQ(report->applicationInfo().applicationMarketingVersion(), "");
    EXPECT_EQ(*report->customData(), (std::vector<uint8_t>{7, 8, 9}));
    ASSERT_GE(report->threads().size(), 4u);
    int crashed = 0;
    for (size_t i = 0; i < report->threads().size(); ++i) {
        const auto& thread = report->threads()[i];
        EXPECT_EQ(thread.threadNumber(), static_cast<int64_t>(i));  // consecutive
        if (!thread.crashed()) {
            EXPECT_TRUE(thread.registers().empty());
            continue;
        }
        ++crashed;
        EXPECT_EQ(thread.registers().size(), 21u);
        EXPECT_EQ(thread.registers()[0].registerName(), "rip");
        // Frame 1 is the caller of the report: this test's body.
        bool here = false;
        for (const auto& frame : thread.stackFrames()) {
            here = here || (frame.symbolInfo() &&
                            frame.symbolInfo()->symbolName().find("AReportOfThisProcessDecodesAndFormats") !=
                                std::string::npos);
        }
        EXPECT_TRUE(here);
    }
    EXPECT_EQ(crashed, 1);
    // The parked workers' stacks lead through their chains.
    for (size_t w = 0; w < 3; ++w) {
        bool found = false;
        for (const auto& thread : report->threads()) {
            for (const auto& frame : thread.stackFrames()) {
                found = found || frame.instructionPointer() == busy.worker(w).record.returns[2];
            }
        }
        EXPECT_TRUE(found) << "worker " << w;
    }
    const std::string text = QCrashReportTextFormatter::stringValueForCrashReport(*report, 0);
    char exe[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    EXPECT_NE(text.find(std::string("+") + std::filesystem::path(exe).filename().string() + " x86_64"),
              std::string::npos);
    EXPECT_NE(text.find("Exception Type:  SIGTRAP\n"), std::string::npos);
}

TEST(CrashReporterLive, TheBudgetKeepsReportsDecodable) {
    const BusyThreads busy;
    QCrashReporter reporter("budget", "1", "1.0", QCrashReporterConfig(0, 1, false, temporaryBase()));
    const auto whole = reporter.generateLiveReport();
    ASSERT_TRUE(whole);
    const auto full = QCrashReport::create(*whole);
    ASSERT_NE(full, nullptr);

    // Custom data that leaves room for only part of the threads and images.
    const size_t custom = detail::kReportFileLimit - whole->size() / 2;
    reporter.setCustomData(std::vector<uint8_t>(custom, 0xAB));
    platform::Error error;
    const auto cut = reporter.generateLiveReport(&error);
    ASSERT_TRUE(cut) << error.description;
    EXPECT_LE(cut->size(), detail::kReportFileLimit);
    const auto report = QCrashReport::create(*cut, &error);
    ASSERT_NE(report, nullptr) << error.description;
    EXPECT_LT(report->threads().size() + report->images().size(),
              full->threads().size() + full->images().size());
    EXPECT_EQ(report->customData()->size(), custom);
    EXPECT_EQ(report->signalInfo().name(), "SIGTRAP");

    // Custom data beyond the limit: the report cannot be whole, and says so.
    reporter.setCustomData(std::vector<uint8_t>(detail::kReportFileLimit + 1, 1));
    EXPECT_FALSE(reporter.generateLiveReport(&error));
    EXPECT_EQ(error.description, "Failed to write the crash report to disk");
    EXPECT_EQ(error.code, 0);
}

// ---- enabling ----

TEST(CrashReporterEnable, OncePerProcessAndTheFailureCases) {
    const auto result = runInChild([](int fd) {
        // An unusable base path fails before any handler is in: a later
        // enabling may succeed.
        QCrashReporter broken("app", "1", std::nullopt, QCrashReporterConfig(0, 1, false, "/proc/self/nope"));
        platform::Error error;
        if (broken.enableCrashReporter(&error)) _exit(2);
        QCrashReporter good("app", "1", std::nullopt, QCrashReporterConfig(0, 1, false, temporaryBase()));
        if (!good.enableCrashReporter(&error)) _exit(3);
        try {
            good.setCrashCallbacks({0, nullptr, nullptr});
            _exit(4);
        } catch (const QCrashReporterException&) {
        }
        QCrashReporter second("app", "1", std::nullopt, QCrashReporterConfig(0, 1, false, temporaryBase()));
        if (second.enableCrashReporter(&error) || error.code != 3 ||
            error.description != "A QCrashReporter instance has already been enabled")
            _exit(5);
        testing::report(fd, "ok");
    });
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, "ok");

    const auto mach = runInChild([](int fd) {
        QCrashReporter reporter("app", "1", std::nullopt, QCrashReporterConfig(1, 1, false, temporaryBase()));
        platform::Error error;
        if (reporter.enableCrashReporter(&error)) _exit(2);
        if (error.code == 1 && error.posixCode == ENOTSUP &&
            error.description == "Failed to instantiate the Mach exception server.")
            testing::report(fd, "refused");
    });
    EXPECT_EQ(mach.output, "refused");
}

// ---- crashes in forked children ----

int gReportFd = -1;
void crashCallbackMarker(siginfo_t*, ucontext_t*, void*) {
    testing::report(gReportFd, "callback;");
}
void (*gCallback)(siginfo_t*, ucontext_t*, void*) = nullptr;

// The fault address a report must carry.
uint64_t noAddress() {
    return 0;
}
uint64_t readOnlyPage() {
    return reinterpret_cast<uint64_t>(gReadOnlyPage);
}

struct CrashCase {
    const char* name;
    int signo;
    const char* code;
    void (*crash)();
    const char* function;  // expected among the crashed thread's symbols
    // Null where the address is an instruction's or a stack page's.
    uint64_t (*address)() = nullptr;
    size_t threads = 4;  // the crashing one and three parked workers
};

void overflow() {
    crash_fn_overflow(0);
}

// Signals sent by the process to itself (abort, raise) carry code SI_TKILL,
// printed as its number, and no fault address.
const CrashCase kCrashes[] = {
    {"null write", SIGSEGV, "SEGV_MAPERR", crash_fn_null, "crash_fn_null", noAddress},
    {"read-only page", SIGSEGV, "SEGV_ACCERR", crash_fn_readonly, "crash_fn_readonly", readOnlyPage},
    {"trap instruction", SIGILL, "ILL_ILLOPN", crash_fn_trap, "crash_fn_trap"},
    {"division by zero", SIGFPE, "FPE_INTDIV", crash_fn_divide, "crash_fn_divide"},
    {"abort", SIGABRT, "#-6", crash_fn_abort, "crash_fn_abort", noAddress},
    {"SIGBUS", SIGBUS, "#-6", crash_fn_bus, "crash_fn_bus", noAddress},
    {"stack overflow", SIGSEGV, nullptr, overflow, "crash_fn_overflow"},
    {"uncaught exception", SIGABRT, "#-6", throwOnAThread, "crash_fn_throw", noAddress, 5},
};

TEST(CrashReporterCrash, EachCrashLeavesOneDecodableReport) {
    for (const auto& c : kCrashes) {
        SCOPED_TRACE(c.name);
        const std::string base = temporaryBase();
        const auto result = runInChild([&](int fd) {
            gReportFd = fd;
            QCrashReporter reporter("crash.test", "7", std::nullopt, QCrashReporterConfig(0, 1, true, base));
            reporter.setCrashCallbacks({0, nullptr, crashCallbackMarker});
            platform::Error error;
            if (!reporter.enableCrashReporter(&error)) _exit(3);
            std::atomic<int> ready{0};
            std::atomic<bool> go{false};
            Worker workers[3];
            std::vector<std::thread> threads;
            for (auto& w : workers) {
                w.ready = &ready;
                w.go = &go;
                threads.emplace_back([&w] { testing::dwarfChain(&w.record, waitForGo, &w); });
            }
            while (ready.load() < 3) std::this_thread::yield();
            c.crash();
            _exit(4);
        });
        EXPECT_EQ(result.signal, c.signo) << "exit " << result.exitCode;
        EXPECT_EQ(result.output, "callback;");

        QCrashReporter reader("crash.test", "7", std::nullopt, QCrashReporterConfig(0, 1, false, base));
        ASSERT_TRUE(reader.hasPendingCrashReport());
        const auto bytes = reader.loadPendingCrashReportData();
        ASSERT_TRUE(bytes);
        platform::Error error;
        const auto report = QCrashReport::create(*bytes, &error);
        ASSERT_NE(report, nullptr) << error.description;
        const auto message = QCrashReport::decode(*bytes);
        EXPECT_FALSE(message->report_info->user_requested);
        EXPECT_TRUE(report->uuidRef());
        EXPECT_EQ(report->signalInfo().name(), qcrash_async_signal_signame(c.signo));
        if (c.code != nullptr) {
            EXPECT_EQ(report->signalInfo().code(), c.code);
        }
        if (c.address != nullptr) {
            EXPECT_EQ(report->signalInfo().address(), c.address());
        }
        ASSERT_EQ(report->threads().size(), c.threads);
        int crashedCount = 0;
        for (size_t i = 0; i < c.threads; ++i) {
            const auto& thread = report->threads()[i];
            EXPECT_EQ(thread.threadNumber(), static_cast<int64_t>(i));
            if (!thread.crashed()) continue;
            ++crashedCount;
            EXPECT_EQ(thread.registers().size(), 21u);
            bool found = false;
            for (size_t f = 0; f < thread.stackFrames().size() && f < 12; ++f) {
                const auto& symbol = thread.stackFrames()[f].symbolInfo();
                found = found || (symbol && symbol->symbolName() == c.function);
            }
            EXPECT_TRUE(found) << c.function;
        }
        EXPECT_EQ(crashedCount, 1);
        if (std::string(c.name) == "uncaught exception") {
            ASSERT_TRUE(report->exceptionInfo());
            EXPECT_EQ(report->exceptionInfo()->exceptionName(), "std::runtime_error");
            EXPECT_EQ(report->exceptionInfo()->exceptionReason(), "the reason");
            ASSERT_TRUE(report->exceptionInfo()->stackFrames());
            EXPECT_FALSE(report->exceptionInfo()->stackFrames()->empty());
        }
        const std::string text = QCrashReportTextFormatter::stringValueForCrashReport(*report, 0);
        EXPECT_NE(text.find(" +tervolo_crash_tests x86_64"), std::string::npos);
        EXPECT_TRUE(reader.purgePendingCrashReport());
        EXPECT_FALSE(reader.hasPendingCrashReport());
        std::filesystem::remove_all(base);
    }
}

TEST(CrashReporterCrash, TwoThreadsCrashingAtOnceWriteOneReport) {
    const std::string base = temporaryBase();
    const auto result = runInChild([&](int) {
        QCrashReporter reporter("crash.test", "7", std::nullopt, QCrashReporterConfig(0, 1, false, base));
        if (!reporter.enableCrashReporter()) _exit(3);
        std::atomic<int> ready{0};
        std::vector<std::thread> threads;
        for (int i = 0; i < 2; ++i) {
            threads.emplace_back([&] {
                ready.fetch_add(1);
                while (ready.load() < 2) {
                }
                crash_fn_null();
            });
        }
        for (auto& t : threads) t.join();
        _exit(4);
    });
    EXPECT_EQ(result.signal, SIGSEGV);
    QCrashReporter reader("crash.test", "7", std::nullopt, QCrashReporterConfig(0, 1, false, base));
    const auto bytes = reader.loadPendingCrashReportData();
    ASSERT_TRUE(bytes);
    platform::Error error;
    const auto report = QCrashReport::create(*bytes, &error);
    ASSERT_NE(report, nullptr) << error.description;
    int crashed = 0;
    for (const auto& thread : report->threads()) crashed += thread.crashed();
    EXPECT_EQ(crashed, 1);
    std::filesystem::remove_all(base);
}

// The pending report under `base`, decoded; null (with a test failure)
// when there is none or it does not decode.
std::shared_ptr<QCrashReport> pendingReport(const std::string& base) {
    QCrashReporter reader("crash.test", "7", std::nullopt, QCrashReporterConfig(0, 1, false, base));
    const auto bytes = reader.loadPendingCrashReportData();
    if (!bytes) {
        ADD_FAILURE() << "no pending report";
        return nullptr;
    }
    platform::Error error;
    auto report = QCrashReport::create(*bytes, &error);
    if (report == nullptr) ADD_FAILURE() << error.description;
    return report;
}

// Enables a reporter writing under `base` in the (child) process; _exits
// with 3 when that fails.
void enableIn(const std::string& base, bool exceptions = false) {
    // Never freed: the crash handlers refer to it until the process ends.
    auto* reporter =
        new QCrashReporter("crash.test", "7", std::nullopt, QCrashReporterConfig(0, 1, exceptions, base));
    reporter->setCrashCallbacks({0, nullptr, gCallback});
    if (!reporter->enableCrashReporter()) _exit(3);
}

const CrashCase* crashNamed(const std::string& name) {
    for (const auto& c : kCrashes) {
        if (c.name == name) return &c;
    }
    return nullptr;
}

// The program's crash callback faults: it runs after the report is written,
// and its fault must end the process as any crash would, whatever signal the
// first crash came by.
void faultingCallback(siginfo_t*, ucontext_t*, void*) {
    testing::report(gReportFd, "callback;");
    crash_fn_null();
}

// The fault this guards against held the process for the 10 s a second crash
// waits for the first one; ending "at once" is told apart from that with half
// of it. The time also covers the child's teardown and its reaping here,
// which a loaded machine (a sanitizer build among many tests) stretches: a
// tighter bound (2 s) left little room for that.
constexpr double kCrashInHandlerEndsWithinSeconds = 5.0;

TEST(CrashReporterCrash, AFaultInTheCrashCallbackEndsTheProcessAtOnce) {
    for (const char* name : {"abort", "uncaught exception", "division by zero"}) {
        const CrashCase* c = crashNamed(name);
        SCOPED_TRACE(c->name);
        const std::string base = temporaryBase();
        const auto result = runInChild(
            [&](int fd) {
                gReportFd = fd;
                gCallback = faultingCallback;
                enableIn(base, true);
                testing::disableCoreDumps();
                c->crash();
                _exit(4);
            },
            30);
        EXPECT_EQ(result.signal, SIGSEGV) << "exit " << result.exitCode;
        EXPECT_EQ(result.output, "callback;");
        EXPECT_GE(result.secondsAfterFirstOutput, 0);
        EXPECT_LT(result.secondsAfterFirstOutput, kCrashInHandlerEndsWithinSeconds);
        // The report written before the callback is whole.
        const auto report = pendingReport(base);
        ASSERT_NE(report, nullptr);
        EXPECT_EQ(report->signalInfo().name(), qcrash_async_signal_signame(c->signo));
        std::filesystem::remove_all(base);
    }
}

TEST(CrashReporterCrash, AFaultWhileWritingTheReportEndsTheProcessAtOnce) {
    const std::string base = temporaryBase();
    const auto result = runInChild(
        [&](int fd) {
            gCallback = nullptr;
            enableIn(base);
            testing::disableCoreDumps();
            // This thread is the one writing a report when it faults.
            detail::gReporterState.crashInProgress.store(true);
            detail::gReporterState.crashThread.store(pl_mach_thread_self());
            testing::report(fd, "writing;");
            crash_fn_null();
            _exit(4);
        },
        30);
    EXPECT_EQ(result.signal, SIGSEGV) << "exit " << result.exitCode;
    EXPECT_EQ(result.output, "writing;");
    EXPECT_GE(result.secondsAfterFirstOutput, 0);
    EXPECT_LT(result.secondsAfterFirstOutput, kCrashInHandlerEndsWithinSeconds);
    std::filesystem::remove_all(base);
}

std::string realPath(const std::string& path) {
    char buffer[PATH_MAX];
    return realpath(path.c_str(), buffer) != nullptr ? std::string(buffer) : std::string();
}

const QCrashReportBinaryImageInfo* imageNamed(const QCrashReport& report, const std::string& file) {
    for (const auto& image : report.images()) {
        if (realPath(std::string(image.imageName())) == file) return &image;
    }
    return nullptr;
}

TEST(CrashReporterCrash, ALibraryLoadedAfterEnablingIsListedAndNamesItsFrames) {
    const std::string module = realPath(CRASH_TEST_MODULE_PATH);
    const std::string base = temporaryBase();
    const auto result = runInChild([&](int fd) {
        gCallback = nullptr;
        enableIn(base);
        void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) _exit(5);
        void* crash = dlsym(handle, "crash_fixture_module_crash");
        Dl_info info{};
        if (crash == nullptr || dladdr(crash, &info) == 0) _exit(6);
        char line[64];
        snprintf(line, sizeof line, "%llx %llx",
                 static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(info.dli_fbase)),
                 static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(crash)));
        testing::report(fd, line);
        reinterpret_cast<void (*)()>(crash)();
        _exit(4);
    });
    EXPECT_EQ(result.signal, SIGSEGV) << "exit " << result.exitCode;
    unsigned long long loadAddress = 0, function = 0;
    ASSERT_EQ(sscanf(result.output.c_str(), "%llx %llx", &loadAddress, &function), 2) << result.output;

    const auto report = pendingReport(base);
    ASSERT_NE(report, nullptr);
    const auto* image = imageNamed(*report, module);
    ASSERT_NE(image, nullptr) << "the library is not among the images";
    EXPECT_EQ(image->imageBaseAddress(), loadAddress);
    EXPECT_TRUE(image->hasImageUUID());
    const QCrashReportThreadInfo* crashed = nullptr;
    for (const auto& thread : report->threads()) {
        if (thread.crashed()) crashed = &thread;
    }
    ASSERT_NE(crashed, nullptr);
    ASSERT_FALSE(crashed->stackFrames().empty());
    const auto& top = crashed->stackFrames()[0];
    EXPECT_EQ(report->imageForAddress(top.instructionPointer()), image);
    ASSERT_TRUE(top.symbolInfo());
    EXPECT_EQ(top.symbolInfo()->symbolName(), "crash_fixture_module_crash");
    EXPECT_EQ(top.symbolInfo()->startAddress(), function);
    // The library's unwind tables lead out of it, back into the test.
    ASSERT_GE(crashed->stackFrames().size(), 2u);
    EXPECT_NE(report->imageForAddress(crashed->stackFrames()[1].instructionPointer()), image);
    std::filesystem::remove_all(base);
}

TEST(CrashReporterCrash, ALibraryUnloadedBeforeTheCrashIsNotListed) {
    const std::string module = realPath(CRASH_TEST_MODULE_PATH);
    const std::string base = temporaryBase();
    const auto result = runInChild([&](int) {
        void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) _exit(5);
        gCallback = nullptr;
        enableIn(base);  // lists the library
        if (dlclose(handle) != 0) _exit(6);
        if (dlopen(module.c_str(), RTLD_NOW | RTLD_NOLOAD) != nullptr) _exit(7);  // still loaded
        crash_fn_null();
        _exit(4);
    });
    EXPECT_EQ(result.signal, SIGSEGV) << "exit " << result.exitCode;
    const auto report = pendingReport(base);
    ASSERT_NE(report, nullptr);
    EXPECT_EQ(imageNamed(*report, module), nullptr);
    // The rest is still there.
    char exe[PATH_MAX] = {};
    ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    EXPECT_NE(imageNamed(*report, exe), nullptr);
    std::filesystem::remove_all(base);
}

}  // namespace
}  // namespace tervolo::crash

namespace tervolo::crash {
namespace {

TEST(CrashHostInfo, KernelReleaseNumbers) {
    const auto info = QCrashHostInfo::currentHostInfo();
    ASSERT_TRUE(info);
    struct utsname name;
    ASSERT_EQ(uname(&name), 0);
    unsigned long long major = 0, minor = 0;
    ASSERT_EQ(sscanf(name.release, "%llu.%llu", &major, &minor), 2);
    EXPECT_EQ(info->darwinVersion().major, major);
    EXPECT_EQ(info->darwinVersion().minor, minor);
}

}  // namespace
}  // namespace tervolo::crash
