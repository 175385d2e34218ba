#pragma once

// The crash reporter's process-wide state, shared by the reporter object
// and its crash callback. Static storage, never destroyed: a crash may come
// while the program exits.

#include <signal.h>
#include <ucontext.h>

#include <atomic>
#include <climits>

#include "crash/AsyncImageList.hpp"
#include "crash/QCrashLogWriter.hpp"
#include "crash/SignalHandler.hpp"

namespace tervolo::crash {

// Called after a crash report was written, inside the crash handler (so held
// to the same rules: async-safe only).
struct QCrashReporterCallbacks {
    uint16_t version;  // must be 0
    void* context;
    void (*handleSignal)(siginfo_t* info, ucontext_t* uap, void* context);
};

namespace detail {

struct ReporterState {
    qcrash_log_writer_t writer;
    qcrash_async_image_list_t images;
    char pendingPath[PATH_MAX];
    std::atomic<bool> crashInProgress;
    // The thread writing the crash report (its kernel id), once one is.
    std::atomic<uint32_t> crashThread;
    std::atomic<bool> callbacksSet;
    QCrashReporterCallbacks callbacks;
};

extern ReporterState gReporterState;

// The signals the reporter watches, in registration order.
inline constexpr int kWatchedSignals[] = {SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV, SIGTRAP};

// The signal crash callback: writes the pending report, puts the watched
// signals back to their default action, calls the program's crash callback
// and answers "not handled", so that the signal ends the process. One crash
// at a time: a second crashing thread waits for the first, while a fault of
// the writing thread itself (in the writer or in the program's callback)
// ends the process at once.
bool reporterCrashCallback(int signo, siginfo_t* info, ucontext_t* uap, void* context,
                           qcrash_signal_handler_callback_t* next);

// Output limit of a report file, bytes.
inline constexpr uint64_t kReportFileLimit = 262144;

}  // namespace detail

}  // namespace tervolo::crash
