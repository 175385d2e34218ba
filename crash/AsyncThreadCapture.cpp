#include "crash/AsyncThreadCapture.hpp"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "crash/MachOFormat.hpp"

namespace tervolo::crash {

namespace {

std::atomic<int> gSignal{0};
std::atomic<bool> gBusy{false};
std::atomic<qcrash_async_thread_entry_t*> gEntries{nullptr};
std::atomic<uint32_t> gCount{0};
std::atomic<bool> gRelease{true};
std::atomic<int32_t> gInside{0};

uint64_t nowNs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

}  // namespace

namespace detail {

void qcrash_thread_capture_set_signal(int signo) {
    gSignal.store(signo);
}

void qcrash_thread_park_handler(int, siginfo_t*, void* context) {
    const int savedErrno = errno;
    gInside.fetch_add(1);
    const auto tid = static_cast<uint32_t>(syscall(SYS_gettid));
    qcrash_async_thread_entry_t* entries = gEntries.load();
    const uint32_t count = gCount.load();
    for (uint32_t i = 0; entries != nullptr && i < count; ++i) {
        if (entries[i].tid != tid) continue;
        qcrash_async_thread_state_mcontext_init(&entries[i].state, static_cast<const ucontext_t*>(context));
        entries[i].captured.store(1, std::memory_order_release);
        while (!gRelease.load(std::memory_order_acquire)) sched_yield();
        break;
    }
    gInside.fetch_sub(1);
    errno = savedErrno;
}

}  // namespace detail

namespace {

// The Linux directory-entry record getdents64 fills.
struct linux_dirent64 {
    uint64_t d_ino;
    int64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[];
};

}  // namespace

int qcrash_thread_capture_signal() {
    return gSignal.load();
}

uint32_t qcrash_async_thread_list(uint32_t* tids, uint32_t max) {
    const int fd = static_cast<int>(
        syscall(SYS_openat, AT_FDCWD, "/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd < 0) return 0;
    alignas(8) char buffer[2048];
    uint32_t count = 0;
    for (;;) {
        const long n = syscall(SYS_getdents64, fd, buffer, sizeof buffer);
        if (n <= 0) break;
        for (long offset = 0; offset < n;) {
            const auto* entry = reinterpret_cast<const linux_dirent64*>(buffer + offset);
            offset += entry->d_reclen;
            uint32_t tid = 0;
            bool digits = entry->d_name[0] != 0;
            for (const char* c = entry->d_name; *c != 0; ++c) {
                if (*c < '0' || *c > '9') {
                    digits = false;
                    break;
                }
                tid = tid * 10 + static_cast<uint32_t>(*c - '0');
            }
            if (digits && count < max) tids[count++] = tid;
        }
    }
    close(fd);
    return count;
}

uint32_t qcrash_async_threads_park(qcrash_async_thread_entry_t* entries, uint32_t max, uint64_t timeout_ns) {
    const int signo = gSignal.load();
    if (signo == 0) return 0;
    bool expected = false;
    if (!gBusy.compare_exchange_strong(expected, true)) return 0;

    uint32_t tids[1024];
    const uint32_t listed = qcrash_async_thread_list(tids, max < 1024 ? max : 1024);
    const auto self = static_cast<uint32_t>(syscall(SYS_gettid));
    uint32_t count = 0;
    for (uint32_t i = 0; i < listed; ++i) {
        if (tids[i] == self) continue;
        entries[count].tid = tids[i];
        entries[count].captured.store(0);
        ++count;
    }
    gRelease.store(false);
    gCount.store(count);
    gEntries.store(entries);

    const auto pid = static_cast<pid_t>(syscall(SYS_getpid));
    for (uint32_t i = 0; i < count; ++i) syscall(SYS_tgkill, pid, entries[i].tid, signo);
    const uint64_t deadline = nowNs() + timeout_ns;
    for (;;) {
        uint32_t answered = 0;
        for (uint32_t i = 0; i < count; ++i) answered += entries[i].captured.load(std::memory_order_acquire);
        if (answered == count || nowNs() >= deadline) break;
        sched_yield();
    }
    return count;
}

void qcrash_async_threads_release() {
    gRelease.store(true, std::memory_order_release);
    // Threads still inside the handler read the entries; wait for them (a
    // second at most: one that never leaves must not hang the caller).
    const uint64_t deadline = nowNs() + 1000000000ull;
    while (gInside.load() > 0 && nowNs() < deadline) sched_yield();
    gEntries.store(nullptr);
    gCount.store(0);
    gBusy.store(false);
}

}  // namespace tervolo::crash
