#include "logging/QLLoggingContextSet.hpp"

namespace tervolo::logging {

void QLLoggingContextSet::addToSet(int64_t context) {
    std::lock_guard lock(mutex_);
    set_.insert(context);
}

void QLLoggingContextSet::removeFromSet(int64_t context) {
    std::lock_guard lock(mutex_);
    set_.erase(context);
}

std::vector<int64_t> QLLoggingContextSet::currentSet() const {
    std::lock_guard lock(mutex_);
    return {set_.begin(), set_.end()};
}

bool QLLoggingContextSet::isInSet(int64_t context) const {
    std::lock_guard lock(mutex_);
    return set_.count(context) != 0;
}

}  // namespace tervolo::logging
