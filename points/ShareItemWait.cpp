#include "points/ShareItemWait.hpp"

#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>

#include "points/QuovaMapPointStore.hpp"

namespace tervolo::points {

namespace {

struct WaitSlot {
    std::mutex mutex;
    std::optional<ShareItemWait> wait;
};

WaitSlot& waitSlot() {
    static auto* slot = new WaitSlot;  // never destroyed: safe at exit
    return *slot;
}

ShareItemWait currentWait() {
    std::lock_guard lock(waitSlot().mutex);
    return waitSlot().wait.value_or(ShareItemWait{});
}

}  // namespace

void setShareItemWaitForTesting(std::optional<ShareItemWait> wait) {
    std::lock_guard lock(waitSlot().mutex);
    waitSlot().wait = std::move(wait);
}

double shareItemWaitLimit() {
    const ShareItemWait wait = currentWait();
    return wait.limitSeconds > 0 ? wait.limitSeconds : 0;
}

bool waitForShorturlUpload(QuovaMapPointStore& store, const std::string& identifier,
                           const std::function<void()>& willPause) {
    const ShareItemWait wait = currentWait();
    const double interval = wait.pollIntervalSeconds > 0 ? wait.pollIntervalSeconds : 0.1;
    const double limit = wait.limitSeconds > 0 ? wait.limitSeconds : 0;
    const auto maxPolls = static_cast<long>(std::ceil(limit / interval));
    // The upload's completion removes its entry from the running uploads after
    // caching the link, so an ended wait finds the link when there is one.
    for (long polls = 0;; ++polls) {
        if (!store.isEncodingShorturl(identifier)) return true;
        if (polls >= maxPolls) return false;
        if (willPause) willPause();
        if (wait.sleep) {
            wait.sleep(interval);
        } else {
            std::this_thread::sleep_for(std::chrono::duration<double>(interval));
        }
    }
}

}  // namespace tervolo::points
