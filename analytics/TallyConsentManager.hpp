#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace tervolo::analytics {

inline constexpr const char* TLYConsentSessions = "sessions";
inline constexpr const char* TLYConsentEvents = "events";
inline constexpr const char* TLYConsentUserDetails = "users";
inline constexpr const char* TLYConsentCrashReporting = "crashes";
inline constexpr const char* TLYConsentPushNotifications = "push";
inline constexpr const char* TLYConsentLocation = "location";
inline constexpr const char* TLYConsentViewTracking = "views";
inline constexpr const char* TLYConsentAttribution = "attribution";
inline constexpr const char* TLYConsentStarRating = "star-rating";
inline constexpr const char* TLYConsentAppleWatch = "accessory-devices";
inline constexpr const char* TLYConsentPerformanceMonitoring = "apm";
inline constexpr const char* TLYConsentFeedback = "feedback";
inline constexpr const char* TLYConsentRemoteConfig = "remote-config";

// Which features may collect and send data. Without required consent every
// answer is yes. Any thread: the flags are atomics.
class TallyConsentManager {
  public:
    // None (with the not-started line) before the client has started.
    static std::shared_ptr<TallyConsentManager> sharedInstance();
    static void resetForTesting();

    bool requiresConsent() const { return requiresConsent_.load(); }
    void setRequiresConsent(bool v) { requiresConsent_.store(v); }

    bool consentForSessions() const { return answer(sessions_); }
    bool consentForEvents() const { return answer(events_); }
    bool consentForUserDetails() const { return answer(userDetails_); }
    bool consentForCrashReporting() const { return answer(crashReporting_); }
    bool consentForPushNotifications() const { return answer(pushNotifications_); }
    bool consentForLocation() const { return answer(location_); }
    bool consentForViewTracking() const { return answer(viewTracking_); }
    bool consentForAttribution() const { return answer(attribution_); }
    bool consentForPerformanceMonitoring() const { return answer(performanceMonitoring_); }
    bool consentForFeedback() const { return answer(feedback_); }
    bool consentForRemoteConfig() const { return answer(remoteConfig_); }

    // Store the flag and run the feature's side effect.
    void setConsentForSessions(bool v);
    void setConsentForEvents(bool v);
    void setConsentForUserDetails(bool v);
    void setConsentForCrashReporting(bool v);
    void setConsentForPushNotifications(bool v);
    void setConsentForLocation(bool v);
    void setConsentForViewTracking(bool v);
    void setConsentForAttribution(bool v);
    void setConsentForPerformanceMonitoring(bool v);
    void setConsentForFeedback(bool v);
    void setConsentForRemoteConfig(bool v);

    // The ten features reported in a consent request ("remote-config" is not one).
    static const std::vector<std::string>& allFeatures();

    void giveConsentForFeatures(const std::vector<std::string>& features);
    void giveConsentForAllFeatures();
    void cancelConsentForFeatures(const std::vector<std::string>& features);
    void cancelConsentForAllFeatures();
    void cancelConsentForAllFeaturesWithoutSendingConsentsRequest();
    void cancelConsentForFeatures(const std::vector<std::string>& features,
                                  bool shouldSkipSendingConsentsRequest);
    void sendConsents();
    static bool containsFeedbackOrStarRating(const std::vector<std::string>& features);

  private:
    TallyConsentManager() = default;
    bool answer(const std::atomic<bool>& flag) const { return !requiresConsent() || flag.load(); }

    std::atomic<bool> sessions_{false};
    std::atomic<bool> events_{false};
    std::atomic<bool> userDetails_{false};
    std::atomic<bool> crashReporting_{false};
    std::atomic<bool> pushNotifications_{false};
    std::atomic<bool> location_{false};
    std::atomic<bool> viewTracking_{false};
    std::atomic<bool> attribution_{false};
    std::atomic<bool> performanceMonitoring_{false};
    std::atomic<bool> feedback_{false};
    std::atomic<bool> remoteConfig_{false};
    std::atomic<bool> requiresConsent_{false};
};

}  // namespace tervolo::analytics
