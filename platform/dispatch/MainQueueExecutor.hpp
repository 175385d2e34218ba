#pragma once

#include <functional>
#include <memory>

namespace platform {

// What makes main-queue blocks run on the main thread. The default does nothing by itself: the main
// thread runs the queue through RunLoop::runUntil (tests). The application installs the Qt event loop
// (platform/ui QtMainQueueExecutor).
class MainQueueExecutor {
  public:
    virtual ~MainQueueExecutor() = default;
    // Called on any thread when the main queue gained work: arrange for drainMainQueue() to be called
    // on the main thread soon. Calls may be coalesced.
    virtual void wakeUp() = 0;
    // Optionally runs `fire` on the main thread after `delaySeconds` with the executor's own timers;
    // false means "not supported" and the dispatch scheduler is used. Not used under a VirtualClock.
    virtual bool scheduleAfter(double delaySeconds, std::function<void()> fire) {
        (void)delaySeconds;
        (void)fire;
        return false;
    }
};

// Installs the executor (nullptr: back to manual pumping). Thread-safe.
void setMainQueueExecutor(std::shared_ptr<MainQueueExecutor> executor);
// Runs the main-queue blocks queued now, in order, on the calling thread, which must be the main
// thread, for at most about 4 ms. Returns how many ran. Blocks queued while draining, and those left
// when the time is up, run in a later call (the executor is woken again), so a busy queue cannot
// starve the event loop.
int drainMainQueue();
// True on the process's initial thread.
bool isMainThread();

}  // namespace platform
