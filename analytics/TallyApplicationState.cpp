#include "analytics/TallyApplicationState.hpp"

#include "analytics/TallyDeviceInfo.hpp"
#include "platform/dispatch/NotificationCenter.hpp"

namespace tervolo::analytics {

void TallyApplicationState::update(TallyDesktopState state) {
    if (terminated_) {
        return;
    }
    auto& center = platform::NotificationCenter::defaultCenter();
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
