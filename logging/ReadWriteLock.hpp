#pragma once

#include <pthread.h>

#include <memory>
#include <utility>

namespace tervolo::logging {

// A POSIX read-write lock of its own, made with default attributes when the
// object is made and destroyed with it. Every lock operation is checked: a
// failing one stops the program at once, without a message (a broken lock
// leaves no safe way on).
class ReadWriteLock {
  public:
    ReadWriteLock();
    ~ReadWriteLock();
    ReadWriteLock(const ReadWriteLock&) = delete;
    ReadWriteLock& operator=(const ReadWriteLock&) = delete;

    void lockRead();
    void lockWrite();
    void unlock();

    // Runs `body` between lockRead (or lockWrite) and unlock and returns its result.
    template <typename Body>
    decltype(auto) withReaderLock(Body&& body) {
        lockRead();
        const Unlocker unlocker{this};
        return std::forward<Body>(body)();
    }
    template <typename Body>
    decltype(auto) withWriterLock(Body&& body) {
        lockWrite();
        const Unlocker unlocker{this};
        return std::forward<Body>(body)();
    }

  private:
    struct Unlocker {
        ReadWriteLock* lock;
        ~Unlocker() { lock->unlock(); }
    };
    std::unique_ptr<pthread_rwlock_t> rwlock_;
};

}  // namespace tervolo::logging
