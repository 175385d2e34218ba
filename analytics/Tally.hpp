#pragma once

#include "platform/dispatch/SharedInstance.hpp"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "analytics/TallyConfig.hpp"
#include "analytics/TallyCrashReporter.hpp"
#include "analytics/TallyJSON.hpp"
#include "analytics/TallyUserDetails.hpp"
#include "platform/dispatch/NotificationCenter.hpp"

namespace platform {
class Timer;
}

namespace tervolo::analytics {

// The analytics client's one public entry object. The application fills a
// TallyConfig, hands it once to startWithConfig(), and then records events
// (and views, crashes, …) through the shared instance. Almost everything is a
// forward to the module that owns it.
//
// Start, the lifecycle handlers and the session timer run on the main thread
// (the timer fires on the main queue); the recording calls may come from any
// thread. Before start every forward does nothing.
class Tally {
  public:
    static Tally& sharedInstance();

    // Validates the key and host first (throws TallyConfigError and stays not
    // started), then starts once; a second start does nothing.
    void startWithConfig(const TallyConfig& config);

    void setNewHost(const std::string& host);
    void setNewAppKey(const std::string& appKey);
    void flushQueues();
    void replaceAllAppKeysInQueueWithCurrentAppKey();
    void removeDifferentAppKeysFromQueue();

    // Manual sessions: only when the configuration asked for them.
    void beginSession();
    void updateSession();
    void endSession();

    // Lifecycle (main thread). suspend/resume pair up: a resume without a
    // suspend before it begins no second session.
    void suspend();
    void resume();
    void applicationDidEnterBackground();
    void applicationWillEnterForeground();
    // Sends nothing more and writes the queue before returning.
    void applicationWillTerminate();
    void onTimer();
    bool isSuspended() const { return isSuspended_.load(); }

    // Device identifier.
    std::string deviceID() const;  // URL-escaped
    std::string deviceIDType() const;
    void setNewDeviceID(const std::optional<std::string>& deviceID, bool onServer);
    void storeCustomDeviceIDState(const std::optional<std::string>& deviceID);
    void userLoggedIn(const std::string& userID);
    void userLoggedOut();

    // Attribution.
    void recordAttributionID(const std::string& attributionID);
    void recordDirectAttributionWithCampaignType(const std::optional<std::string>& campaignType,
                                                 const std::optional<std::string>& campaignData);
    void recordIndirectAttribution(const TallyJSON& attribution);

    // Consent.
    void giveConsentForFeature(const std::string& feature);
    void giveConsentForFeatures(const std::vector<std::string>& features);
    void giveConsentForAllFeatures();
    void cancelConsentForFeature(const std::string& feature);
    void cancelConsentForFeatures(const std::vector<std::string>& features);
    void cancelConsentForAllFeatures();

    // Location (degrees; the invalid coordinate (-180, -180) sets none).
    void recordLocation(double latitude, double longitude, const std::optional<std::string>& city,
                        const std::optional<std::string>& ISOCountryCode,
                        const std::optional<std::string>& IP);
    void recordLocation(double latitude, double longitude);
    void recordCity(const std::string& city, const std::string& ISOCountryCode);
    void recordIP(const std::string& IP);
    void disableLocationInfo();

    // Events. Segmentation is an object of string (or number) values.
    void recordEvent(const std::string& key);
    void recordEvent(const std::string& key, uint64_t count);
    void recordEventSum(const std::string& key, double sum);
    void recordEventDuration(const std::string& key, double duration);
    void recordEvent(const std::string& key, uint64_t count, double sum);
    void recordEvent(const std::string& key, const TallyJSON& segmentation);
    void recordEvent(const std::string& key, const TallyJSON& segmentation, uint64_t count);
    void recordEvent(const std::string& key, const TallyJSON& segmentation, uint64_t count, double sum);
    // The consent-checking entry every form above ends in.
    void recordEvent(const std::string& key, const std::optional<TallyJSON>& segmentation, uint64_t count,
                     double sum, double duration);
    // The client's own "[TLY]_…" events: the caller has checked its consent.
    void recordReservedEvent(const std::string& key, const std::optional<TallyJSON>& segmentation);
    void recordReservedEvent(const std::string& key, const std::optional<TallyJSON>& segmentation,
                             uint64_t count, double sum, double duration, double timestamp);
    // Builds and stores the event, no consent check (timestamp in seconds since 1970).
    void recordEvent(const std::string& key, const std::optional<TallyJSON>& segmentation, uint64_t count,
                     double sum, double duration, double timestamp);
    void startEvent(const std::string& key);
    void endEvent(const std::string& key);
    void endEvent(const std::string& key, const std::optional<TallyJSON>& segmentation, uint64_t count,
                  double sum);
    void cancelEvent(const std::string& key);

    // Star rating and the server's rating and feedback widgets.
    void askForStarRating(std::function<void(int rating)> completion);
    void presentFeedbackWidgetWithID(const std::string& widgetID,
                                     std::function<void(const std::optional<platform::Error>&)> completion);
    void presentRatingWidgetWithID(const std::string& widgetID,
                                   std::function<void(const std::optional<platform::Error>&)> completion);
    void recordRatingWidgetWithID(const std::string& widgetID, int64_t rating,
                                  const std::optional<std::string>& email,
                                  const std::optional<std::string>& comment, bool userCanBeContacted);

    // Push notifications.
    void askForNotificationPermission();
    void askForNotificationPermission(
        int options, std::function<void(bool, std::optional<platform::Error>)> completionHandler);
    void recordPushNotificationToken();
    void clearPushNotificationToken();
    void recordActionForNotification(const TallyJSON& userInfo, int64_t clickedButtonIndex);

    // Remote config.
    std::optional<TallyJSON> remoteConfigValueForKey(const std::string& key);
    void updateRemoteConfigWithCompletionHandler(
        std::function<void(const std::optional<platform::Error>&)> done);
    void updateRemoteConfigOnlyForKeys(const std::vector<std::string>& keys,
                                       std::function<void(const std::optional<platform::Error>&)> done);
    void updateRemoteConfigExceptForKeys(const std::vector<std::string>& omitKeys,
                                         std::function<void(const std::optional<platform::Error>&)> done);

    // User details (before start too) and performance traces (milliseconds since 1970).
    static TallyUserDetails& user();
    void appLoadingFinished();
    void recordNetworkTrace(const std::string& name, int64_t requestPayloadSize, int64_t responsePayloadSize,
                            int64_t responseStatusCode, int64_t startTime, int64_t endTime);
    void startCustomTrace(const std::string& name);
    void endCustomTrace(const std::string& name, const std::optional<TallyJSON>& metrics);
    void cancelCustomTrace(const std::string& name);
    void clearAllCustomTraces();

    // Views.
    void recordView(const std::string& name);
    void recordView(const std::string& name, const TallyJSON& segmentation);
    void addExceptionForAutoViewTracking(const std::string& name);
    void removeExceptionForAutoViewTracking(const std::string& name);
    void setIsAutoViewTrackingActive(bool active);
    bool isAutoViewTrackingActive() const;

    // Crashes the application reports itself, and breadcrumbs.
    void recordHandledException(const TallyException& exception);
    void recordHandledException(const TallyException& exception, const std::vector<std::string>& stackTrace);
    void recordUnhandledException(const TallyException& exception,
                                  const std::vector<std::string>& stackTrace);
    void recordCrashLog(const std::string& log);
    void clearCrashLogs();

    // Back to "never started" (tests): timer stopped, flags cleared.
    void resetForTesting();

  private:
    friend class platform::SharedInstance<Tally>;
    Tally();
    std::atomic<bool> isSuspended_{false};
    std::mutex mutex_;
    std::shared_ptr<platform::Timer> timer_;
    std::vector<std::unique_ptr<platform::NotificationCenter::Token>> observers_;
};

}  // namespace tervolo::analytics
