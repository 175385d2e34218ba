#include "backend/tests/BackendTestSupport.hpp"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>

#include "logging/QLLog.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/UserDefaults.hpp"

namespace tervolo::backend::testing {

void LogLines::logMessage(const logging::QLLogMessagePtr& message) {
    std::lock_guard lock(mutex_);
    lines_.emplace_back(message->flag(), message->message());
}

std::vector<std::string> LogLines::texts() {
    logging::QLLog::sharedInstance().flushLog();
    std::lock_guard lock(mutex_);
    std::vector<std::string> result;
    for (const auto& line : lines_) result.push_back(line.second);
    return result;
}

std::vector<std::string> LogLines::texts(logging::QLLogFlag flag) {
    logging::QLLog::sharedInstance().flushLog();
    std::lock_guard lock(mutex_);
    std::vector<std::string> result;
    for (const auto& line : lines_) {
        if (line.first == flag) result.push_back(line.second);
    }
    return result;
}

bool LogLines::contains(const std::string& text) {
    const auto all = texts();
    return std::find(all.begin(), all.end(), text) != all.end();
}

void BackendTest::SetUp() {
    char pattern[] = "/tmp/tervolo-backend-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    setenv("XDG_DATA_HOME", (root_ + "/data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root_ + "/config").c_str(), 1);
    setenv("XDG_CACHE_HOME", (root_ + "/cache").c_str(), 1);
    platform::Bundle::main().setInfoDictionaryForTesting(platform::PropertyValue::Dictionary{{"CFBundleIdentifier", "org.tervolo.TervoloNG"},
                                                                        {"CFBundleVersion", "1.2.3"},
                                                                        {"QXBuildNumber", "4"},
                                                                        {"CFBundleName", "TervoloNG"}});
    platform::UserDefaults::standard().reload();
    // 2001-01-01 + 700000000 s.
    time_ = std::make_unique<tervolo::testsupport::VirtualClockScope>(700000000.0 + 978307200.0);
    log_ = std::make_shared<LogLines>();
    logging::QLLog::sharedInstance().addLogger(log_, logging::QLLogLevel::all);
}

void BackendTest::TearDown() {
    logging::QLLog::sharedInstance().removeLogger(log_);
    platform::RunLoop::runUntilIdle();
    time_.reset();
    platform::Bundle::main().setInfoDictionaryForTesting(std::nullopt);
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

bool BackendTest::runMainUntil(const std::function<bool()>& condition, double seconds) {
    return platform::RunLoop::runUntil(condition, seconds);
}

DeviceInformation sampleDevice() {
    DeviceInformation info;
    info.deviceName = "kitchen-laptop";
    info.systemVersion = "12";
    info.hardwareDescription = "ThinkPad X1 (x86_64)";
    info.appVersion = "1.2.3";
    info.vendorID = "0C3D4E5F-0000-4000-8000-000000000001";
    info.advertisingID = "";
    info.bundleID = "org.tervolo.TervoloNG";
    info.languageCode = "de";
    info.timeZoneIdentifier = "Europe/Helsinki";
    info.secondsFromGMT = 7200;
    return info;
}

}  // namespace tervolo::backend::testing
