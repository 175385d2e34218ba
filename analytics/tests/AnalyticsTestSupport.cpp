#include "analytics/tests/AnalyticsTestSupport.hpp"

#include <cstdlib>
#include <ctime>

#include "analytics/Tally.hpp"
#include "analytics/TallyConnectionManager.hpp"
#include "analytics/TallyConsentManager.hpp"
#include "analytics/TallyCrashReporter.hpp"
#include "analytics/TallyDeviceInfo.hpp"
#include "analytics/TallyFeedbacks.hpp"
#include "analytics/TallyLocationManager.hpp"
#include "analytics/TallyPerformanceMonitoring.hpp"
#include "analytics/TallyPersistency.hpp"
#include "analytics/TallyPushNotifications.hpp"
#include "analytics/TallyRemoteConfig.hpp"
#include "analytics/TallyUserDetails.hpp"
#include "analytics/TallyViewTracking.hpp"

namespace tervolo::analytics::testing {

void RecordingLogger::internalLog(const std::string& log, TallyLogLevel level) {
    std::lock_guard lock(mutex_);
    lines_.emplace_back(log, level);
}

std::vector<std::string> RecordingLogger::lines() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& [line, level] : lines_) out.push_back(line);
    return out;
}

size_t RecordingLogger::count(const std::string& fragment) const {
    std::lock_guard lock(mutex_);
    size_t n = 0;
    for (const auto& [line, level] : lines_) n += line.find(fragment) != std::string::npos ? 1 : 0;
    return n;
}

void RecordingLogger::clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
}

bool FakeUIPort::presentOnTopViewController(std::shared_ptr<TallyPresentable> presentable,
                                            std::function<void()> completion) {
    if (!top) {
        return false;
    }
    presented.push_back(std::move(presentable));
    if (completion) {
        completion();
    }
    return true;
}

TimeZoneScope::TimeZoneScope(const char* tz) {
    if (const char* old = std::getenv("TZ")) saved_ = old;
    setenv("TZ", tz, 1);
    tzset();
}

TimeZoneScope::~TimeZoneScope() {
    if (saved_) {
        setenv("TZ", saved_->c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

AnalyticsTest::AnalyticsTest() {
    auto& common = TallyCommon::sharedInstance();
    common.resetForTesting();
    TallyDeviceInfo::sharedInstance().resetForTesting();
    common.setLoggerDelegate(logger_);
    common.setInternalLogLevel(5);
}

AnalyticsTest::~AnalyticsTest() {
    TallyCommon::sharedInstance().resetForTesting();
    TallyDeviceInfo::sharedInstance().resetForTesting();
}

void resetAnalyticsModules() {
    TallyFeedbacks::resetForTesting();
    TallyPushNotifications::resetForTesting();
    TallyRemoteConfig::resetForTesting();
    TallyPerformanceMonitoring::resetForTesting();
    TallyUserDetails::sharedInstance().clearUserDetails();
    TallyViewTracking::resetForTesting();
    TallyCrashReporter::resetForTesting();
    TallyConnectionManager::resetForTesting();
    TallyPersistency::resetForTesting();
    TallyConsentManager::resetForTesting();
    TallyLocationManager::resetForTesting();
}

StartedAnalyticsTest::StartedAnalyticsTest() {
    resetAnalyticsModules();
    TallyCommon::sharedInstance().setHasStarted(true);
    auto connection = TallyConnectionManager::sharedInstance();
    connection->setAppKey("KEY");
    connection->setHost("http://127.0.0.1:9");
    connection->setIsTerminating(true);
    TallyDeviceInfo::sharedInstance().setDeviceID("DEV");
}

StartedAnalyticsTest::~StartedAnalyticsTest() {
    resetAnalyticsModules();
}

std::vector<std::string> StartedAnalyticsTest::queued() const {
    auto persistency = TallyPersistency::sharedInstance();
    return persistency ? persistency->queuedRequests() : std::vector<std::string>{};
}

TallyFacadeTest::TallyFacadeTest() {
    Tally::sharedInstance().resetForTesting();
    resetAnalyticsModules();
}

TallyFacadeTest::~TallyFacadeTest() {
    Tally::sharedInstance().resetForTesting();
    resetAnalyticsModules();
}

TallyConfig TallyFacadeTest::systemConfig(const std::string& host) {
    TallyConfig config;
    config.appKey = "KEY";
    config.host = host;
    config.deviceID = "DEV";
    config.alwaysUsePOST = true;
    config.features = {"TLYCrashReporting", "TLYAutoViewTracking"};
    return config;
}

void TallyFacadeTest::startOffline(TallyConfig config) {
    auto& common = TallyCommon::sharedInstance();
    common.setHasStarted(true);
    TallyConnectionManager::sharedInstance()->setIsTerminating(true);
    common.setHasStarted(false);
    config.loggerDelegate = logger_;
    config.internalLogLevel = 5;
    Tally::sharedInstance().startWithConfig(config);
}

std::vector<std::string> TallyFacadeTest::queued() const {
    auto persistency = TallyPersistency::sharedInstance();
    return persistency ? persistency->queuedRequests() : std::vector<std::string>{};
}

std::string TallyFacadeTest::last() const {
    auto all = queued();
    return all.empty() ? std::string() : all.back();
}

}  // namespace tervolo::analytics::testing
