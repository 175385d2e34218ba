// The main queue's run loop and its executor seam: tests pump the queue with RunLoop, the
// application hands it to the Qt event loop through setMainQueueExecutor.

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/MainQueueExecutor.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/dispatch/detail/MainQueueState.hpp"
#include "platform/dispatch/detail/QueueFrames.hpp"

namespace platform {

namespace {

using detail::fatal;
using detail::MainState;
using SteadyClock = std::chrono::steady_clock;

// How long one drain may run the main queue before it yields to the event loop.
constexpr auto kMainQueueDrainSlice = std::chrono::milliseconds(4);

pid_t currentTid() {
    thread_local const pid_t tid = static_cast<pid_t>(::syscall(SYS_gettid));
    return tid;
}

}  // namespace

bool isMainThread() {
    // getpid() is a system call on every invocation; the answer never changes
    // for a thread, and this test sits on the logging hot path.
    thread_local const bool onMainThread = currentTid() == ::getpid();
    return onMainThread;
}

void setMainQueueExecutor(std::shared_ptr<MainQueueExecutor> executor) {
    auto& state = MainState::shared();
    {
        std::lock_guard lock(state.executorMutex);
        state.executor = std::move(executor);
    }
    if (!state.empty()) {
        if (auto e = state.currentExecutor()) e->wakeUp();
    }
}

int drainMainQueue() {
    if (!isMainThread()) fatal("the main queue can only be drained on the main thread", kMainQueueLabel);
    auto& state = MainState::shared();
    size_t budget;
    {
        std::lock_guard lock(state.mutex);
        budget = state.items.size();
    }
    // Bounded by time as well as by count, so a flood of main-queue work never holds the event loop
    // for more than a few milliseconds: what is left runs in the next turn, after input and paint.
    const auto deadline = SteadyClock::now() + kMainQueueDrainSlice;
    int ran = 0;
    while (budget-- > 0 && state.runOne()) {
        ++ran;
        if (SteadyClock::now() >= deadline) break;
    }
    if (!state.empty()) {
        if (auto e = state.currentExecutor()) e->wakeUp();
    }
    return ran;
}

namespace RunLoop {

bool runUntil(std::function<bool()> condition, double timeoutSeconds) {
    if (!isMainThread())
        fatal("RunLoop::runUntil runs the main queue and must be called on the main thread", kMainQueueLabel);
    auto& state = MainState::shared();
    const double timeout = std::isnan(timeoutSeconds) ? 0.0 : std::clamp(timeoutSeconds, 0.0, 1e6);
    const auto deadline = SteadyClock::now() + std::chrono::duration_cast<SteadyClock::duration>(
                                                   std::chrono::duration<double>(timeout));
    for (;;) {
        if (condition()) return true;
        if (state.runOne()) continue;
        const auto now = SteadyClock::now();
        if (now >= deadline) return condition();
        // The condition may also turn true through other threads without any main-queue work, so
        // look at it again at least every few milliseconds.
        std::unique_lock lock(state.mutex);
        state.changed.wait_until(lock, std::min(deadline, now + std::chrono::milliseconds(2)),
                                 [&] { return !state.items.empty(); });
    }
}

void runUntilIdle() {
    if (!isMainThread()) fatal("RunLoop::runUntilIdle must be called on the main thread", kMainQueueLabel);
    auto& state = MainState::shared();
    while (state.runOne()) {
    }
}

}  // namespace RunLoop

}  // namespace platform
