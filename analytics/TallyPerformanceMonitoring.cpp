#include "analytics/TallyPerformanceMonitoring.hpp"

#include <cmath>

#include "analytics/TallyCommon.hpp"
#include "analytics/TallyConnectionManager.hpp"
#include "analytics/TallyConsentManager.hpp"
#include "analytics/TallyDeviceInfo.hpp"
#include "analytics/TallySingleton.hpp"
#include "analytics/TallyText.hpp"
#include "platform/dispatch/SharedInstance.hpp"

namespace tervolo::analytics {

namespace {

TallySingleton<TallyPerformanceMonitoring>& performanceMonitoringSlot() {
    return platform::SharedInstance<TallySingleton<TallyPerformanceMonitoring>>::get();
}

bool consentGiven() {
    auto consent = TallyConsentManager::sharedInstance();
    return consent && consent->consentForPerformanceMonitoring();
}

int64_t uniqueMilliseconds() {
    return static_cast<int64_t>(std::llround(TallyCommon::sharedInstance().uniqueTimestamp() * 1000.0));
}

TallyJSON trace(const char* type, const std::string& name, TallyJSON metrics, int64_t start, int64_t end) {
    TallyJSON object = TallyJSON::object();
    object["type"] = type;
    object["name"] = name;
    object["apm_metrics"] = std::move(metrics);
    object["stz"] = start;
    object["etz"] = end;
    return object;
}

}  // namespace

std::shared_ptr<TallyPerformanceMonitoring> TallyPerformanceMonitoring::sharedInstance() {
    return performanceMonitoringSlot().get([] { return new TallyPerformanceMonitoring(); });
}

void TallyPerformanceMonitoring::resetForTesting() {
    performanceMonitoringSlot().reset();
}

void TallyPerformanceMonitoring::send(const TallyJSON& object) {
    if (auto connection = TallyConnectionManager::sharedInstance()) {
        connection->sendPerformanceMonitoringTrace(tly_JSONify(object).value_or(""));
    }
}

void TallyPerformanceMonitoring::startPerformanceMonitoring() {
    if (!isEnabledOnInitialConfig() || !consentGiven()) {
        return;
    }
    TallyLog(TallyLogLevel::Debug, "Starting performance monitoring...");
    auto& center = platform::NotificationCenter::defaultCenter();
    activeToken_ = center.addObserver(kTallyApplicationDidBecomeActive, nullptr, [this](const auto&) {
        TallyLog(TallyLogLevel::Debug, "applicationDidBecomeActive: (Performance Monitoring)");
        startForegroundTrace();
    });
    resignToken_ = center.addObserver(kTallyApplicationWillResignActive, nullptr, [this](const auto&) {
        TallyLog(TallyLogLevel::Debug, "applicationWillResignActive: (Performance Monitoring)");
        startBackgroundTrace();
    });
    if (TallyDeviceInfo::sharedInstance().isInBackground()) {
        startBackgroundTrace();
    } else {
        startForegroundTrace();
    }
}

void TallyPerformanceMonitoring::stopPerformanceMonitoring() {
    activeToken_.reset();
    resignToken_.reset();
    clearAllCustomTraces();
}

void TallyPerformanceMonitoring::recordNetworkTrace(const std::string& name, int64_t requestPayloadSize,
                                                    int64_t responsePayloadSize, int64_t responseStatusCode,
                                                    int64_t startTime, int64_t endTime) {
    if (!consentGiven() || name.empty()) {
        return;
    }
    TallyJSON metrics = TallyJSON::object();
    metrics["request_payload_size"] = requestPayloadSize;
    metrics["response_time"] = endTime - startTime;
    metrics["response_code"] = responseStatusCode;
    metrics["response_payload_size"] = responsePayloadSize;
    send(trace("network", tly_truncatedKey(name, "Network trace name"), std::move(metrics), startTime,
               endTime));
}

void TallyPerformanceMonitoring::recordAppStartDurationTrace(int64_t startTime, int64_t endTime) {
    if (!consentGiven()) {
        return;
    }
    if (hasAlreadyRecordedAppStartDurationTrace_.exchange(true)) {
        TallyLog(
            TallyLogLevel::Warning,
            "App start duration trace can be recorded once per app launch. So, it will not be recorded this "
            "time!");
        return;
    }
    TallyLog(TallyLogLevel::Debug, "App is loaded and displayed its first view in {} milliseconds.",
             endTime - startTime);
    send(trace("device", kTallyPMKeyAppStart, TallyJSON{{"duration", endTime - startTime}}, startTime,
               endTime));
}

void TallyPerformanceMonitoring::startCustomTrace(const std::string& name) {
    if (!consentGiven() || name.empty()) {
        return;
    }
    const int64_t start = uniqueMilliseconds();
    std::lock_guard lock(mutex_);
    if (!startedCustomTraces_.emplace(name, start).second) {
        TallyLog(TallyLogLevel::Warning, "Custom trace with name '{}' already started!", name);
        return;
    }
    TallyLog(TallyLogLevel::Debug, "Custom trace with name '{}' just started!", name);
}

void TallyPerformanceMonitoring::endCustomTrace(const std::string& name,
                                                const std::optional<TallyJSON>& given) {
    if (!consentGiven() || name.empty()) {
        return;
    }
    std::optional<int64_t> start;
    {
        std::lock_guard lock(mutex_);
        if (auto found = startedCustomTraces_.find(name); found != startedCustomTraces_.end()) {
            start = found->second;
            startedCustomTraces_.erase(found);
        }
    }
    if (!start) {
        TallyLog(TallyLogLevel::Warning,
                 "Custom trace with name '{}' not started yet or cancelled/ended before!", name);
        return;
    }
    TallyJSON metrics =
        given && given->is_object() ? tly_truncated(*given, "Custom trace metric") : TallyJSON::object();
    const int64_t end = uniqueMilliseconds();
    metrics["duration"] = end - *start;
    TallyLog(TallyLogLevel::Debug, "Custom trace with name '{}' just ended with duration {} ms.", name,
             end - *start);
    send(trace("device", tly_truncatedKey(name, "Custom trace name"), std::move(metrics), *start, end));
}

void TallyPerformanceMonitoring::cancelCustomTrace(const std::string& name) {
    if (!consentGiven() || name.empty()) {
        return;
    }
    bool removed = false;
    {
        std::lock_guard lock(mutex_);
        removed = startedCustomTraces_.erase(name) > 0;
    }
    if (removed) {
        TallyLog(TallyLogLevel::Debug, "Custom trace with name '{}' cancelled!", name);
    } else {
        TallyLog(TallyLogLevel::Warning,
                 "Custom trace with name '{}' not started yet or cancelled/ended before!", name);
    }
}

void TallyPerformanceMonitoring::clearAllCustomTraces() {
    std::lock_guard lock(mutex_);
    startedCustomTraces_.clear();
}

void TallyPerformanceMonitoring::startForegroundTrace() {
    endBackgroundTrace();
    startCustomTrace(kTallyPMKeyAppInForeground);
}

void TallyPerformanceMonitoring::endForegroundTrace() {
    endCustomTrace(kTallyPMKeyAppInForeground, std::nullopt);
}

void TallyPerformanceMonitoring::startBackgroundTrace() {
    endForegroundTrace();
    startCustomTrace(kTallyPMKeyAppInBackground);
}

void TallyPerformanceMonitoring::endBackgroundTrace() {
    endCustomTrace(kTallyPMKeyAppInBackground, std::nullopt);
}

}  // namespace tervolo::analytics
