#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <any>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "logging/QLLogFileInfo.hpp"
#include "logging/QLLogFileManagerDefault.hpp"
#include "logging/QLLogMessage.hpp"
#include "platform/dispatch/Date.hpp"
#include "platform/foundation/Assertion.hpp"
#include "platform/foundation/FileManager.hpp"
#include "testsupport/TemporaryFolder.hpp"

namespace tervolo::logging::testing {

inline QLLogMessagePtr makeRecord(std::string text, std::optional<platform::Date> timestamp = std::nullopt) {
    return std::make_shared<const QLLogMessage>(std::move(text), QLLogLevel::all, QLLogFlag::info, 0,
                                                "/src/Caller.cpp", "fn", 1, std::any{}, 3, timestamp);
}

inline QLLogMessagePtr makeRecord(QLLogFlag flag, std::string text = "m",
                                  std::string_view file = "/src/Caller.cpp") {
    return std::make_shared<const QLLogMessage>(std::move(text), QLLogLevel::all, flag, 0, file, "fn", 1,
                                                std::any{}, 3, std::nullopt);
}

inline std::string readText(const std::string& path) {
    auto data = platform::FileManager::defaultManager().readFile(path);
    if (!data) return {};
    return std::string(data->begin(), data->end());
}

inline std::string baseName(const std::string& path) {
    return path.substr(path.find_last_of('/') + 1);
}

// Makes extended attributes fail as on a file system without them while alive.
class ScopedExtendedAttributesRefused {
  public:
    ScopedExtendedAttributesRefused() { QLLogFileInfo::setExtendedAttributesRefusedForTesting(true); }
    ~ScopedExtendedAttributesRefused() { QLLogFileInfo::setExtendedAttributesRefusedForTesting(false); }
};

// A temporary caches folder with a logs folder in it; every assertion failure
// of the code under test is collected (and, unless expected, fails the test).
class LogFolderTest : public ::testing::Test {
  protected:
    LogFolderTest()
        : assertions_([this](std::string_view, std::string_view file, std::string_view message) {
              std::lock_guard lock(assertionMutex_);
              assertionTexts_.push_back(std::string(file) + ": " + std::string(message));
          }) {
        logsDirectory_ = folder_.cacheHome() + "/TervoloNG/Logs";
    }
    ~LogFolderTest() override {
        if (!expectAssertions_) {
            EXPECT_TRUE(assertionTexts().empty()) << assertionTexts().front();
        }
    }

    std::vector<std::string> assertionTexts() {
        std::lock_guard lock(assertionMutex_);
        return assertionTexts_;
    }

    std::shared_ptr<QLLogFileManagerDefault> makeManager() {
        return std::make_shared<QLLogFileManagerDefault>(logsDirectory_);
    }

    // A log file named for `date` with `size` bytes (sparse beyond the text).
    std::string makeLogFile(platform::Date date, uint64_t size = 0, bool archived = false,
                            const std::string& text = {}) {
        return makeFile(QLLogFileManagerDefault::logFileName(date), size, archived, text);
    }
    std::string makeFile(const std::string& name, uint64_t size = 0, bool archived = false,
                         const std::string& text = {}) {
        auto& files = platform::FileManager::defaultManager();
        EXPECT_FALSE(files.createDirectory(logsDirectory_, true).has_value());
        const std::string path = logsDirectory_ + "/" + name;
        EXPECT_FALSE(files.writeFile(path, text).has_value());
        if (size > text.size()) {
            EXPECT_EQ(::truncate(path.c_str(), static_cast<off_t>(size)), 0);
        }
        if (archived) QLLogFileInfo(path).setIsArchived(true);
        return path;
    }

    // Names of the folder's entries, sorted.
    std::vector<std::string> folderNames() {
        auto names = platform::FileManager::defaultManager().contentsOfDirectory(logsDirectory_);
        if (!names) return {};
        auto list = names.value();
        std::sort(list.begin(), list.end());
        return list;
    }

    tervolo::testsupport::TemporaryFolder folder_;
    std::string logsDirectory_;
    bool expectAssertions_ = false;

  private:
    std::mutex assertionMutex_;
    std::vector<std::string> assertionTexts_;
    platform::ScopedAssertionHandler assertions_;
};

}  // namespace tervolo::logging::testing
