#include "analytics/tests/AnalyticsTestSupport.hpp"

#include <cstdlib>
#include <ctime>

#include "analytics/TallyDeviceInfo.hpp"

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
    common.setLoggerDelegate(logger_);
    common.setInternalLogLevel(5);
    TallyDeviceInfo::sharedInstance().resetForTesting();
}

AnalyticsTest::~AnalyticsTest() {
    TallyCommon::sharedInstance().resetForTesting();
    TallyDeviceInfo::sharedInstance().resetForTesting();
}

}  // namespace tervolo::analytics::testing
