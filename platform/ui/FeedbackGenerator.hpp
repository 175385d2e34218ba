#pragma once

#include <cstdint>

namespace platform {

// The haptic "notification" feedback of the platform. A desktop has no
// haptics: the calls do nothing but are counted, so tests can check that a
// screen asked for feedback. Main thread only.
class NotificationFeedbackGenerator {
  public:
    // The platform's raw values.
    enum class FeedbackType : int { success = 0, warning = 1, error = 2 };

    void prepare() { ++prepareCount_; }
    void notificationOccurred(FeedbackType type);

    // Calls of notificationOccurred across all generators, and per type.
    static uint64_t notificationCount();
    static uint64_t notificationCount(FeedbackType type);
    static void resetCountsForTesting();

    uint64_t prepareCount() const { return prepareCount_; }

  private:
    uint64_t prepareCount_ = 0;
};

}  // namespace platform
