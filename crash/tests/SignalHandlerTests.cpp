#include "crash/SignalHandler.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "ChildProcess.hpp"
#include "crash/SignalNames.hpp"

namespace tervolo::crash {
namespace {

using testing::report;
using testing::runInChild;

// ---- names ----

TEST(SignalNames, HostNumbersGiveTheirOwnNames) {
    struct Case {
        int signo;
        const char* name;
    } cases[] = {
        {SIGABRT, "SIGABRT"},  // before SIGIOT, which shares the number
        {SIGBUS, "SIGBUS"},   {SIGSEGV, "SIGSEGV"}, {SIGUSR1, "SIGUSR1"},   {SIGUSR2, "SIGUSR2"},
        {SIGSYS, "SIGSYS"},   {SIGILL, "SIGILL"},   {SIGFPE, "SIGFPE"},     {SIGTRAP, "SIGTRAP"},
        {SIGCHLD, "SIGCHLD"}, {SIGIO, "SIGIO"},     {SIGWINCH, "SIGWINCH"},
    };
    for (const auto& c : cases) {
        ASSERT_NE(qcrash_async_signal_signame(c.signo), nullptr) << c.name;
        EXPECT_STREQ(qcrash_async_signal_signame(c.signo), c.name);
    }
    EXPECT_EQ(qcrash_async_signal_signame(99), nullptr);
    EXPECT_EQ(qcrash_async_signal_signame(0), nullptr);
}

TEST(SignalNames, CodesFollowTheHostNumbering) {
    struct Case {
        int signo;
        int code;
        const char* name;  // null: unknown pair
    } cases[] = {
        {SIGABRT, 0, "#0"},
        {SIGTRAP, 0, "#0"},
        {SIGTRAP, TRAP_BRKPT, "TRAP_BRKPT"},
        {SIGTRAP, TRAP_TRACE, "TRAP_TRACE"},
        {SIGSEGV, SEGV_MAPERR, "SEGV_MAPERR"},
        {SIGSEGV, SEGV_ACCERR, "SEGV_ACCERR"},
        {SIGBUS, BUS_ADRERR, "BUS_ADRERR"},
        {SIGBUS, 0, "BUS_NOOP"},
        {SIGILL, ILL_ILLOPN, "ILL_ILLOPN"},  // 2 here; another system's 2 is ILL_ILLTRP
        {SIGILL, ILL_ILLTRP, "ILL_ILLTRP"},
        {SIGFPE, FPE_INTDIV, "FPE_INTDIV"},  // 1 here
        {SIGFPE, FPE_FLTDIV, "FPE_FLTDIV"},
        {SIGFPE, 0, "FPE_NOOP"},
        {SIGABRT, SI_TKILL, nullptr},  // what raise() gives
        {SIGSEGV, 3, SEGV_ACCERR == 3 ? "SEGV_ACCERR" : nullptr},
        {SIGUSR1, 0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.signo) + "/" + std::to_string(c.code));
        const char* name = qcrash_async_signal_sigcode(c.signo, c.code);
        if (c.name == nullptr) {
            EXPECT_EQ(name, nullptr);
        } else {
            ASSERT_NE(name, nullptr);
            EXPECT_STREQ(name, c.name);
        }
    }
}

// ---- registration and dispatch in this process (SIGUSR1, SIGUSR2) ----

std::vector<std::string>& events() {
    static std::vector<std::string> list;
    return list;
}

void earlierInfoHandler(int signo, siginfo_t*, void*) {
    events().push_back("earlier:" + std::to_string(signo));
}
void earlierPlainHandler(int signo) {
    events().push_back("plain:" + std::to_string(signo));
}

bool forwardingCallback(int signo, siginfo_t* info, ucontext_t* uap, void* context,
                        qcrash_signal_handler_callback_t* next) {
    events().push_back(static_cast<const char*>(context));
    return QCrashSignalHandlerForward(next, signo, info, uap);
}

bool handlingCallback(int, siginfo_t*, ucontext_t*, void* context, qcrash_signal_handler_callback_t*) {
    events().push_back(static_cast<const char*>(context));
    return true;
}

uintptr_t gStackLocal = 0;
bool stackCallback(int, siginfo_t*, ucontext_t*, void*, qcrash_signal_handler_callback_t*) {
    int local = 0;
    gStackLocal = reinterpret_cast<uintptr_t>(&local);
    return true;
}

class SignalHandler : public ::testing::Test {
  protected:
    void SetUp() override {
        handler_ = QCrashSignalHandler::sharedHandler();
        ASSERT_NE(handler_, nullptr);
        events().clear();
        for (int s : {SIGUSR1, SIGUSR2}) sigaction(s, nullptr, &saved_[s == SIGUSR1 ? 0 : 1]);
    }
    void TearDown() override {
        QCrashSignalHandler::resetHandlers();
        sigaction(SIGUSR1, &saved_[0], nullptr);
        sigaction(SIGUSR2, &saved_[1], nullptr);
    }
    static void install(int signo, void (*info)(int, siginfo_t*, void*), void (*plain)(int)) {
        struct sigaction action {};
        if (info != nullptr) {
            action.sa_sigaction = info;
            action.sa_flags = SA_SIGINFO;
        } else {
            action.sa_handler = plain;
        }
        sigaction(signo, &action, nullptr);
    }

    QCrashSignalHandler* handler_ = nullptr;
    struct sigaction saved_[2];
};

TEST_F(SignalHandler, CallbacksRunFrontFirstThenTheEarlierAction) {
    install(SIGUSR1, earlierInfoHandler, nullptr);
    platform::Error error;
    ASSERT_TRUE(
        handler_->registerHandlerForSignal(SIGUSR1, forwardingCallback, const_cast<char*>("second"), &error))
        << error.description;
    ASSERT_TRUE(
        handler_->registerHandlerForSignal(SIGUSR1, forwardingCallback, const_cast<char*>("first"), &error));

    struct sigaction now;
    sigaction(SIGUSR1, nullptr, &now);
    EXPECT_EQ(now.sa_sigaction, qcrash_signal_handler);
    EXPECT_EQ(now.sa_flags & (SA_SIGINFO | SA_ONSTACK), SA_SIGINFO | SA_ONSTACK);

    raise(SIGUSR1);
    // The second registration did not install again: had it done so, the
    // "earlier" action would be our own handler and this would recurse.
    EXPECT_EQ(events(), (std::vector<std::string>{"first", "second", "earlier:" + std::to_string(SIGUSR1)}));
}

TEST_F(SignalHandler, AHandlingCallbackStopsTheChain) {
    install(SIGUSR1, earlierInfoHandler, nullptr);
    ASSERT_TRUE(handler_->registerHandlerForSignal(SIGUSR1, forwardingCallback, const_cast<char*>("later")));
    ASSERT_TRUE(handler_->registerHandlerForSignal(SIGUSR1, handlingCallback, const_cast<char*>("handler")));
    raise(SIGUSR1);
    EXPECT_EQ(events(), (std::vector<std::string>{"handler"}));
}

TEST_F(SignalHandler, EveryCallbackSeesEverySignalAndEachEarlierActionIsFoundBySignal) {
    install(SIGUSR1, earlierInfoHandler, nullptr);
    install(SIGUSR2, nullptr, earlierPlainHandler);
    ASSERT_TRUE(handler_->registerHandlerForSignal(SIGUSR1, forwardingCallback, const_cast<char*>("one")));
    ASSERT_TRUE(handler_->registerHandlerForSignal(SIGUSR2, forwardingCallback, const_cast<char*>("two")));
    raise(SIGUSR2);
    EXPECT_EQ(events(), (std::vector<std::string>{"two", "one", "plain:" + std::to_string(SIGUSR2)}));
    events().clear();
    raise(SIGUSR1);
    EXPECT_EQ(events(), (std::vector<std::string>{"two", "one", "earlier:" + std::to_string(SIGUSR1)}));
}

TEST_F(SignalHandler, AnIgnoredEarlierActionCountsAsHandled) {
    // Handled, so nothing is raised again (the test binary would end if it
    // were).
    install(SIGUSR1, nullptr, SIG_IGN);
    ASSERT_TRUE(
        handler_->registerHandlerForSignal(SIGUSR1, forwardingCallback, const_cast<char*>("ignored")));
    raise(SIGUSR1);
    EXPECT_EQ(events(), (std::vector<std::string>{"ignored"}));
}

TEST_F(SignalHandler, RunsOnTheAlternateStack) {
    ASSERT_TRUE(handler_->registerHandlerForSignal(SIGUSR1, stackCallback, nullptr));
    stack_t current;
    sigaltstack(nullptr, &current);
    EXPECT_EQ(current.ss_sp, handler_->alternateStack().ss_sp);
    EXPECT_EQ(current.ss_size, QCrashSignalHandler::kAlternateStackSize);
    raise(SIGUSR1);
    const auto* low = static_cast<const char*>(handler_->alternateStack().ss_sp);
    const auto* local = reinterpret_cast<const char*>(gStackLocal);
    EXPECT_GE(local, low);
    EXPECT_LT(local, low + QCrashSignalHandler::kAlternateStackSize);
}

TEST_F(SignalHandler, RegistrationErrorsArePosixErrors) {
    platform::Error error;
    EXPECT_FALSE(handler_->registerHandlerWithSignal(SIGKILL, &error));
    EXPECT_EQ(error.domain, platform::Error::kPOSIXDomain);
    EXPECT_EQ(error.code, EINVAL);
    EXPECT_NE(error.description.find("Failed to register signal handler"), std::string::npos);
}

// ---- fatal signals, each in a forked child ----

// The crashes are the point here: keep the undefined-behaviour sanitizer from
// ending the child first.
#define CRASH_ON_PURPOSE __attribute__((no_sanitize("undefined"), noinline))

// Read through volatile, so the compiler cannot see the null and drop the
// path that writes through it.
int* volatile gNullPointer = nullptr;
CRASH_ON_PURPOSE void nullWrite() {
    *gNullPointer = 1;
}
void illegalInstruction() {
    __builtin_trap();
}
CRASH_ON_PURPOSE void divideByZero() {
    volatile int zero = 0;
    volatile int seven = 7;
    volatile int value = seven / zero;
    (void)value;
}
void breakpoint() {
    asm volatile("int3");
}
void busError() {
    // Touching a file mapping beyond the end of its file.
    char path[] = "/tmp/crash_bus_XXXXXX";
    const int fd = mkstemp(path);
    unlink(path);
    auto* p = static_cast<volatile char*>(mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
    p[0] = 1;
}
void abortNow() {
    abort();
}

// Deep enough to overflow any stack; the depth check only hides the endless
// recursion from the compiler.
volatile int gDepthLimit = 1 << 30;
int recurseForever(int depth) {
    volatile char pad[1024];
    pad[0] = static_cast<char>(depth);
    if (depth > gDepthLimit) return pad[0];
    return recurseForever(depth + 1) + pad[0];
}

struct FatalCase {
    const char* name;
    int signo;
    void (*crash)();
    // A breakpoint is a trap, not a fault: once a handler has dealt with it
    // the program goes on after the instruction.
    bool resumesWhenHandled;
};

const FatalCase kFatalCases[] = {
    {"null write", SIGSEGV, nullWrite, false},
    {"trap instruction", SIGILL, illegalInstruction, false},
    {"division by zero", SIGFPE, divideByZero, false},
    {"breakpoint", SIGTRAP, breakpoint, true},
    {"file mapping past its end", SIGBUS, busError, false},
    {"abort", SIGABRT, abortNow, false},
};

int gReportFd = -1;

// Like the crash reporter's callback: report, put the watched signal back to
// its default action, hand on to the earlier handlers.
bool crashCallback(int signo, siginfo_t* info, ucontext_t* uap, void*,
                   qcrash_signal_handler_callback_t* next) {
    report(gReportFd, "callback;");
    signal(signo, SIG_DFL);
    return QCrashSignalHandlerForward(next, signo, info, uap);
}

void earlierCrashHandler(int, siginfo_t*, void*) {
    report(gReportFd, "earlier;");
}

bool forwardingToEarlier(int signo, siginfo_t* info, ucontext_t* uap, void*,
                         qcrash_signal_handler_callback_t* next) {
    report(gReportFd, "forward;");
    return QCrashSignalHandlerForward(next, signo, info, uap);
}

// Says "not handled" and changes nothing: the dispatcher itself must reset
// the signal before raising it again.
bool unhandledCallback(int, siginfo_t*, ucontext_t*, void*, qcrash_signal_handler_callback_t*) {
    report(gReportFd, "unhandled;");
    return false;
}

TEST(SignalHandlerFatal, HandlerAndEarlierHandlerRunThenTheChildEndsWithTheSignal) {
    for (const auto& c : kFatalCases) {
        SCOPED_TRACE(c.name);
        const auto result = runInChild([&](int fd) {
            gReportFd = fd;
            struct sigaction earlier {};
            earlier.sa_sigaction = earlierCrashHandler;
            earlier.sa_flags = SA_SIGINFO;
            sigaction(c.signo, &earlier, nullptr);
            if (!QCrashSignalHandler::sharedHandler()->registerHandlerForSignal(c.signo, crashCallback,
                                                                                nullptr))
                _exit(3);
            c.crash();
            report(fd, "survived;");
        });
        if (c.resumesWhenHandled) {
            EXPECT_TRUE(result.exited);
            EXPECT_EQ(result.output, "callback;earlier;survived;");
            continue;
        }
        EXPECT_EQ(result.signal, c.signo) << "exit " << result.exitCode;
        EXPECT_EQ(result.output, "callback;earlier;");
    }
}

TEST(SignalHandlerFatal, AnUnhandledSignalIsRaisedOnceAtItsDefaultAction) {
    for (const auto& c : kFatalCases) {
        SCOPED_TRACE(c.name);
        const auto result = runInChild([&](int fd) {
            gReportFd = fd;
            signal(c.signo, SIG_DFL);
            if (!QCrashSignalHandler::sharedHandler()->registerHandlerForSignal(c.signo, unhandledCallback,
                                                                                nullptr))
                _exit(3);
            c.crash();
        });
        EXPECT_EQ(result.signal, c.signo);
        EXPECT_EQ(result.output, "unhandled;");  // once: no loop back into the handler
    }
    // After the lists were emptied no callback remains at all.
    const auto result = runInChild([](int) {
        if (!QCrashSignalHandler::sharedHandler()->registerHandlerWithSignal(SIGUSR1)) _exit(3);
        QCrashSignalHandler::resetHandlers();
        raise(SIGUSR1);
    });
    EXPECT_EQ(result.signal, SIGUSR1);
}

TEST(SignalHandlerFatal, AnIgnoredFaultStillEndsTheProcess) {
    // Returning from a fault runs the faulting instruction again; an earlier
    // "ignore" must not turn a crash into an endless loop.
    const auto result = runInChild([](int fd) {
        gReportFd = fd;
        signal(SIGSEGV, SIG_IGN);
        if (!QCrashSignalHandler::sharedHandler()->registerHandlerForSignal(SIGSEGV, forwardingToEarlier,
                                                                            nullptr))
            _exit(3);
        nullWrite();
    });
    EXPECT_EQ(result.signal, SIGSEGV);
    EXPECT_EQ(result.output, "forward;");
}

TEST(SignalHandlerFatal, AStackOverflowIsHandledOnTheAlternateStack) {
    const auto result = runInChild([](int fd) {
        gReportFd = fd;
        signal(SIGSEGV, SIG_DFL);
        if (!QCrashSignalHandler::sharedHandler()->registerHandlerForSignal(SIGSEGV, unhandledCallback,
                                                                            nullptr))
            _exit(3);
        recurseForever(0);
    });
    EXPECT_EQ(result.signal, SIGSEGV);
    EXPECT_EQ(result.output, "unhandled;");
}

}  // namespace
}  // namespace tervolo::crash
