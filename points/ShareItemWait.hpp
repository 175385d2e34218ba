#pragma once

#include <functional>
#include <optional>
#include <string>

namespace tervolo::points {

class QuovaMapPointStore;

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

// Blocks the calling thread while `store` lists an upload for `identifier`, in
// the pauses of the current ShareItemWait, calling `willPause` before each
// pause (the caller's log line). True when the upload ended, false when the
// limit was reached first. Any thread; the share sheet calls it from its
// worker, since on the main thread the whole wait freezes the window.
bool waitForShorturlUpload(QuovaMapPointStore& store, const std::string& identifier,
                           const std::function<void()>& willPause);

// The limit of the current ShareItemWait, in seconds (for log lines).
double shareItemWaitLimit();

}  // namespace tervolo::points
