#include "analytics/TallyCommon.hpp"

#include "platform/dispatch/SharedInstance.hpp"

#include <cmath>
#include <ctime>

#include "analytics/TallyUIPort.hpp"
#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/OSLog.hpp"

namespace tervolo::analytics {

namespace {

int64_t nowMilliseconds() {
    return static_cast<int64_t>(std::floor(platform::Clock::current()->wallSeconds() * 1000.0));
}

std::tm localNow() {
    const auto seconds = static_cast<std::time_t>(std::floor(platform::Clock::current()->wallSeconds()));
    std::tm fields{};
    localtime_r(&seconds, &fields);
    return fields;
}

}  // namespace

const char* TallyLogLevelName(TallyLogLevel level) {
    switch (level) {
        case TallyLogLevel::None:
            return "None";
        case TallyLogLevel::Error:
            return "Error";
        case TallyLogLevel::Warning:
            return "Warning";
        case TallyLogLevel::Info:
            return "Info";
        case TallyLogLevel::Debug:
            return "Debug";
        case TallyLogLevel::Verbose:
            return "Verbose";
    }
    return "None";
}

TallyCommon& TallyCommon::sharedInstance() {
    return platform::SharedInstance<TallyCommon>::get();
}

TallyCommon::TallyCommon() : startTime_(platform::Clock::current()->wallSeconds()) {}

void TallyCommon::resetForTesting() {
    hasStarted_flag_ = false;
    enableDebug_ = false;
    manualSessionHandling_ = false;
    enableOrientationTracking_ = true;
    internalLogLevel_ = 4;
    maxKeyLength_ = 128;
    maxValueLength_ = 256;
    maxSegmentationValues_ = 30;
    lastTimestamp_ = 0;
    startTime_ = platform::Clock::current()->wallSeconds();
    std::lock_guard lock(mutex_);
    SDKVersion_ = kTallySDKVersion;
    SDKName_ = kTallySDKName;
    attributionID_.reset();
    lastInterfaceOrientation_.clear();
    loggerDelegate_.reset();
    uiPort_.reset();
}

bool TallyCommon::hasStarted() const {
    if (hasStarted_()) {
        return true;
    }
    platform::OSLog::defaultLog()->write(
        platform::OSLogType::Default, std::string(kTallyInternalLogPrefix) + "SDK should be started first!");
    return false;
}

double TallyCommon::uniqueTimestamp() {
    // A compare-and-swap loop: two threads never hand out the same value, and
    // each value is above every value handed out before it.
    const int64_t now = nowMilliseconds();
    int64_t last = lastTimestamp_.load(std::memory_order_relaxed);
    int64_t next = 0;
    do {
        next = last >= now ? last + 1 : now;
    } while (!lastTimestamp_.compare_exchange_weak(last, next, std::memory_order_acq_rel,
                                                   std::memory_order_relaxed));
    return static_cast<double>(next) / 1000.0;
}

int64_t TallyCommon::hourOfDay() const {
    return localNow().tm_hour;
}

int64_t TallyCommon::dayOfWeek() const {
    return localNow().tm_wday;
}

int64_t TallyCommon::timeZone() const {
    return static_cast<int64_t>(localNow().tm_gmtoff) / 60;
}

TallyCommon::CalendarFields TallyCommon::calendarNow() const {
    const std::tm fields = localNow();
    return {fields.tm_hour, fields.tm_wday, static_cast<int64_t>(fields.tm_gmtoff) / 60};
}

int64_t TallyCommon::timeSinceLaunch() const {
    const double now = std::trunc(platform::Clock::current()->wallSeconds());
    return static_cast<int64_t>(std::trunc(now - startTime_));
}

void TallyCommon::setUIPort(std::shared_ptr<TallyUIPort> port) {
    std::lock_guard lock(mutex_);
    uiPort_ = std::move(port);
}

std::shared_ptr<TallyUIPort> TallyCommon::uiPort() const {
    std::lock_guard lock(mutex_);
    return uiPort_;
}

std::string TallyCommon::SDKVersion() const {
    std::lock_guard lock(mutex_);
    return SDKVersion_;
}
void TallyCommon::setSDKVersion(std::string v) {
    std::lock_guard lock(mutex_);
    SDKVersion_ = std::move(v);
}
std::string TallyCommon::SDKName() const {
    std::lock_guard lock(mutex_);
    return SDKName_;
}
void TallyCommon::setSDKName(std::string v) {
    std::lock_guard lock(mutex_);
    SDKName_ = std::move(v);
}
std::optional<std::string> TallyCommon::attributionID() const {
    std::lock_guard lock(mutex_);
    return attributionID_;
}
void TallyCommon::setAttributionID(std::optional<std::string> v) {
    std::lock_guard lock(mutex_);
    attributionID_ = std::move(v);
}
std::string TallyCommon::lastInterfaceOrientation() const {
    std::lock_guard lock(mutex_);
    return lastInterfaceOrientation_;
}
void TallyCommon::setLastInterfaceOrientation(std::string v) {
    std::lock_guard lock(mutex_);
    lastInterfaceOrientation_ = std::move(v);
}
std::shared_ptr<TallyLoggerDelegate> TallyCommon::loggerDelegate() const {
    std::lock_guard lock(mutex_);
    return loggerDelegate_.lock();
}
void TallyCommon::setLoggerDelegate(std::weak_ptr<TallyLoggerDelegate> delegate) {
    std::lock_guard lock(mutex_);
    loggerDelegate_ = std::move(delegate);
}

bool TallyCommon::wouldLog(TallyLogLevel level) const {
    if (static_cast<unsigned>(level) > internalLogLevel()) {
        return false;
    }
    // Lines reach nobody but the delegate, so without one there is nothing to
    // format even with debugging on.
    return loggerDelegate() != nullptr;
}

void TallyInternalLog(TallyLogLevel level, std::string_view message) {
    auto& common = TallyCommon::sharedInstance();
    auto delegate = common.loggerDelegate();
    if (!common.enableDebug() && !delegate) {
        return;
    }
    if (static_cast<unsigned>(level) > common.internalLogLevel() || !delegate) {
        return;
    }
    std::string line = kTallyInternalLogPrefix;
    line += "[";
    line += TallyLogLevelName(level);
    line += "] ";
    line += message;
    delegate->internalLog(line, level);
}

void TallyTryPresentingViewController(std::shared_ptr<TallyPresentable> screen,
                                      std::function<void()> completion) {
    auto port = TallyCommon::sharedInstance().uiPort();
    if (port && port->presentOnTopViewController(screen, completion)) {
        return;
    }
    platform::DispatchQueue::main()->asyncAfter(
        1.0, [screen = std::move(screen), completion = std::move(completion)] {
            TallyTryPresentingViewController(screen, completion);
        });
}

}  // namespace tervolo::analytics
