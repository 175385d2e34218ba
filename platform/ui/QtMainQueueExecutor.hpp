#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include "platform/dispatch/MainQueueExecutor.hpp"

class QObject;

namespace platform {

// Runs the main queue on the Qt event loop: queued blocks are drained from a posted event on the GUI
// thread (one posted event at a time, however many blocks arrive). Main-queue delays stay with the
// dispatch scheduler, which hands each block to the main queue when it falls due: Qt timers take
// an int of milliseconds (a delay past 24.8 days would wrap) and belong to this executor, so work
// delayed through them would vanish with it when another executor is installed.
class QtMainQueueExecutor : public MainQueueExecutor,
                            public std::enable_shared_from_this<QtMainQueueExecutor> {
  public:
    // Creates the executor and installs it for the main queue. Call on the main thread once the
    // QCoreApplication exists; blocks queued before are drained on the first turn of the loop.
    static std::shared_ptr<QtMainQueueExecutor> install();

    void wakeUp() override;

    ~QtMainQueueExecutor() override;
    QtMainQueueExecutor(const QtMainQueueExecutor&) = delete;
    QtMainQueueExecutor& operator=(const QtMainQueueExecutor&) = delete;

  private:
    QtMainQueueExecutor();

    QObject* context_;                 // lives on the GUI thread; posted events and timers target it
    std::atomic<bool> posted_{false};  // a drain event is on its way
};

}  // namespace platform
