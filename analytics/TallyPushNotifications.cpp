#include "analytics/TallyPushNotifications.hpp"

#include "analytics/Tally.hpp"
#include "analytics/TallyCommon.hpp"
#include "analytics/TallyConnectionManager.hpp"
#include "analytics/TallyConsentManager.hpp"
#include "analytics/TallyEvent.hpp"
#include "analytics/TallyPersistency.hpp"
#include "analytics/TallySingleton.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/SharedInstance.hpp"

namespace tervolo::analytics {

namespace {

TallySingleton<TallyPushNotifications>& pushNotificationsSlot() {
    return platform::SharedInstance<TallySingleton<TallyPushNotifications>>::get();
}

bool consentGiven() {
    auto consent = TallyConsentManager::sharedInstance();
    return consent && consent->consentForPushNotifications();
}

// The analytics server's part of a notification: "c", when it has an "i".
std::optional<TallyJSON> serverPayload(const TallyJSON& userInfo) {
    if (!userInfo.is_object() || !userInfo.contains("c") || !userInfo["c"].is_object()) return std::nullopt;
    const TallyJSON& payload = userInfo["c"];
    if (!payload.contains("i") || !payload["i"].is_string()) return std::nullopt;
    return payload;
}

std::optional<std::string> text(const TallyJSON& object, const char* key) {
    if (!object.is_object() || !object.contains(key) || !object[key].is_string()) return std::nullopt;
    return object[key].get<std::string>();
}

}  // namespace

void TallyUnavailableNotificationCenter::registerForRemoteNotifications() {
    // No remote-notification service on a Linux desktop.
    platform::Error error;
    error.domain = kTallyErrorDomain;
    error.description = "Remote notifications are not available on this system";
    if (auto push = TallyPushNotifications::sharedInstance())
        push->didFailToRegisterForRemoteNotifications(error);
}

void TallyUnavailableNotificationCenter::requestAuthorization(
    int, std::function<void(bool granted, std::optional<platform::Error> error)> done) {
    done(false, std::nullopt);
}

std::shared_ptr<TallyPushNotifications> TallyPushNotifications::sharedInstance() {
    return pushNotificationsSlot().get([] { return new TallyPushNotifications(); });
}

void TallyPushNotifications::resetForTesting() {
    pushNotificationsSlot().reset();
}

TallyPushNotifications::TallyPushNotifications()
    : port_(std::make_shared<TallyUnavailableNotificationCenter>()) {}

void TallyPushNotifications::setPort(std::shared_ptr<TallyNotificationCenterPort> port) {
    std::lock_guard lock(mutex_);
    port_ = std::move(port);
}

std::shared_ptr<TallyNotificationCenterPort> TallyPushNotifications::port() const {
    std::lock_guard lock(mutex_);
    return port_;
}

void TallyPushNotifications::setPushTestMode(std::optional<std::string> mode) {
    if (auto connection = TallyConnectionManager::sharedInstance())
        connection->setPushTestMode(std::move(mode));
}

std::optional<std::string> TallyPushNotifications::token() const {
    std::lock_guard lock(mutex_);
    return token_;
}

std::string TallyPushNotifications::tokenText(const std::vector<uint8_t>& deviceToken) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (const uint8_t byte : deviceToken) {
        hex.push_back(kHex[byte >> 4]);
        hex.push_back(kHex[byte & 0x0F]);
    }
    return hex;
}

void TallyPushNotifications::startPushNotifications() {
    if (!isEnabledOnInitialConfig() || !consentGiven()) return;
    port()->registerForRemoteNotifications();
}

void TallyPushNotifications::stopPushNotifications() {
    if (!isEnabledOnInitialConfig()) return;
    port()->unregisterForRemoteNotifications();
}

void TallyPushNotifications::didRegisterForRemoteNotifications(const std::vector<uint8_t>& deviceToken) {
    const std::string hex = tokenText(deviceToken);
    TallyLog(TallyLogLevel::Debug, "App didRegisterForRemoteNotificationsWithDeviceToken: {}", hex);
    {
        std::lock_guard lock(mutex_);
        token_ = hex;
    }
    sendToken();
}

void TallyPushNotifications::didFailToRegisterForRemoteNotifications(const platform::Error& error) {
    TallyLog(TallyLogLevel::Debug, "App didFailToRegisterForRemoteNotificationsWithError: {}",
             error.description);
    {
        std::lock_guard lock(mutex_);
        token_ = kTallyTokenError;
    }
    sendToken();
}

void TallyPushNotifications::sendToken() {
    const auto current = token();
    if (!consentGiven() || !current) return;
    if (*current == kTallyTokenError) {
        clearToken();
        return;
    }
    auto connection = TallyConnectionManager::sharedInstance();
    if (!connection) return;
    if (sendPushTokenAlways_) {
        connection->sendPushToken(*current);
        return;
    }
    const bool wasAllowed = TallyPersistency::retrieveNotificationPermission();
    port()->authorizationStatus([this, current = *current, wasAllowed](int status) {
        auto connection = TallyConnectionManager::sharedInstance();
        if (!connection) return;
        if (status == kTallyAuthorizationAuthorized || status == kTallyAuthorizationProvisional) {
            connection->sendPushToken(current);
            TallyPersistency::storeNotificationPermission(true);
        } else if (wasAllowed) {
            clearToken();
            TallyPersistency::storeNotificationPermission(false);
        }
    });
}

void TallyPushNotifications::clearToken() {
    if (auto connection = TallyConnectionManager::sharedInstance()) connection->sendPushToken("");
}

void TallyPushNotifications::askForNotificationPermission(
    int options, std::function<void(bool, std::optional<platform::Error>)> done) {
    if (!consentGiven()) return;
    port()->requestAuthorization(options == 0 ? kTallyAuthorizationBadgeSoundAlert : options,
                                 [this, done](bool granted, std::optional<platform::Error> error) {
                                     if (done) done(granted, error);
                                     sendToken();
                                 });
}

int TallyPushNotifications::willPresentNotification(const TallyJSON& userInfo) {
    TallyLog(TallyLogLevel::Debug, "userNotificationCenter:willPresentNotification:withCompletionHandler:");
    TallyLog(TallyLogLevel::Debug, "{}", userInfo.dump());
    if (!doNotShowAlertForNotifications_ && serverPayload(userInfo)) {
        return kTallyPresentationAlert;
    }
    return 0;
}

void TallyPushNotifications::didReceiveNotificationResponse(const TallyJSON& userInfo,
                                                            const std::string& actionIdentifier) {
    TallyLog(TallyLogLevel::Debug,
             "userNotificationCenter:didReceiveNotificationResponse:withCompletionHandler:");
    TallyLog(TallyLogLevel::Debug, "{}", userInfo.dump());
    const auto payload = serverPayload(userInfo);
    if (!consentGiven() || !payload) return;
    TallyLog(TallyLogLevel::Debug, "Action Identifier: {}", actionIdentifier);
    std::optional<std::string> link;
    int64_t index = 0;
    const std::string prefix = kTallyActionIdentifier;
    if (actionIdentifier == kTallyDefaultActionIdentifier) {
        link = text(*payload, "l");
    } else if (actionIdentifier.rfind(prefix, 0) == 0) {
        try {
            index = std::stoll(actionIdentifier.substr(prefix.size()));
        } catch (const std::exception&) {
            index = 0;
        }
        const auto buttons = payload->contains("b") ? (*payload)["b"] : TallyJSON();
        // A number that names no button (which the service never makes) opens nothing.
        if (buttons.is_array() && index >= 1 && static_cast<size_t>(index) <= buttons.size()) {
            link = text(buttons[static_cast<size_t>(index - 1)], "l");
        }
    }
    recordActionEvent((*payload)["i"].get<std::string>(), index);
    openURL(link);
}

void TallyPushNotifications::recordActionForNotification(const TallyJSON& userInfo, int64_t buttonIndex) {
    if (!consentGiven()) return;
    if (const auto payload = serverPayload(userInfo)) {
        recordActionEvent((*payload)["i"].get<std::string>(), buttonIndex);
    }
}

void TallyPushNotifications::recordActionEvent(const std::string& notificationID, int64_t buttonIndex) {
    Tally::sharedInstance().recordReservedEvent(
        kTallyReservedEventPushAction, TallyJSON{{"i", notificationID}, {"b", buttonIndex}, {"p", "i"}});
}

void TallyPushNotifications::openURL(const std::optional<std::string>& url) {
    if (!url) return;
    auto target = port();
    platform::DispatchQueue::main()->asyncAfter(0.01, [target, link = *url] { target->openURL(link); });
}

TallyNotificationServiceContent TallyPushNotifications::serviceContent(const TallyJSON& userInfo) {
    TallyNotificationServiceContent content;
    const auto payload = serverPayload(userInfo);
    if (!payload) return content;
    const std::string identifier = (*payload)["i"].get<std::string>();
    if (payload->contains("b") && (*payload)["b"].is_array() && !(*payload)["b"].empty()) {
        size_t n = 0;
        for (const auto& button : (*payload)["b"]) {
            ++n;
            content.actions.emplace_back(kTallyActionIdentifier + std::to_string(n),
                                         text(button, "t").value_or(""));
        }
        content.categoryIdentifier = kTallyCategoryIdentifier + identifier;
    }
    if (auto attachment = text(*payload, "a"); attachment && !attachment->empty()) {
        content.attachmentURL = attachment;
    }
    return content;
}

}  // namespace tervolo::analytics
