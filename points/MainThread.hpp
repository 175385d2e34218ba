#pragma once

#include <functional>
#include <string>

#include "platform/dispatch/DispatchQueue.hpp"
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

// Runs `block` on the main thread and returns when it has run: inline when
// called there, else as a block of the main queue (so the main thread must not
// be waiting for the caller). Share items read their point this way from the
// share sheet's worker thread.
inline void runOnMainThread(const std::function<void()>& block) {
    if (platform::isMainThread()) {
        block();
    } else {
        platform::DispatchQueue::main()->sync(block);
    }
}

}  // namespace tervolo::points
