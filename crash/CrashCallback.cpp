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

// The watched signals back at their default action: from then on any of
// them ends the process at once.
void resetWatchedSignals() {
    struct sigaction fallback;
    qcrash_async_memset(&fallback, 0, sizeof fallback);
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    for (int watched : kWatchedSignals) sigaction(watched, &fallback, nullptr);
}

// The fault address of a signal. Only the kernel's own signals (si_code
// above 0) carry one; for a signal sent by kill, tkill or sigqueue (abort
// sends itself SIGABRT that way) the same bytes hold the sender's pid and
// uid, which are no address.
uint64_t faultAddress(const siginfo_t* info) {
    if (info == nullptr || info->si_code <= 0) return 0;
    return reinterpret_cast<uint64_t>(info->si_addr);
}

}  // namespace

bool reporterCrashCallback(int signo, siginfo_t* info, ucontext_t* uap, void*,
                           qcrash_signal_handler_callback_t*) {
    const uint32_t self = pl_mach_thread_self();
    if (gReporterState.crashInProgress.exchange(true)) {
        // The writing thread itself faulted, by a signal its first one does
        // not block (a bad read while writing up an abort): waiting for
        // itself would hang, so the process ends here.
        if (gReporterState.crashThread.load() == self) {
            resetWatchedSignals();
            return false;
        }
        // A second thread crashing while the first writes waits here: were the
        // signals already back at their default action, its crash would end the
        // process in the middle of the first one's report.
        waitForTheFirstCrash();
        return false;
    }
    gReporterState.crashThread.store(self);

    qcrash_async_thread_state_t state;
    const bool haveState =
        uap != nullptr && qcrash_async_thread_state_mcontext_init(&state, uap) == QCRASH_ESUCCESS;
    qcrash_log_signal_info_t signal{};
    signal.signo = signo;
    signal.code = info != nullptr ? info->si_code : 0;
    signal.address = faultAddress(info);

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
    // The report is on disk: from here on the watched signals end the
    // process, before the program's callback runs, so that a fault inside it
    // ends the process too (and does not wait for this crash), as do the
    // raise that follows and any thread still waiting above.
    resetWatchedSignals();
    if (written && gReporterState.callbacksSet.load() && gReporterState.callbacks.handleSignal != nullptr) {
        gReporterState.callbacks.handleSignal(info, uap, gReporterState.callbacks.context);
    }
    return false;
}

}  // namespace tervolo::crash::detail
