#pragma once

#include <functional>
#include <optional>

namespace tervolo::points {

// How the item request waits for a running short-link upload: it looks every
// `pollIntervalSeconds` and gives up after `limitSeconds` (then it shares the
// OpenStreetMap link), so a stalled upload cannot block the share sheet's
// thread for ever. `sleep` (seconds) is the pause between looks; empty means a
// real sleep of the calling thread.
struct ShareItemWait {
    double limitSeconds = 10.0;
    double pollIntervalSeconds = 0.1;
    std::function<void(double seconds)> sleep;
};

// Tests: replaces the wait (none: the default above). Thread-safe.
void setShareItemWaitForTesting(std::optional<ShareItemWait> wait);

}  // namespace tervolo::points
