#include "platform/ui/FeedbackGenerator.hpp"

#include <array>

#include "platform/ui/ViewControllerMainThread.hpp"

namespace platform {

namespace {

std::array<uint64_t, 3>& counts() {
    static std::array<uint64_t, 3> perType{};  // main thread only
    return perType;
}

size_t indexOf(NotificationFeedbackGenerator::FeedbackType type) {
    const int raw = static_cast<int>(type);
    return raw >= 0 && raw < 3 ? static_cast<size_t>(raw) : 0;
}

}  // namespace

void NotificationFeedbackGenerator::notificationOccurred(FeedbackType type) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    ++counts()[indexOf(type)];
}

uint64_t NotificationFeedbackGenerator::notificationCount() {
    uint64_t total = 0;
    for (uint64_t count : counts()) total += count;
    return total;
}

uint64_t NotificationFeedbackGenerator::notificationCount(FeedbackType type) {
    return counts()[indexOf(type)];
}

void NotificationFeedbackGenerator::resetCountsForTesting() {
    counts() = {};
}

}  // namespace platform
