#include "analytics/TallyApplicationState.hpp"

#include "analytics/TallyDeviceInfo.hpp"
#include "analytics/TallyPerformanceMonitoring.hpp"
#include "platform/dispatch/NotificationCenter.hpp"

namespace tervolo::analytics {

void TallyApplicationState::update(TallyDesktopState state) {
    if (terminated_) {
        return;
    }
    auto& center = platform::NotificationCenter::defaultCenter();
    // Focus: performance monitoring times the foreground by it.
    const bool active = state == TallyDesktopState::Active;
    if (active != active_) {
        active_ = active;
        center.post(active ? kTallyApplicationDidBecomeActive : kTallyApplicationWillResignActive);
    }
    switch (state) {
        case TallyDesktopState::Hidden:
        case TallyDesktopState::Suspended:
            if (!inBackground_) {
                inBackground_ = true;
                center.post(kTallyApplicationDidEnterBackground);
            }
            break;
        case TallyDesktopState::Active:
            if (inBackground_) {
                inBackground_ = false;
                center.post(kTallyApplicationWillEnterForeground);
            }
            break;
        case TallyDesktopState::Inactive:
            break;
    }
}

void TallyApplicationState::terminate() {
    if (terminated_) {
        return;
    }
    terminated_ = true;
    platform::NotificationCenter::defaultCenter().post(kTallyApplicationWillTerminate);
}

}  // namespace tervolo::analytics
