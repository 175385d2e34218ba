#pragma once

// Registers of the other threads of our own process. Linux cannot read
// another thread's registers from inside the process, so each thread is
// sent a signal whose handler copies its interrupted register state into a
// slot, says so, and waits until it is released. The crash-time writer parks
// every other thread this way, walks their stacks, and releases them.
//
// The parking signal is installed ahead of time (not async-safe); parking and
// releasing are async-safe. One capture at a time per process.

#include <signal.h>

#include <atomic>

#include "crash/AsyncThreadState.hpp"

namespace tervolo::crash {

struct qcrash_async_thread_entry_t {
    uint32_t tid;
    // Set when the thread answered in time; `state` is then its registers at
    // the signal.
    std::atomic<uint32_t> captured;
    qcrash_async_thread_state_t state;
};

// Installs the parking handler on a real-time signal (SA_RESTART, so the
// threads' system calls resume afterwards); idempotent. False when the signal
// cannot be installed.
bool qcrash_nasync_thread_capture_install();
int qcrash_thread_capture_signal();

// Lists the other threads of the process (at most `max`), parks them and
// waits up to `timeout_ns` for all of them to answer. Returns the number of
// entries filled; threads that did not answer (the signal blocked, or gone)
// keep `captured` 0. Call qcrash_async_threads_release afterwards in every
// case. 0 threads when another capture is in progress.
uint32_t qcrash_async_threads_park(qcrash_async_thread_entry_t* entries, uint32_t max, uint64_t timeout_ns);

// Lets the parked threads go on, and waits (bounded) until each has left the
// handler, so that `entries` may be reused.
void qcrash_async_threads_release();

// The ids of our process's threads, read from /proc/self/task without the
// heap (at most `max`).
uint32_t qcrash_async_thread_list(uint32_t* tids, uint32_t max);

namespace detail {
void qcrash_thread_park_handler(int signo, siginfo_t* info, void* context);
void qcrash_thread_capture_set_signal(int signo);
}  // namespace detail

}  // namespace tervolo::crash
