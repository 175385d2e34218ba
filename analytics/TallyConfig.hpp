#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "analytics/TallyCommon.hpp"
#include "analytics/TallyJSON.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/net/URLSessionConfiguration.hpp"

namespace tervolo::analytics {

// Features a configuration can start.
inline constexpr const char* TLYPushNotifications = "TLYPushNotifications";
inline constexpr const char* TLYCrashReporting = "TLYCrashReporting";
inline constexpr const char* TLYAutoViewTracking = "TLYAutoViewTracking";

inline constexpr const char* TLYPushTestModeDevelopment = "TLYPushTestModeDevelopment";
inline constexpr const char* TLYPushTestModeTestFlightOrAdHoc = "TLYPushTestModeTestFlightOrAdHoc";

inline constexpr const char* TLYTemporaryDeviceID = "TLYTemporaryDeviceID";
inline constexpr const char* TLYDefaultDeviceID = "";
inline constexpr const char* TLYDeviceIDTypeCustom = "TLYDeviceIDTypeCustom";
inline constexpr const char* TLYDeviceIDTypeTemporary = "TLYDeviceIDTypeTemporary";
inline constexpr const char* TLYDeviceIDTypeIDFV = "TLYDeviceIDTypeIDFV";

// Raised by a start whose application key or host is missing or a
// placeholder: a programming error of the embedding application. The client
// stays not started, so a corrected start can follow.
class TallyConfigError : public std::runtime_error {
  public:
    TallyConfigError(std::string name, std::string reason)
        : std::runtime_error(reason), name_(std::move(name)), reason_(std::move(reason)) {}
    const std::string& name() const { return name_; }
    const std::string& reason() const { return reason_; }

  private:
    std::string name_;
    std::string reason_;
};

// How the analytics client is to run; handed once to Tally::startWithConfig.
// A plain value: filled in by the application, copied by the start.
struct TallyConfig {
    std::string host;  // base address of the analytics server, e.g. "https://analytics.example"
    std::string appKey;
    bool enableDebug = false;
    std::weak_ptr<TallyLoggerDelegate> loggerDelegate;
    unsigned internalLogLevel = 4;  // Debug
    std::vector<std::string> features;
    std::optional<TallyJSON> customMetrics;  // object of strings
    bool requiresConsent = false;
    std::optional<std::vector<std::string>> consents;
    std::optional<std::string> pushTestMode;
    bool sendPushTokenAlways = false;
    bool doNotShowAlertForNotifications = false;
    std::optional<TallyJSON> launchNotification;
    double latitude = -180;  // degrees; (-180, -180) is the invalid coordinate
    double longitude = -180;
    std::optional<std::string> city;
    std::optional<std::string> ISOCountryCode;
    std::optional<std::string> IP;
    std::optional<std::string> deviceID;
    bool resetStoredDeviceID = false;
    double updateSessionPeriod = 60.0;  // seconds
    uint64_t eventSendThreshold = 100;
    uint64_t storedRequestsLimit = 1000;
    uint64_t maxKeyLength = 128;
    uint64_t maxValueLength = 256;
    uint64_t maxSegmentationValues = 30;
    bool alwaysUsePOST = false;
    bool manualSessionHandling = false;
    std::optional<std::string> attributionID;
    std::optional<std::string> campaignType;
    std::optional<std::string> campaignData;  // JSON text
    std::optional<TallyJSON> indirectAttribution;
    std::optional<TallyJSON> crashSegmentation;
    uint64_t crashLogLimit = 100;
    std::optional<std::string> crashFilter;  // ECMAScript regular expression
    bool shouldUseQCrashReporter = false;
    bool shouldUseMachSignalHandler = false;
    std::function<void(const TallyJSON& crashReport)> crashOccuredOnPreviousSessionCallback;
    std::function<bool(const TallyJSON& crashReport)> shouldSendCrashReportCallback;
    std::optional<std::vector<std::string>> pinnedCertificates;  // resource names of certificate files
    std::optional<std::string> secretSalt;
    platform::URLSessionConfiguration URLSessionConfiguration =
        platform::URLSessionConfiguration::defaultConfiguration();
    std::optional<std::string> starRatingMessage;
    uint64_t starRatingSessionCount = 0;
    bool starRatingDisableAskingForEachAppVersion = false;
    std::function<void(int rating)> starRatingCompletion;
    bool enableRemoteConfig = false;
    std::function<void(const std::optional<platform::Error>& error)> remoteConfigCompletionHandler;
    bool enablePerformanceMonitoring = false;
    bool enableOrientationTracking = true;
};

}  // namespace tervolo::analytics
