#include "logging/QLLoggingContextSet.hpp"

namespace tervolo::logging {

void QLLoggingContextSet::addToSet(int64_t context) {
    std::lock_guard lock(_mutex);
    _set.insert(context);
}

void QLLoggingContextSet::removeFromSet(int64_t context) {
    std::lock_guard lock(_mutex);
    _set.erase(context);
}

std::vector<int64_t> QLLoggingContextSet::currentSet() const {
    std::lock_guard lock(_mutex);
    return {_set.begin(), _set.end()};
}

bool QLLoggingContextSet::isInSet(int64_t context) const {
    std::lock_guard lock(_mutex);
    return _set.count(context) != 0;
}

}  // namespace tervolo::logging
