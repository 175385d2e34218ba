#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "logging/QLLogger.hpp"
#include "platform/dispatch/VirtualClock.hpp"
#include "platform/foundation/FileManager.hpp"

namespace tervolo::points::testing {

// One captured log record: its flag and text.
struct LoggedLine {
    logging::QLLogFlag flag;
    std::string text;
};

// A logger installed in the shared registry that keeps every record.
class LogRecorder : public logging::QLLogger {
  public:
    void logMessage(const logging::QLLogMessagePtr& logMessage) override;
    std::shared_ptr<logging::QLLogFormatter> logFormatter() override { return nullptr; }
    void setLogFormatter(std::shared_ptr<logging::QLLogFormatter>) override {}

    // Waits for every record queued so far, then returns all texts.
    std::vector<LoggedLine> lines();
    std::vector<std::string> texts();
    // Texts at one level.
    std::vector<std::string> texts(logging::QLLogFlag flag);
    void clear();

  private:
    std::mutex mutex_;
    std::vector<LoggedLine> lines_;
};

// A private documents, preferences and caches folder (through the XDG
// variables), a virtual clock at a fixed wall time, a fresh point store and
// tag store on first use, and a recorder of log lines.
class PointsTest : public ::testing::Test {
  protected:
    // 2023-03-06 ... : seconds since 2001 = 700000000.
    static constexpr double kStartSeconds2001 = 700000000.0;

    void SetUp() override;
    void TearDown() override;

    std::string documents() const { return root_ + "/data/TervoloNG"; }
    std::string pointsFolder() const { return documents() + "/points/"; }
    std::string tagsFolder() const { return documents() + "/tags/"; }

    static std::string readText(const std::string& path);
    static void writeText(const std::string& path, const std::string& text);
    // Names of the folder's entries, sorted.
    static std::vector<std::string> entries(const std::string& folder);

    std::string root_;
    std::shared_ptr<platform::VirtualClock> clock_;
    std::shared_ptr<LogRecorder> log_;
};

// The text of a golden file in the tests' data folder.
std::string goldenText(const std::string& name);

}  // namespace tervolo::points::testing
