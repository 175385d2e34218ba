#include "logging/Lock.hpp"

#include <cstdlib>

namespace tervolo::logging {

namespace {
// A fatal precondition failure: no text, the program stops.
void check(int result) {
    if (result != 0) std::abort();
}
}  // namespace

Lock::Lock() : mutex_(std::make_unique<pthread_mutex_t>()) {
    check(pthread_mutex_init(mutex_.get(), nullptr));
}

Lock::~Lock() {
    check(pthread_mutex_destroy(mutex_.get()));
}

void Lock::lock() {
    check(pthread_mutex_lock(mutex_.get()));
}

void Lock::unlock() {
    check(pthread_mutex_unlock(mutex_.get()));
}

}  // namespace tervolo::logging
