#pragma once

#include <pthread.h>

#include <memory>
#include <utility>

namespace tervolo::logging {

// A POSIX mutex of its own, destroyed with the object. Every operation is
// checked: a failing one stops the program at once, without a message.
class Lock {
  public:
    Lock();
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

    void lock();
    void unlock();

    // Runs `body` between lock and unlock and returns its result.
    template <typename Body>
    decltype(auto) withLock(Body&& body) {
        lock();
        const Unlocker unlocker{this};
        return std::forward<Body>(body)();
    }

  private:
    struct Unlocker {
        Lock* owner;
        ~Unlocker() { owner->unlock(); }
    };
    std::unique_ptr<pthread_mutex_t> mutex_;
};

}  // namespace tervolo::logging
