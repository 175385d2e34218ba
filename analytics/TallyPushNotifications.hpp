#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "analytics/TallyJSON.hpp"
#include "platform/foundation/Error.hpp"

namespace tervolo::analytics {

inline constexpr const char* kTallyTokenError = "kTallyTokenError";
inline constexpr const char* kTallyActionIdentifier = "TallyActionIdentifier";
inline constexpr const char* kTallyCategoryIdentifier = "TallyCategoryIdentifier";
inline constexpr const char* kTallyDefaultActionIdentifier =
    "com.apple.UNNotificationDefaultActionIdentifier";
// Authorisation statuses and presentation options, the platform's numbers.
inline constexpr int kTallyAuthorizationAuthorized = 2;
inline constexpr int kTallyAuthorizationProvisional = 3;
inline constexpr int kTallyPresentationAlert = 4;
inline constexpr int kTallyAuthorizationBadgeSoundAlert = 7;

// The system's notification services as the push module needs them. A
// desktop Linux session has no remote-notification service: its port
// reports every registration as failed. Tests drive a fake.
class TallyNotificationCenterPort {
  public:
    virtual ~TallyNotificationCenterPort() = default;
    // Answers later through TallyPushNotifications::didRegister / didFailToRegister.
    virtual void registerForRemoteNotifications() = 0;
    virtual void unregisterForRemoteNotifications() = 0;
    virtual void requestAuthorization(
        int options, std::function<void(bool granted, std::optional<platform::Error> error)> done) = 0;
    virtual void authorizationStatus(std::function<void(int status)> done) = 0;
    virtual void openURL(const std::string& url) = 0;
};

// The port of this platform: no remote notifications exist here.
class TallyUnavailableNotificationCenter : public TallyNotificationCenterPort {
  public:
    void registerForRemoteNotifications() override;
    void unregisterForRemoteNotifications() override {}
    void requestAuthorization(
        int options, std::function<void(bool granted, std::optional<platform::Error> error)> done) override;
    void authorizationStatus(std::function<void(int status)> done) override { done(0); }
    void openURL(const std::string&) override {}
};

// What a server notification asks the notification service to add before
// it is shown: a category of action buttons and a media attachment.
struct TallyNotificationServiceContent {
    std::optional<std::string> categoryIdentifier;             // "TallyCategoryIdentifier<id>"
    std::vector<std::pair<std::string, std::string>> actions;  // (identifier, title)
    std::optional<std::string> attachmentURL;
};

// Push notifications of the analytics server: the device token as hex text
// (sent, or cleared as the permission changes), server notifications shown
// and handled ("[TLY]_push_action" and their links). Behind a
// TallyNotificationCenterPort; off unless the configuration lists the
// feature. Main thread.
class TallyPushNotifications {
  public:
    static std::shared_ptr<TallyPushNotifications> sharedInstance();
    static void resetForTesting();

    void setPort(std::shared_ptr<TallyNotificationCenterPort> port);
    bool isEnabledOnInitialConfig() const { return isEnabledOnInitialConfig_.load(); }
    void setIsEnabledOnInitialConfig(bool v) { isEnabledOnInitialConfig_.store(v); }
    void setPushTestMode(std::optional<std::string> mode);
    void setSendPushTokenAlways(bool v) { sendPushTokenAlways_ = v; }
    void setDoNotShowAlertForNotifications(bool v) { doNotShowAlertForNotifications_ = v; }
    std::optional<std::string> token() const;

    void startPushNotifications();
    void stopPushNotifications();
    void askForNotificationPermission(int options,
                                      std::function<void(bool, std::optional<platform::Error>)> done);
    void sendToken();
    void clearToken();
    // The registration's answers.
    void didRegisterForRemoteNotifications(const std::vector<uint8_t>& deviceToken);
    void didFailToRegisterForRemoteNotifications(const platform::Error& error);
    // A notification shown while the application is in front: the
    // presentation options (0 for none).
    int willPresentNotification(const TallyJSON& userInfo);
    // The user chose a notification or one of its buttons.
    void didReceiveNotificationResponse(const TallyJSON& userInfo, const std::string& actionIdentifier);
    void recordActionForNotification(const TallyJSON& userInfo, int64_t buttonIndex);

    static std::string tokenText(const std::vector<uint8_t>& deviceToken);
    static TallyNotificationServiceContent serviceContent(const TallyJSON& userInfo);

  private:
    TallyPushNotifications();
    std::shared_ptr<TallyNotificationCenterPort> port() const;
    void recordActionEvent(const std::string& notificationID, int64_t buttonIndex);
    void openURL(const std::optional<std::string>& url);

    std::atomic<bool> isEnabledOnInitialConfig_{false};
    std::atomic<bool> sendPushTokenAlways_{false};
    std::atomic<bool> doNotShowAlertForNotifications_{false};
    mutable std::mutex mutex_;
    std::shared_ptr<TallyNotificationCenterPort> port_;
    std::optional<std::string> token_;
};

}  // namespace tervolo::analytics
