#include "analytics/TallyConsentManager.hpp"

#include <algorithm>

#include "analytics/TallyCommon.hpp"
#include "analytics/TallyConnectionManager.hpp"
#include "analytics/TallyCrashReporter.hpp"
#include "analytics/TallyFeedbacks.hpp"
#include "analytics/TallyJSON.hpp"
#include "analytics/TallyLocationManager.hpp"
#include "analytics/TallyPerformanceMonitoring.hpp"
#include "analytics/TallyPersistency.hpp"
#include "analytics/TallyPushNotifications.hpp"
#include "analytics/TallyRemoteConfig.hpp"
#include "analytics/TallySingleton.hpp"
#include "analytics/TallyUserDetails.hpp"
#include "analytics/TallyViewTracking.hpp"
#include "platform/dispatch/SharedInstance.hpp"

namespace tervolo::analytics {

namespace {
TallySingleton<TallyConsentManager>& consentManagerSlot() {
    return platform::SharedInstance<TallySingleton<TallyConsentManager>>::get();
}

bool contains(const std::vector<std::string>& list, const char* name) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

void logChange(const char* feature, bool given) {
    TallyLog(TallyLogLevel::Debug, "Consent for {} is {}", feature, given ? "given." : "cancelled.");
}
}  // namespace

std::shared_ptr<TallyConsentManager> TallyConsentManager::sharedInstance() {
    return consentManagerSlot().get([] { return new TallyConsentManager(); });
}

void TallyConsentManager::resetForTesting() {
    consentManagerSlot().reset();
}

const std::vector<std::string>& TallyConsentManager::allFeatures() {
    static const auto* features = new std::vector<std::string>{TLYConsentSessions,
                                                               TLYConsentEvents,
                                                               TLYConsentUserDetails,
                                                               TLYConsentCrashReporting,
                                                               TLYConsentPushNotifications,
                                                               TLYConsentLocation,
                                                               TLYConsentViewTracking,
                                                               TLYConsentAttribution,
                                                               TLYConsentPerformanceMonitoring,
                                                               TLYConsentFeedback};
    return *features;
}

void TallyConsentManager::setConsentForSessions(bool v) {
    sessions_ = v;
    logChange("Session", v);
    if (v && !TallyCommon::sharedInstance().manualSessionHandling()) {
        if (auto connection = TallyConnectionManager::sharedInstance()) connection->beginSession();
    }
}

void TallyConsentManager::setConsentForEvents(bool v) {
    events_ = v;
    logChange("Events", v);
    if (!v) {
        if (auto connection = TallyConnectionManager::sharedInstance()) connection->sendEvents();
        if (auto persistency = TallyPersistency::sharedInstance()) persistency->clearAllTimedEvents();
    }
}

void TallyConsentManager::setConsentForUserDetails(bool v) {
    userDetails_ = v;
    logChange("UserDetails", v);
    if (!v) TallyUserDetails::sharedInstance().clearUserDetails();
}

void TallyConsentManager::setConsentForCrashReporting(bool v) {
    crashReporting_ = v;
    logChange("CrashReporting", v);
    if (auto reporter = TallyCrashReporter::sharedInstance()) {
        if (v) {
            reporter->startCrashReporting();
        } else {
            reporter->stopCrashReporting();
        }
    }
}

void TallyConsentManager::setConsentForPushNotifications(bool v) {
    pushNotifications_ = v;
    logChange("PushNotifications", v);
    if (auto push = TallyPushNotifications::sharedInstance()) {
        if (v) {
            push->startPushNotifications();
        } else {
            push->stopPushNotifications();
        }
    }
}

void TallyConsentManager::setConsentForLocation(bool v) {
    location_ = v;
    logChange("Location", v);
    if (v) {
        if (auto location = TallyLocationManager::sharedInstance()) location->sendLocationInfo();
    }
}

void TallyConsentManager::setConsentForViewTracking(bool v) {
    viewTracking_ = v;
    logChange("ViewTracking", v);
    if (auto viewTracking = TallyViewTracking::sharedInstance()) {
        if (v) {
            viewTracking->startAutoViewTracking();
        } else {
            viewTracking->stopAutoViewTracking();
        }
    }
}

void TallyConsentManager::setConsentForAttribution(bool v) {
    attribution_ = v;
    logChange("Attribution", v);
    if (v) {
        if (auto connection = TallyConnectionManager::sharedInstance()) connection->sendAttribution();
    }
}

void TallyConsentManager::setConsentForPerformanceMonitoring(bool v) {
    performanceMonitoring_ = v;
    logChange("PerformanceMonitoring", v);
    if (auto performance = TallyPerformanceMonitoring::sharedInstance()) {
        if (v) {
            performance->startPerformanceMonitoring();
        } else {
            performance->stopPerformanceMonitoring();
        }
    }
}

void TallyConsentManager::setConsentForFeedback(bool v) {
    feedback_ = v;
    logChange("Feedback", v);
    if (v) {
        if (auto feedbacks = TallyFeedbacks::sharedInstance()) feedbacks->checkForStarRatingAutoAsk();
    }
}

void TallyConsentManager::setConsentForRemoteConfig(bool v) {
    remoteConfig_ = v;
    logChange("RemoteConfig", v);
    if (v) {
        if (auto remoteConfig = TallyRemoteConfig::sharedInstance()) remoteConfig->startRemoteConfig();
    }
}

bool TallyConsentManager::containsFeedbackOrStarRating(const std::vector<std::string>& features) {
    return contains(features, TLYConsentFeedback) || contains(features, TLYConsentStarRating);
}

void TallyConsentManager::giveConsentForFeatures(const std::vector<std::string>& features) {
    if (!requiresConsent() || features.empty()) {
        return;
    }
    // Location first, so a location request goes before the session begin.
    if (contains(features, TLYConsentLocation) && !location_) setConsentForLocation(true);
    if (contains(features, TLYConsentSessions) && !sessions_) setConsentForSessions(true);
    if (contains(features, TLYConsentEvents) && !events_) setConsentForEvents(true);
    if (contains(features, TLYConsentUserDetails) && !userDetails_) setConsentForUserDetails(true);
    if (contains(features, TLYConsentCrashReporting) && !crashReporting_) setConsentForCrashReporting(true);
    if (contains(features, TLYConsentPushNotifications) && !pushNotifications_)
        setConsentForPushNotifications(true);
    if (contains(features, TLYConsentViewTracking) && !viewTracking_) setConsentForViewTracking(true);
    if (contains(features, TLYConsentAttribution) && !attribution_) setConsentForAttribution(true);
    if (contains(features, TLYConsentPerformanceMonitoring) && !performanceMonitoring_) {
        setConsentForPerformanceMonitoring(true);
    }
    if (containsFeedbackOrStarRating(features) && !feedback_) setConsentForFeedback(true);
    if (contains(features, TLYConsentRemoteConfig) && !remoteConfig_) setConsentForRemoteConfig(true);
    sendConsents();
}

void TallyConsentManager::giveConsentForAllFeatures() {
    giveConsentForFeatures(allFeatures());
}

void TallyConsentManager::cancelConsentForFeatures(const std::vector<std::string>& features) {
    cancelConsentForFeatures(features, false);
}

void TallyConsentManager::cancelConsentForAllFeatures() {
    cancelConsentForFeatures(allFeatures(), false);
}

void TallyConsentManager::cancelConsentForAllFeaturesWithoutSendingConsentsRequest() {
    cancelConsentForFeatures(allFeatures(), true);
}

void TallyConsentManager::cancelConsentForFeatures(const std::vector<std::string>& features,
                                                   bool shouldSkipSendingConsentsRequest) {
    if (!requiresConsent()) {
        return;
    }
    if (contains(features, TLYConsentSessions) && sessions_) setConsentForSessions(false);
    if (contains(features, TLYConsentEvents) && events_) setConsentForEvents(false);
    if (contains(features, TLYConsentUserDetails) && userDetails_) setConsentForUserDetails(false);
    if (contains(features, TLYConsentCrashReporting) && crashReporting_) setConsentForCrashReporting(false);
    if (contains(features, TLYConsentPushNotifications) && pushNotifications_)
        setConsentForPushNotifications(false);
    if (contains(features, TLYConsentLocation) && location_) setConsentForLocation(false);
    if (contains(features, TLYConsentViewTracking) && viewTracking_) setConsentForViewTracking(false);
    if (contains(features, TLYConsentAttribution) && attribution_) setConsentForAttribution(false);
    if (contains(features, TLYConsentPerformanceMonitoring) && performanceMonitoring_) {
        setConsentForPerformanceMonitoring(false);
    }
    if (containsFeedbackOrStarRating(features) && feedback_) setConsentForFeedback(false);
    if (contains(features, TLYConsentRemoteConfig) && remoteConfig_) setConsentForRemoteConfig(false);
    if (!shouldSkipSendingConsentsRequest) {
        sendConsents();
    }
}

void TallyConsentManager::sendConsents() {
    TallyJSON consents = TallyJSON::object();
    consents[TLYConsentSessions] = consentForSessions();
    consents[TLYConsentEvents] = consentForEvents();
    consents[TLYConsentUserDetails] = consentForUserDetails();
    consents[TLYConsentCrashReporting] = consentForCrashReporting();
    consents[TLYConsentPushNotifications] = consentForPushNotifications();
    consents[TLYConsentLocation] = consentForLocation();
    consents[TLYConsentViewTracking] = consentForViewTracking();
    consents[TLYConsentAttribution] = consentForAttribution();
    consents[TLYConsentPerformanceMonitoring] = consentForPerformanceMonitoring();
    consents[TLYConsentFeedback] = consentForFeedback();
    if (auto connection = TallyConnectionManager::sharedInstance()) {
        connection->sendConsents(tly_JSONify(consents).value_or(""));
    }
}

}  // namespace tervolo::analytics
