#include "testsupport/Eventually.hpp"

#include <thread>

namespace tervolo::testsupport {

bool eventually(const std::function<bool()>& condition, std::chrono::steady_clock::duration timeout) {
    // Real time on purpose: a test may have a virtual clock installed that nothing advances.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace tervolo::testsupport
