#pragma once

#include <string>

#include "platform/dispatch/MainQueueExecutor.hpp"
#include "platform/foundation/Assertion.hpp"

namespace tervolo::points {

// The stores hold no lock around their lists: the operations the screens call
// run on the main thread only. Debug builds report a call from elsewhere
// through the assertion handler; release builds do not check.
inline void assertMainThread([[maybe_unused]] const char* store, [[maybe_unused]] const char* operation) {
#ifndef NDEBUG
    if (!platform::isMainThread()) {
        platform::assertionFailure("isMainThread()", store,
                                   std::string(operation) + " must run on the main thread");
    }
#endif
}

}  // namespace tervolo::points
