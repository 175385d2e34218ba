#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include "platform/dispatch/MainQueueExecutor.hpp"

class QObject;

namespace platform {

// Runs the main queue on the Qt event loop: queued blocks are drained from a posted event on the GUI
// thread (one posted event at a time, however many blocks arrive), and main-queue delays become Qt
// precise timers on that thread. Under a VirtualClock delays still follow the virtual clock.
class QtMainQueueExecutor : public MainQueueExecutor,
                            public std::enable_shared_from_this<QtMainQueueExecutor> {
  public:
    // Creates the executor and installs it for the main queue. Call on the main thread once the
    // QCoreApplication exists; blocks queued before are drained on the first turn of the loop.
    static std::shared_ptr<QtMainQueueExecutor> install();

    void wakeUp() override;
    bool scheduleAfter(double delaySeconds, std::function<void()> fire) override;

    ~QtMainQueueExecutor() override;
    QtMainQueueExecutor(const QtMainQueueExecutor&) = delete;
    QtMainQueueExecutor& operator=(const QtMainQueueExecutor&) = delete;

  private:
    QtMainQueueExecutor();

    QObject* context_;                 // lives on the GUI thread; posted events and timers target it
    std::atomic<bool> posted_{false};  // a drain event is on its way
};

}  // namespace platform
