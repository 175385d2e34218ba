#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "analytics/TallyJSON.hpp"
#include "platform/dispatch/NotificationCenter.hpp"

namespace tervolo::analytics {

// Posted by the UI layer when the application gains and loses the focus.
inline constexpr const char* kTallyApplicationDidBecomeActive = "UIApplicationDidBecomeActiveNotification";
inline constexpr const char* kTallyApplicationWillResignActive = "UIApplicationWillResignActiveNotification";

inline constexpr const char* kTallyPMKeyAppStart = "app_start";
inline constexpr const char* kTallyPMKeyAppInForeground = "app_in_foreground";
inline constexpr const char* kTallyPMKeyAppInBackground = "app_in_background";

// Performance traces sent as "apm" requests: network traces the application
// reports, one application-start trace per launch, named custom traces, and
// the time spent in the foreground and in the background. Times are whole
// milliseconds since 1970. Any thread (the trace table has its own lock);
// the focus notifications arrive on the main thread.
class TallyPerformanceMonitoring {
  public:
    // None (with the not-started line) before the client has started.
    static std::shared_ptr<TallyPerformanceMonitoring> sharedInstance();
    static void resetForTesting();

    bool isEnabledOnInitialConfig() const { return isEnabledOnInitialConfig_.load(); }
    void setIsEnabledOnInitialConfig(bool v) { isEnabledOnInitialConfig_.store(v); }

    void startPerformanceMonitoring();
    void stopPerformanceMonitoring();

    void recordNetworkTrace(const std::string& name, int64_t requestPayloadSize, int64_t responsePayloadSize,
                            int64_t responseStatusCode, int64_t startTime, int64_t endTime);
    void recordAppStartDurationTrace(int64_t startTime, int64_t endTime);
    void startCustomTrace(const std::string& name);
    void endCustomTrace(const std::string& name, const std::optional<TallyJSON>& metrics);
    void cancelCustomTrace(const std::string& name);
    void clearAllCustomTraces();

    void startForegroundTrace();
    void endForegroundTrace();
    void startBackgroundTrace();
    void endBackgroundTrace();

  private:
    TallyPerformanceMonitoring() = default;
    void send(const TallyJSON& trace);

    std::atomic<bool> isEnabledOnInitialConfig_{false};
    std::atomic<bool> hasAlreadyRecordedAppStartDurationTrace_{false};
    std::mutex mutex_;
    std::map<std::string, int64_t> startedCustomTraces_;
    std::unique_ptr<platform::NotificationCenter::Token> activeToken_;
    std::unique_ptr<platform::NotificationCenter::Token> resignToken_;
};

}  // namespace tervolo::analytics
