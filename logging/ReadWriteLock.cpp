#include "logging/ReadWriteLock.hpp"

#include <cstdlib>

namespace tervolo::logging {

namespace {
// A fatal precondition failure: no text, the program stops.
void check(int result) {
    if (result != 0) std::abort();
}
}  // namespace

ReadWriteLock::ReadWriteLock() : rwlock_(std::make_unique<pthread_rwlock_t>()) {
    check(pthread_rwlock_init(rwlock_.get(), nullptr));
}

ReadWriteLock::~ReadWriteLock() {
    check(pthread_rwlock_destroy(rwlock_.get()));
}

void ReadWriteLock::lockRead() {
    check(pthread_rwlock_rdlock(rwlock_.get()));
}

void ReadWriteLock::lockWrite() {
    check(pthread_rwlock_wrlock(rwlock_.get()));
}

void ReadWriteLock::unlock() {
    check(pthread_rwlock_unlock(rwlock_.get()));
}

}  // namespace tervolo::logging
