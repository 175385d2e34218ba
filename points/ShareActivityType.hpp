#pragma once

#include <functional>
#include <optional>
#include <string>

// The share sheet's ways of sharing, as the point's item request tells them
// apart, and the bounds of the item request's wait for a short link.
namespace tervolo::points {

// The activity types the share item answers specially; any other text (or
// none) gets the plain "title link" text. The share sheet of the UI layer
// passes these values.
inline constexpr const char* UIActivityTypeAirDrop = "com.apple.UIKit.activity.AirDrop";
inline constexpr const char* UIActivityTypeMessage = "com.apple.UIKit.activity.Message";
inline constexpr const char* UIActivityTypeCopyToPasteboard = "com.apple.UIKit.activity.CopyToPasteboard";
inline constexpr const char* UIActivityTypePostToTwitter = "com.apple.UIKit.activity.PostToTwitter";
inline constexpr const char* UIActivityTypeMail = "com.apple.UIKit.activity.Mail";

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
