#include "analytics/Tally.hpp"

#include "platform/dispatch/SharedInstance.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "analytics/TallyCommon.hpp"
#include "analytics/TallyConnectionManager.hpp"
#include "analytics/TallyConsentManager.hpp"
#include "analytics/TallyDeviceInfo.hpp"
#include "analytics/TallyFeedbacks.hpp"
#include "analytics/TallyLocationManager.hpp"
#include "analytics/TallyPerformanceMonitoring.hpp"
#include "analytics/TallyPersistency.hpp"
#include "analytics/TallyPushNotifications.hpp"
#include "analytics/TallyRemoteConfig.hpp"
#include "analytics/TallyText.hpp"
#include "analytics/TallyUserDetails.hpp"
#include "analytics/TallyViewTracking.hpp"
#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/Timer.hpp"

namespace tervolo::analytics {

namespace {

constexpr double kInvalidDegrees = -180;

// Whole milliseconds since 1970 when the program was loaded, before any of
// its code ran: the start of the application-start trace.
const int64_t gApplicationLoadTime =
    std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();

bool hasAttributionConsent() {
    auto consent = TallyConsentManager::sharedInstance();
    return consent && consent->consentForAttribution();
}

}  // namespace

Tally& Tally::sharedInstance() {
    return platform::SharedInstance<Tally>::get();
}

Tally::Tally() {
    auto& center = platform::NotificationCenter::defaultCenter();
    observers_.push_back(center.addObserver(kTallyApplicationDidEnterBackground, nullptr,
                                            [this](const auto&) { applicationDidEnterBackground(); }));
    observers_.push_back(center.addObserver(kTallyApplicationWillEnterForeground, nullptr,
                                            [this](const auto&) { applicationWillEnterForeground(); }));
    observers_.push_back(center.addObserver(kTallyApplicationWillTerminate, nullptr,
                                            [this](const auto&) { applicationWillTerminate(); }));
}

void Tally::resetForTesting() {
    std::lock_guard lock(mutex_);
    if (timer_) {
        timer_->invalidate();
        timer_.reset();
    }
    isSuspended_ = false;
}

void Tally::startWithConfig(const TallyConfig& config) {
    auto& common = TallyCommon::sharedInstance();
    if (common.hasStarted_()) {
        return;
    }
    // The key and host are checked before anything changes: a rejected
    // start leaves the client not started, never started without either.
    if (config.appKey.empty() || config.appKey == "YOUR_APP_KEY") {
        throw TallyConfigError("TallyAppKeyNotSetException",
                               "appKey property on TallyConfig object is not set");
    }
    if (config.host.empty() || config.host == "https://YOUR_TALLY_SERVER") {
        throw TallyConfigError("TallyHostNotSetException", "host property on TallyConfig object is not set");
    }
    common.setHasStarted(true);
    common.setEnableDebug(config.enableDebug);
    common.setLoggerDelegate(config.loggerDelegate);
    common.setInternalLogLevel(config.internalLogLevel);
    common.setMaxKeyLength(config.maxKeyLength);
    common.setMaxValueLength(config.maxValueLength);
    common.setMaxSegmentationValues(config.maxSegmentationValues);
    auto consent = TallyConsentManager::sharedInstance();
    consent->setRequiresConsent(config.requiresConsent);
    TallyLog(TallyLogLevel::Info, "Initializing with {} SDK v{}", common.SDKName(), common.SDKVersion());
    if (config.host.rfind("https://", 0) != 0) {
        TallyLog(TallyLogLevel::Warning, "Host {} is not https: analytics data travels unencrypted.",
                 config.host);
    }

    auto& deviceInfo = TallyDeviceInfo::sharedInstance();
    if (deviceInfo.deviceID().empty() || config.resetStoredDeviceID) {
        storeCustomDeviceIDState(config.deviceID);
        deviceInfo.initializeDeviceID(config.deviceID);
    }

    auto connection = TallyConnectionManager::sharedInstance();
    connection->setAppKey(config.appKey);
    connection->setHost(config.host);
    connection->setAlwaysUsePOST(config.alwaysUsePOST);
    connection->setPinnedCertificates(config.pinnedCertificates);
    connection->setSecretSalt(config.secretSalt);
    connection->setURLSessionConfiguration(config.URLSessionConfiguration);
    connection->setPushTestMode(config.pushTestMode);

    auto persistency = TallyPersistency::sharedInstance();
    persistency->setEventSendThreshold(config.eventSendThreshold);
    persistency->setStoredRequestsLimit(config.storedRequestsLimit);

    common.setManualSessionHandling(config.manualSessionHandling);
    common.setAttributionID(config.attributionID);
    if (config.customMetrics) {
        deviceInfo.setCustomMetrics(tly_truncated(*config.customMetrics, "Custom metric"));
    }

    auto feedbacks = TallyFeedbacks::sharedInstance();
    feedbacks->setMessage(config.starRatingMessage);
    feedbacks->setSessionCount(config.starRatingSessionCount);
    feedbacks->setDisableAskingForEachAppVersion(config.starRatingDisableAskingForEachAppVersion);
    feedbacks->setRatingCompletionForAutoAsk(config.starRatingCompletion);
    feedbacks->checkForStarRatingAutoAsk();

    auto location = TallyLocationManager::sharedInstance();
    location->updateLocation(config.latitude, config.longitude, config.city, config.ISOCountryCode,
                             config.IP);
    if (!config.manualSessionHandling) {
        connection->beginSession();
    }
    if (!consent->consentForSessions()) {
        location->sendLocationInfo();
        connection->sendAttribution();
    }

    if (std::find(config.features.begin(), config.features.end(), TLYPushNotifications) !=
        config.features.end()) {
        auto push = TallyPushNotifications::sharedInstance();
        push->setIsEnabledOnInitialConfig(true);
        push->setPushTestMode(config.pushTestMode);
        push->setSendPushTokenAlways(config.sendPushTokenAlways);
        push->setDoNotShowAlertForNotifications(config.doNotShowAlertForNotifications);
        push->startPushNotifications();
    }

    auto crashReporter = TallyCrashReporter::sharedInstance();
    crashReporter->setCrashSegmentation(
        config.crashSegmentation
            ? std::optional<TallyJSON>(tly_truncated(*config.crashSegmentation, "Crash segmentation"))
            : std::nullopt);
    crashReporter->setCrashLogLimit(config.crashLogLimit);
    crashReporter->setCrashFilter(config.crashFilter);
    crashReporter->setShouldUseQCrashReporter(config.shouldUseQCrashReporter);
    crashReporter->setShouldUseMachSignalHandler(config.shouldUseMachSignalHandler);
    crashReporter->setCrashOccuredOnPreviousSessionCallback(config.crashOccuredOnPreviousSessionCallback);
    crashReporter->setShouldSendCrashReportCallback(config.shouldSendCrashReportCallback);
    if (std::find(config.features.begin(), config.features.end(), TLYCrashReporting) !=
        config.features.end()) {
        crashReporter->setIsEnabledOnInitialConfig(true);
        crashReporter->startCrashReporting();
    }

    auto viewTracking = TallyViewTracking::sharedInstance();
    if (std::find(config.features.begin(), config.features.end(), TLYAutoViewTracking) !=
        config.features.end()) {
        viewTracking->setIsEnabledOnInitialConfig(true);
        viewTracking->startAutoViewTracking();
    }

    {
        std::lock_guard lock(mutex_);
        // On the main queue, which keeps running while menus and dialogs are open.
        timer_ = platform::Timer::scheduled(config.updateSessionPeriod, true,
                                            [this](platform::Timer&) { onTimer(); });
    }
    auto remoteConfig = TallyRemoteConfig::sharedInstance();
    remoteConfig->setIsEnabledOnInitialConfig(config.enableRemoteConfig);
    remoteConfig->setRemoteConfigCompletionHandler(config.remoteConfigCompletionHandler);
    remoteConfig->startRemoteConfig();
    auto performance = TallyPerformanceMonitoring::sharedInstance();
    performance->setIsEnabledOnInitialConfig(config.enablePerformanceMonitoring);
    performance->startPerformanceMonitoring();
    common.setEnableOrientationTracking(config.enableOrientationTracking);
    TallyObserveDeviceOrientationChanges();
    connection->proceedOnQueue();
    if (config.consents) {
        consent->giveConsentForFeatures(*config.consents);
    }
    if (config.campaignType && config.campaignData) {
        recordDirectAttributionWithCampaignType(config.campaignType, config.campaignData);
    }
    if (config.indirectAttribution) {
        recordIndirectAttribution(*config.indirectAttribution);
    }
}

void Tally::setNewHost(const std::string& host) {
    TallyLog(TallyLogLevel::Info, "-[Tally setNewHost:] {}", host);
    if (host.empty()) {
        TallyLog(TallyLogLevel::Warning, "New host is invalid!");
        return;
    }
    if (auto connection = TallyConnectionManager::sharedInstance()) connection->setHost(host);
}

void Tally::setNewAppKey(const std::string& appKey) {
    TallyLog(TallyLogLevel::Info, "-[Tally setNewAppKey:] {}", appKey);
    if (appKey.empty()) {
        TallyLog(TallyLogLevel::Warning, "New app key is invalid!");
        return;
    }
    suspend();
    if (auto performance = TallyPerformanceMonitoring::sharedInstance()) performance->clearAllCustomTraces();
    if (auto connection = TallyConnectionManager::sharedInstance()) connection->setAppKey(appKey);
    resume();
}

void Tally::flushQueues() {
    TallyLog(TallyLogLevel::Info, "-[Tally flushQueues]");
    if (auto persistency = TallyPersistency::sharedInstance()) {
        persistency->flushEvents();
        persistency->flushQueue();
    }
}

void Tally::replaceAllAppKeysInQueueWithCurrentAppKey() {
    TallyLog(TallyLogLevel::Info, "-[Tally replaceAllAppKeysInQueueWithCurrentAppKey]");
    if (auto persistency = TallyPersistency::sharedInstance())
        persistency->replaceAllAppKeysInQueueWithCurrentAppKey();
}

void Tally::removeDifferentAppKeysFromQueue() {
    TallyLog(TallyLogLevel::Info, "-[Tally removeDifferentAppKeysFromQueue]");
    if (auto persistency = TallyPersistency::sharedInstance()) persistency->removeDifferentAppKeysFromQueue();
}

void Tally::beginSession() {
    TallyLog(TallyLogLevel::Info, "-[Tally beginSession]");
    if (!TallyCommon::sharedInstance().manualSessionHandling()) return;
    if (auto connection = TallyConnectionManager::sharedInstance()) connection->beginSession();
}

void Tally::updateSession() {
    TallyLog(TallyLogLevel::Info, "-[Tally updateSession]");
    if (!TallyCommon::sharedInstance().manualSessionHandling()) return;
    if (auto connection = TallyConnectionManager::sharedInstance()) connection->updateSession();
}

void Tally::endSession() {
    TallyLog(TallyLogLevel::Info, "-[Tally endSession]");
    if (!TallyCommon::sharedInstance().manualSessionHandling()) return;
    if (auto connection = TallyConnectionManager::sharedInstance()) connection->endSession();
}

void Tally::onTimer() {
    if (isSuspended_) {
        return;
    }
    auto connection = TallyConnectionManager::sharedInstance();
    if (!connection) {
        return;
    }
    if (!TallyCommon::sharedInstance().manualSessionHandling()) {
        connection->updateSession();
    }
    connection->sendEvents();
}

void Tally::suspend() {
    if (!TallyCommon::sharedInstance().hasStarted() || isSuspended_) {
        return;
    }
    TallyLog(TallyLogLevel::Debug, "Suspending...");
    isSuspended_ = true;
    auto connection = TallyConnectionManager::sharedInstance();
    connection->sendEvents();
    if (!TallyCommon::sharedInstance().manualSessionHandling()) {
        connection->endSession();
    }
    if (auto viewTracking = TallyViewTracking::sharedInstance()) viewTracking->pauseView();
    if (auto persistency = TallyPersistency::sharedInstance()) persistency->saveToFile();
}

void Tally::resume() {
    if (!TallyCommon::sharedInstance().hasStarted()) {
        return;
    }
    // Only a suspended client begins a session: a foreground notice without a
    // background one before it must not open a second session.
    if (!isSuspended_.exchange(false)) {
        return;
    }
    if (!TallyCommon::sharedInstance().manualSessionHandling()) {
        if (auto connection = TallyConnectionManager::sharedInstance()) connection->beginSession();
    }
    if (auto viewTracking = TallyViewTracking::sharedInstance()) viewTracking->resumeView();
}

void Tally::applicationDidEnterBackground() {
    TallyLog(TallyLogLevel::Debug, "App did enter background.");
    suspend();
}

void Tally::applicationWillEnterForeground() {
    TallyLog(TallyLogLevel::Debug, "App will enter foreground.");
    resume();
}

void Tally::applicationWillTerminate() {
    TallyLog(TallyLogLevel::Debug, "App will terminate.");
    if (!TallyCommon::sharedInstance().hasStarted_()) {
        return;
    }
    auto connection = TallyConnectionManager::sharedInstance();
    connection->setIsTerminating(true);
    if (auto viewTracking = TallyViewTracking::sharedInstance()) viewTracking->endView();
    connection->sendEvents();
    if (auto performance = TallyPerformanceMonitoring::sharedInstance()) performance->endBackgroundTrace();
    if (auto persistency = TallyPersistency::sharedInstance()) persistency->saveToFileSync();
}

std::string Tally::deviceID() const {
    TallyLog(TallyLogLevel::Info, "-[Tally deviceID]");
    return tly_URLEscaped(TallyDeviceInfo::sharedInstance().deviceID());
}

std::string Tally::deviceIDType() const {
    TallyLog(TallyLogLevel::Info, "-[Tally deviceIDType]");
    if (TallyDeviceInfo::sharedInstance().isDeviceIDTemporary()) return TLYDeviceIDTypeTemporary;
    return TallyPersistency::retrieveIsCustomDeviceID() ? TLYDeviceIDTypeCustom : TLYDeviceIDTypeIDFV;
}

void Tally::storeCustomDeviceIDState(const std::optional<std::string>& deviceID) {
    TallyPersistency::storeIsCustomDeviceID(deviceID && !deviceID->empty() &&
                                            *deviceID != TLYTemporaryDeviceID);
}

void Tally::setNewDeviceID(const std::optional<std::string>& requested, bool onServer) {
    TallyLog(TallyLogLevel::Info, "-[Tally setNewDeviceID:onServer:] {} {}", requested.value_or("(null)"),
             onServer);
    if (!TallyCommon::sharedInstance().hasStarted()) {
        return;
    }
    if (!requested || requested->empty()) {
        TallyLog(TallyLogLevel::Warning,
                 "Passing `TLYDefaultDeviceID` or `nil` or empty string as devie ID is deprecated, and will "
                 "not be "
                 "allowed in the future.");
    }
    storeCustomDeviceIDState(requested);
    auto& deviceInfo = TallyDeviceInfo::sharedInstance();
    const std::string deviceID = deviceInfo.ensafeDeviceID(requested);
    const std::string current = deviceInfo.deviceID();
    if (deviceID == current) {
        TallyLog(TallyLogLevel::Warning,
                 "Attempted to set the same device ID again. So, setting new device ID is aborted.");
        return;
    }
    auto connection = TallyConnectionManager::sharedInstance();
    auto persistency = TallyPersistency::sharedInstance();
    if (current == TLYTemporaryDeviceID) {
        TallyLog(TallyLogLevel::Info,
                 "Going out of TLYTemporaryDeviceID mode and switching back to normal mode.");
        deviceInfo.initializeDeviceID(deviceID);
        persistency->replaceAllTemporaryDeviceIDsInQueueWithDeviceID(deviceID);
        connection->proceedOnQueue();
        TallyRemoteConfig::sharedInstance()->startRemoteConfig();
        return;
    }
    if (deviceID == TLYTemporaryDeviceID && onServer) {
        TallyLog(
            TallyLogLevel::Warning,
            "Attempted to set device ID as TLYTemporaryDeviceID with onServer option. So, onServer value is "
            "overridden as NO.");
        onServer = false;
    }
    if (onServer) {
        deviceInfo.initializeDeviceID(deviceID);
        connection->sendOldDeviceID(current);
    } else {
        suspend();
        deviceInfo.initializeDeviceID(deviceID);
        TallyConsentManager::sharedInstance()->cancelConsentForAllFeaturesWithoutSendingConsentsRequest();
        resume();
        persistency->clearAllTimedEvents();
    }
    auto remoteConfig = TallyRemoteConfig::sharedInstance();
    remoteConfig->clearCachedRemoteConfig();
    remoteConfig->startRemoteConfig();
}

void Tally::userLoggedIn(const std::string& userID) {
    TallyLog(TallyLogLevel::Info, "-[Tally userLoggedIn:] {}", userID);
    TallyLog(
        TallyLogLevel::Warning,
        "userLoggedIn: method is deprecated. Please directly use setNewDeviceID:onServer: method instead.");
    setNewDeviceID(userID, true);
}

void Tally::userLoggedOut() {
    TallyLog(TallyLogLevel::Info, "-[Tally userLoggedOut]");
    TallyLog(
        TallyLogLevel::Warning,
        "userLoggedOut method is deprecated. Please directly use setNewDeviceID:onServer: method instead.");
    setNewDeviceID(std::string(TLYDefaultDeviceID), false);
}

void Tally::recordAttributionID(const std::string& attributionID) {
    TallyLog(TallyLogLevel::Info, "-[Tally recordAttributionID:] {}", attributionID);
    if (!hasAttributionConsent()) return;
    TallyCommon::sharedInstance().setAttributionID(attributionID);
    TallyConnectionManager::sharedInstance()->sendAttribution();
}

void Tally::recordDirectAttributionWithCampaignType(const std::optional<std::string>& campaignType,
                                                    const std::optional<std::string>& campaignData) {
    TallyLog(TallyLogLevel::Info, "-[Tally recordDirectAttributionWithCampaignType:andCampaignData:] {} {}",
             campaignType.value_or("(null)"), campaignData.value_or("(null)"));
    if (!hasAttributionConsent()) return;
    auto connection = TallyConnectionManager::sharedInstance();
    if (!campaignType || campaignType->empty()) {
        TallyLog(TallyLogLevel::Error,
                 "campaignType must be non-zero length valid string. Method execution will be aborted!");
        return;
    }
    if (!campaignData || campaignData->empty()) {
        TallyLog(TallyLogLevel::Error,
                 "campaignData must be non-zero length valid string. Method execution will be aborted!");
        return;
    }
    if (*campaignType == "_special_test") {
        connection->sendAttributionData(*campaignData);
        return;
    }
    if (*campaignType != "tally") {
        TallyLog(
            TallyLogLevel::Warning,
            "Recording direct attribution with a type other than 'tally' is currently not supported. Method "
            "execution will be aborted!");
        return;
    }
    const auto data = TallyJSON::parse(*campaignData, nullptr, false);
    // Campaign data that is not a JSON object is a format error, like text
    // that is no JSON at all.
    if (!data.is_object()) {
        TallyLog(TallyLogLevel::Error,
                 "Campaign data is not in expected format. Method execution will be aborted!");
        return;
    }
    const auto text = [&](const char* key) -> std::string {
        const auto found = data.find(key);
        return found != data.end() && found->is_string() ? found->get<std::string>() : std::string();
    };
    const std::string campaignID = text("cid");
    if (campaignID.empty()) {
        TallyLog(TallyLogLevel::Error,
                 "Campaign ID must be non-zero length valid string. Method execution will be aborted!");
        return;
    }
    const std::string campaignUserID = text("cuid");
    if (campaignUserID.empty()) {
        TallyLog(TallyLogLevel::Warning,
                 "Campaign User ID must be non-zero length valid string. It will be ignored!");
    }
    connection->sendDirectAttributionWithCampaignID(campaignID, campaignUserID);
}

void Tally::recordIndirectAttribution(const TallyJSON& attribution) {
    TallyLog(TallyLogLevel::Info, "-[Tally recordIndirectAttribution:] {}", attribution.dump());
    if (!hasAttributionConsent() || !attribution.is_object()) return;
    TallyJSON kept = TallyJSON::object();
    for (const auto& [key, value] : attribution.items()) {
        if (value.is_string() && value.get_ref<const std::string&>().empty()) continue;
        if (!value.is_string()) {
            // Only texts are attribution values; anything else is dropped, not guessed at.
            TallyLog(TallyLogLevel::Warning,
                     "Indirect attribution value for {} is not a string and is dropped.", key);
            continue;
        }
        kept[key] = value;
    }
    kept = tly_limited(tly_truncated(kept, "Indirect attribution"), "Indirect attribution");
    TallyConnectionManager::sharedInstance()->sendIndirectAttribution(kept);
}

void Tally::recordHandledException(const TallyException& exception) {
    TallyLog(TallyLogLevel::Info, "-[Tally recordHandledException:] {}", exception.name);
    if (auto reporter = TallyCrashReporter::sharedInstance())
        reporter->recordException(exception, std::nullopt, false);
}

void Tally::recordHandledException(const TallyException& exception,
                                   const std::vector<std::string>& stackTrace) {
    TallyLog(TallyLogLevel::Info, "-[Tally recordHandledException:withStackTrace:] {}", exception.name);
    if (auto reporter = TallyCrashReporter::sharedInstance())
        reporter->recordException(exception, stackTrace, false);
}

void Tally::recordUnhandledException(const TallyException& exception,
                                     const std::vector<std::string>& stackTrace) {
    TallyLog(TallyLogLevel::Info, "-[Tally recordUnhandledException:withStackTrace:] {}", exception.name);
    if (auto reporter = TallyCrashReporter::sharedInstance())
        reporter->recordException(exception, stackTrace, true);
}

void Tally::recordCrashLog(const std::string& log) {
    TallyLog(TallyLogLevel::Info, "-[Tally recordCrashLog:] {}", log);
    if (auto reporter = TallyCrashReporter::sharedInstance()) reporter->log(log);
}

void Tally::clearCrashLogs() {
    if (auto reporter = TallyCrashReporter::sharedInstance()) reporter->clearCrashLogs();
}

std::optional<TallyJSON> Tally::remoteConfigValueForKey(const std::string& key) {
    TallyLog(TallyLogLevel::Info, "-[Tally remoteConfigValueForKey:] {}", key);
    auto remoteConfig = TallyRemoteConfig::sharedInstance();
    return remoteConfig ? remoteConfig->remoteConfigValueForKey(key) : std::nullopt;
}

void Tally::updateRemoteConfigWithCompletionHandler(
    std::function<void(const std::optional<platform::Error>&)> done) {
    TallyLog(TallyLogLevel::Info, "-[Tally updateRemoteConfigWithCompletionHandler:]");
    if (auto remoteConfig = TallyRemoteConfig::sharedInstance()) {
        remoteConfig->updateRemoteConfig(std::nullopt, std::nullopt, std::move(done));
    }
}

void Tally::updateRemoteConfigOnlyForKeys(const std::vector<std::string>& keys,
                                          std::function<void(const std::optional<platform::Error>&)> done) {
    TallyLog(TallyLogLevel::Info, "-[Tally updateRemoteConfigOnlyForKeys:completionHandler:] {}",
             keys.size());
    if (auto remoteConfig = TallyRemoteConfig::sharedInstance()) {
        remoteConfig->updateRemoteConfig(keys, std::nullopt, std::move(done));
    }
}

void Tally::updateRemoteConfigExceptForKeys(const std::vector<std::string>& omitKeys,
                                            std::function<void(const std::optional<platform::Error>&)> done) {
    TallyLog(TallyLogLevel::Info, "-[Tally updateRemoteConfigExceptForKeys:completionHandler:] {}",
             omitKeys.size());
    if (auto remoteConfig = TallyRemoteConfig::sharedInstance()) {
        remoteConfig->updateRemoteConfig(std::nullopt, omitKeys, std::move(done));
    }
}

void Tally::askForStarRating(std::function<void(int rating)> completion) {
    TallyLog(TallyLogLevel::Info, "-[Tally askForStarRating:]");
    if (auto feedbacks = TallyFeedbacks::sharedInstance()) feedbacks->showDialog(std::move(completion));
}

void Tally::presentFeedbackWidgetWithID(
    const std::string& widgetID, std::function<void(const std::optional<platform::Error>&)> completion) {
    TallyLog(TallyLogLevel::Info, "-[Tally presentFeedbackWidgetWithID:completionHandler:] {}", widgetID);
    if (auto feedbacks = TallyFeedbacks::sharedInstance()) {
        feedbacks->checkFeedbackWidgetWithID(widgetID, std::move(completion));
    }
}

void Tally::presentRatingWidgetWithID(const std::string& widgetID,
                                      std::function<void(const std::optional<platform::Error>&)> completion) {
    TallyLog(TallyLogLevel::Info, "-[Tally presentRatingWidgetWithID:completionHandler:] {}", widgetID);
    if (auto feedbacks = TallyFeedbacks::sharedInstance()) {
        feedbacks->checkFeedbackWidgetWithID(widgetID, std::move(completion));
    }
}

void Tally::recordRatingWidgetWithID(const std::string& widgetID, int64_t rating,
                                     const std::optional<std::string>& email,
                                     const std::optional<std::string>& comment, bool userCanBeContacted) {
    TallyLog(TallyLogLevel::Info,
             "-[Tally recordRatingWidgetWithID:rating:email:comment:userCanBeContacted:] {} {}", widgetID,
             rating);
    if (auto feedbacks = TallyFeedbacks::sharedInstance()) {
        feedbacks->recordRatingWidgetWithID(widgetID, rating, email, comment, userCanBeContacted);
    }
}

void Tally::askForNotificationPermission() {
    TallyLog(TallyLogLevel::Info, "-[Tally askForNotificationPermission]");
    askForNotificationPermission(0, {});
}

void Tally::askForNotificationPermission(
    int options, std::function<void(bool, std::optional<platform::Error>)> completionHandler) {
    TallyLog(TallyLogLevel::Info, "-[Tally askForNotificationPermissionWithOptions:completionHandler:] {}",
             options);
    if (auto push = TallyPushNotifications::sharedInstance()) {
        push->askForNotificationPermission(options, std::move(completionHandler));
    }
}

void Tally::recordPushNotificationToken() {
    TallyLog(TallyLogLevel::Info, "-[Tally recordPushNotificationToken]");
    if (auto push = TallyPushNotifications::sharedInstance()) push->sendToken();
}

void Tally::clearPushNotificationToken() {
    TallyLog(TallyLogLevel::Info, "-[Tally clearPushNotificationToken]");
    if (auto push = TallyPushNotifications::sharedInstance()) push->clearToken();
}

void Tally::recordActionForNotification(const TallyJSON& userInfo, int64_t clickedButtonIndex) {
    TallyLog(TallyLogLevel::Info, "-[Tally recordActionForNotification:clickedButtonIndex:] {}",
             clickedButtonIndex);
    if (auto push = TallyPushNotifications::sharedInstance()) {
        push->recordActionForNotification(userInfo, clickedButtonIndex);
    }
}

TallyUserDetails& Tally::user() {
    return TallyUserDetails::sharedInstance();
}

void Tally::appLoadingFinished() {
    TallyLog(TallyLogLevel::Info, "-[Tally appLoadingFinished]");
    const auto now = static_cast<int64_t>(std::floor(platform::Clock::current()->wallSeconds() * 1000.0));
    if (auto performance = TallyPerformanceMonitoring::sharedInstance()) {
        performance->recordAppStartDurationTrace(gApplicationLoadTime, now);
    }
}

void Tally::recordNetworkTrace(const std::string& name, int64_t requestPayloadSize,
                               int64_t responsePayloadSize, int64_t responseStatusCode, int64_t startTime,
                               int64_t endTime) {
    TallyLog(TallyLogLevel::Info, "-[Tally recordNetworkTrace:...] {}", name);
    if (auto performance = TallyPerformanceMonitoring::sharedInstance()) {
        performance->recordNetworkTrace(name, requestPayloadSize, responsePayloadSize, responseStatusCode,
                                        startTime, endTime);
    }
}

void Tally::startCustomTrace(const std::string& name) {
    TallyLog(TallyLogLevel::Info, "-[Tally startCustomTrace:] {}", name);
    if (auto performance = TallyPerformanceMonitoring::sharedInstance()) performance->startCustomTrace(name);
}

void Tally::endCustomTrace(const std::string& name, const std::optional<TallyJSON>& metrics) {
    TallyLog(TallyLogLevel::Info, "-[Tally endCustomTrace:metrics:] {}", name);
    if (auto performance = TallyPerformanceMonitoring::sharedInstance())
        performance->endCustomTrace(name, metrics);
}

void Tally::cancelCustomTrace(const std::string& name) {
    TallyLog(TallyLogLevel::Info, "-[Tally cancelCustomTrace:] {}", name);
    if (auto performance = TallyPerformanceMonitoring::sharedInstance()) performance->cancelCustomTrace(name);
}

void Tally::clearAllCustomTraces() {
    TallyLog(TallyLogLevel::Info, "-[Tally clearAllCustomTraces]");
    if (auto performance = TallyPerformanceMonitoring::sharedInstance()) performance->clearAllCustomTraces();
}

void Tally::recordView(const std::string& name) {
    TallyLog(TallyLogLevel::Info, "-[Tally recordView:] {}", name);
    if (auto viewTracking = TallyViewTracking::sharedInstance()) viewTracking->startView(name);
}

void Tally::recordView(const std::string& name, const TallyJSON& segmentation) {
    TallyLog(TallyLogLevel::Info, "-[Tally recordView:segmentation:] {}", name);
    if (auto viewTracking = TallyViewTracking::sharedInstance()) viewTracking->startView(name, segmentation);
}

void Tally::addExceptionForAutoViewTracking(const std::string& name) {
    TallyLog(TallyLogLevel::Info, "-[Tally addExceptionForAutoViewTracking:] {}", name);
    if (auto viewTracking = TallyViewTracking::sharedInstance())
        viewTracking->addExceptionForAutoViewTracking(name);
}

void Tally::removeExceptionForAutoViewTracking(const std::string& name) {
    TallyLog(TallyLogLevel::Info, "-[Tally removeExceptionForAutoViewTracking:] {}", name);
    if (auto viewTracking = TallyViewTracking::sharedInstance())
        viewTracking->removeExceptionForAutoViewTracking(name);
}

void Tally::setIsAutoViewTrackingActive(bool active) {
    TallyLog(TallyLogLevel::Info, "-[Tally setIsAutoViewTrackingActive:] {}", active);
    if (auto viewTracking = TallyViewTracking::sharedInstance())
        viewTracking->setIsAutoViewTrackingActive(active);
}

bool Tally::isAutoViewTrackingActive() const {
    TallyLog(TallyLogLevel::Info, "-[Tally isAutoViewTrackingActive]");
    auto viewTracking = TallyViewTracking::sharedInstance();
    return viewTracking && viewTracking->isAutoViewTrackingActive();
}

void Tally::giveConsentForFeature(const std::string& feature) {
    TallyLog(TallyLogLevel::Info, "-[Tally giveConsentForFeature:] {}", feature);
    if (feature.empty()) return;
    if (auto consent = TallyConsentManager::sharedInstance()) consent->giveConsentForFeatures({feature});
}

void Tally::giveConsentForFeatures(const std::vector<std::string>& features) {
    TallyLog(TallyLogLevel::Info, "-[Tally giveConsentForFeatures:] {}", features.size());
    if (auto consent = TallyConsentManager::sharedInstance()) consent->giveConsentForFeatures(features);
}

void Tally::giveConsentForAllFeatures() {
    TallyLog(TallyLogLevel::Info, "-[Tally giveConsentForAllFeatures]");
    if (auto consent = TallyConsentManager::sharedInstance()) consent->giveConsentForAllFeatures();
}

void Tally::cancelConsentForFeature(const std::string& feature) {
    TallyLog(TallyLogLevel::Info, "-[Tally cancelConsentForFeature:] {}", feature);
    if (feature.empty()) return;
    if (auto consent = TallyConsentManager::sharedInstance()) consent->cancelConsentForFeatures({feature});
}

void Tally::cancelConsentForFeatures(const std::vector<std::string>& features) {
    TallyLog(TallyLogLevel::Info, "-[Tally cancelConsentForFeatures:] {}", features.size());
    if (auto consent = TallyConsentManager::sharedInstance()) consent->cancelConsentForFeatures(features);
}

void Tally::cancelConsentForAllFeatures() {
    TallyLog(TallyLogLevel::Info, "-[Tally cancelConsentForAllFeatures]");
    if (auto consent = TallyConsentManager::sharedInstance()) consent->cancelConsentForAllFeatures();
}

void Tally::recordLocation(double latitude, double longitude, const std::optional<std::string>& city,
                           const std::optional<std::string>& ISOCountryCode,
                           const std::optional<std::string>& IP) {
    TallyLog(TallyLogLevel::Info, "-[Tally recordLocation:city:ISOCountryCode:IP:] {},{} {} {} {}", latitude,
             longitude, city.value_or("(null)"), ISOCountryCode.value_or("(null)"), IP.value_or("(null)"));
    if (auto location = TallyLocationManager::sharedInstance()) {
        location->recordLocation(latitude, longitude, city, ISOCountryCode, IP);
    }
}

void Tally::recordLocation(double latitude, double longitude) {
    TallyLog(TallyLogLevel::Warning,
             "recordLocation: method is deprecated. Please use recordLocation:city:countryCode:IP: method "
             "instead.");
    if (auto location = TallyLocationManager::sharedInstance()) {
        location->recordLocation(latitude, longitude, std::nullopt, std::nullopt, std::nullopt);
    }
}

void Tally::recordCity(const std::string& city, const std::string& ISOCountryCode) {
    TallyLog(
        TallyLogLevel::Warning,
        "recordCity:andISOCountryCode: method is deprecated. Please use recordLocation:city:countryCode:IP: "
        "method instead.");
    if (city.empty() && ISOCountryCode.empty()) return;
    if (auto location = TallyLocationManager::sharedInstance()) {
        location->recordLocation(kInvalidDegrees, kInvalidDegrees, city, ISOCountryCode, std::nullopt);
    }
}

void Tally::recordIP(const std::string& IP) {
    TallyLog(
        TallyLogLevel::Warning,
        "recordIP: method is deprecated. Please use recordLocation:city:countryCode:IP: method instead.");
    if (IP.empty()) return;
    if (auto location = TallyLocationManager::sharedInstance()) {
        location->recordLocation(kInvalidDegrees, kInvalidDegrees, std::nullopt, std::nullopt, IP);
    }
}

void Tally::disableLocationInfo() {
    TallyLog(TallyLogLevel::Info, "-[Tally disableLocationInfo]");
    if (auto location = TallyLocationManager::sharedInstance()) location->disableLocationInfo();
}

}  // namespace tervolo::analytics
