// The reporter's crash callback. Async-safe: it runs in the signal handler
// of the crashing thread.
#include <fcntl.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include "crash/ReporterState.hpp"

namespace tervolo::crash::detail {

ReporterState gReporterState{};

namespace {

// A second crashing thread waits this long for the first to end the process.
constexpr int64_t kWaitForFirstCrashSeconds = 10;

void waitForTheFirstCrash() {
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec - start.tv_sec > kWaitForFirstCrashSeconds) return;
        sched_yield();
    }
}

}  // namespace

bool reporterCrashCallback(int signo, siginfo_t* info, ucontext_t* uap, void*,
                           qcrash_signal_handler_callback_t*) {
    // A second thread crashing while the first writes waits here: were the
    // signals already back at their default action, its crash would end the
    // process in the middle of the first one's report.
    if (gReporterState.crashInProgress.exchange(true)) {
        waitForTheFirstCrash();
        return false;
    }

    qcrash_async_thread_state_t state;
    const bool haveState =
        uap != nullptr && qcrash_async_thread_state_mcontext_init(&state, uap) == QCRASH_ESUCCESS;
    qcrash_log_signal_info_t signal{};
    signal.signo = signo;
    signal.code = info != nullptr ? info->si_code : 0;
    signal.address = info != nullptr ? reinterpret_cast<uint64_t>(info->si_addr) : 0;

    bool written = false;
    const int fd =
        open(gReporterState.pendingPath, O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0) {
        qcrash_async_file_t file;
        qcrash_async_file_init(&file, fd, kReportFileLimit);
        const qcrash_error_t error =
            qcrash_log_writer_write(&gReporterState.writer, pl_mach_thread_self(), &gReporterState.images,
                                    &file, &signal, haveState ? &state : nullptr);
        qcrash_log_writer_close(&gReporterState.writer);
        const bool closed = qcrash_async_file_close(&file);
        written = error == QCRASH_ESUCCESS && closed;
    }
    if (written && gReporterState.callbacksSet.load() && gReporterState.callbacks.handleSignal != nullptr) {
        gReporterState.callbacks.handleSignal(info, uap, gReporterState.callbacks.context);
    }
    // From here on the watched signals end the process: the raise that
    // follows, and any thread still waiting above.
    struct sigaction fallback;
    qcrash_async_memset(&fallback, 0, sizeof fallback);
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    for (int watched : kWatchedSignals) sigaction(watched, &fallback, nullptr);
    return false;
}

}  // namespace tervolo::crash::detail
