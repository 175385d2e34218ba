#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "analytics/TallyJSON.hpp"

namespace tervolo::analytics {

inline constexpr const char* kTallyVTKeyName = "name";
inline constexpr const char* kTallyVTKeySegment = "segment";
inline constexpr const char* kTallyVTKeyVisit = "visit";
inline constexpr const char* kTallyVTKeyStart = "start";
inline constexpr const char* kTallyVTKeyBounce = "bounce";
inline constexpr const char* kTallyVTKeyExit = "exit";
inline constexpr const char* kTallyVTKeyView = "view";
inline constexpr const char* kTallyVTKeyDomain = "domain";
inline constexpr const char* kTallyVTKeyDur = "dur";
inline constexpr const char* kTallyOrientationKeyMode = "mode";
// Posted by the UI layer when the screen's orientation changes.
inline constexpr const char* kTallyDeviceOrientationDidChange = "UIDeviceOrientationDidChangeNotification";

// A screen that appeared, as the UI layer describes it: its name (title,
// navigation title or class name) and its class chain, most derived first.
struct TallyScreen {
    std::string title;
    std::string className;
    std::vector<std::string> inheritanceChain;
};

// Which screen the user looks at and for how long, as "[TLY]_view" events:
// one when a view starts, one with its duration when it ends. The time spent
// in the background does not count; every foreground stretch of a view does.
// Main thread.
class TallyViewTracking {
  public:
    // None (with the not-started line) before the client has started.
    static std::shared_ptr<TallyViewTracking> sharedInstance();
    static void resetForTesting();

    bool isEnabledOnInitialConfig() const { return isEnabledOnInitialConfig_.load(); }
    void setIsEnabledOnInitialConfig(bool v) { isEnabledOnInitialConfig_.store(v); }
    bool isAutoViewTrackingActive() const { return isAutoViewTrackingActive_.load(); }
    void setIsAutoViewTrackingActive(bool active);

    void startView(const std::string& name,
                   const std::optional<TallyJSON>& customSegmentation = std::nullopt);
    void endView();
    void pauseView();
    void resumeView();
    void startAutoViewTracking();
    void stopAutoViewTracking();
    void addExceptionForAutoViewTracking(const std::string& name);
    void removeExceptionForAutoViewTracking(const std::string& name);
    std::vector<std::string> exceptionViewControllers() const;
    // The UI layer's screen-appeared hook lands here.
    void viewDidAppear(const TallyScreen& screen);

    std::optional<std::string> lastView() const;
    static const std::vector<std::string>& reservedViewTrackingSegmentationKeys();

  private:
    TallyViewTracking();

    std::atomic<bool> isEnabledOnInitialConfig_{false};
    std::atomic<bool> isAutoViewTrackingActive_{false};
    mutable std::mutex mutex_;
    std::optional<std::string> lastView_;
    double lastViewStartTime_ = 0;   // seconds since 1970; start or last resume
    double viewStartTimestamp_ = 0;  // the view's first start: the end event's timestamp
    double accumulatedTime_ = 0;     // seconds of foreground before the latest background period
    bool paused_ = false;
    std::vector<std::string> exceptionViewControllers_;
};

// Orientation events: a change is recorded 0.5 s after the last of a burst,
// as "[TLY]_orientation" with "mode" "portrait" or "landscape". Main thread.
void TallyObserveDeviceOrientationChanges();
void TallyDeviceOrientationDidChange();
void TallyRecordOrientation();

}  // namespace tervolo::analytics
