#include "points/tests/PointsTestSupport.hpp"

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "logging/QLLog.hpp"
#include "platform/dispatch/Clock.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/QuovaPointTagStore.hpp"
#include "testsupport/FakeSearchIndex.hpp"

namespace tervolo::points::testing {

using testsupport::FakeSearchIndex;

void LogRecorder::logMessage(const logging::QLLogMessagePtr& logMessage) {
    std::lock_guard lock(mutex_);
    lines_.push_back({logMessage->flag(), logMessage->message()});
}

std::vector<LoggedLine> LogRecorder::lines() {
    logging::QLLog::sharedInstance().flushLog();
    std::lock_guard lock(mutex_);
    return lines_;
}

std::vector<std::string> LogRecorder::texts() {
    std::vector<std::string> result;
    for (auto& line : lines()) result.push_back(line.text);
    return result;
}

std::vector<std::string> LogRecorder::texts(logging::QLLogFlag flag) {
    std::vector<std::string> result;
    for (auto& line : lines()) {
        if (line.flag == flag) result.push_back(line.text);
    }
    return result;
}

void LogRecorder::clear() {
    logging::QLLog::sharedInstance().flushLog();
    std::lock_guard lock(mutex_);
    lines_.clear();
}

void PointsTest::SetUp() {
    char pattern[] = "/tmp/tervolo-points-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    setenv("XDG_DATA_HOME", (root_ + "/data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root_ + "/config").c_str(), 1);
    setenv("XDG_CACHE_HOME", (root_ + "/cache").c_str(), 1);
    platform::Bundle::main().setInfoDictionaryForTesting(
        platform::PropertyValue::Dictionary{{"CFBundleIdentifier", "org.tervolo.TervoloNG"},
                                            {"CFBundleVersion", "77"},
                                            {"CFBundleName", "TervoloNG"}});
    platform::UserDefaults::standard().reload();

    clock_ = std::make_shared<platform::VirtualClock>(kStartSeconds2001 + platform::Date::kUnixOffset);
    platform::Clock::install(clock_);

    log_ = std::make_shared<LogRecorder>();
    logging::QLLog::sharedInstance().addLogger(log_, logging::QLLogLevel::all);
    logging::QLLog::sharedInstance().flushLog();

    FakeSearchIndex::install();
    QuovaMapPointStore::resetSharedForTesting();
    QuovaPointTagStore::resetSharedForTesting();
}

void PointsTest::TearDown() {
    logging::QLLog::sharedInstance().removeLogger(log_);
    logging::QLLog::sharedInstance().flushLog();
    QuovaMapPointStore::resetSharedForTesting();
    QuovaPointTagStore::resetSharedForTesting();
    FakeSearchIndex::uninstall();
    platform::Clock::install(nullptr);
    platform::Bundle::main().setInfoDictionaryForTesting(std::nullopt);
    std::error_code ignored;
    // Folders made read-only by a test must be writable again to be removed.
    for (auto& entry : std::filesystem::recursive_directory_iterator(
             root_, std::filesystem::directory_options::skip_permission_denied, ignored)) {
        if (entry.is_directory(ignored)) chmod(entry.path().c_str(), 0700);
    }
    chmod(root_.c_str(), 0700);
    std::filesystem::remove_all(root_, ignored);
}

std::string PointsTest::readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

void PointsTest::writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::vector<std::string> PointsTest::entries(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ignored;
    for (auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string goldenText(const std::string& name) {
    std::ifstream in(std::string(POINTS_TEST_DATA_DIR) + "/" + name, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    std::string text = buffer.str();
    // Golden files end with one newline for the editor's sake; the file
    // format itself has none.
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

}  // namespace tervolo::points::testing
