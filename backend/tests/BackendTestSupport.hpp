#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "backend/DeviceInformation.hpp"
#include "logging/QLLogger.hpp"
#include "testsupport/VirtualClockScope.hpp"

namespace tervolo::backend::testing {

// Keeps the text and level of every record the logging registry delivers.
class LogLines : public logging::QLLogger {
  public:
    void logMessage(const logging::QLLogMessagePtr& message) override;
    std::shared_ptr<logging::QLLogFormatter> logFormatter() override { return nullptr; }
    void setLogFormatter(std::shared_ptr<logging::QLLogFormatter>) override {}

    // Every record so far, after the registry has delivered what was queued.
    std::vector<std::string> texts();
    std::vector<std::string> texts(logging::QLLogFlag flag);
    bool contains(const std::string& text);

  private:
    std::mutex mutex_;
    std::vector<std::pair<logging::QLLogFlag, std::string>> lines_;
};

// Private XDG folders, a fixed information dictionary, a virtual clock and a
// log recorder for every backend test.
class BackendTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Pumps the main queue until `condition` holds (real-time bound).
    static bool runMainUntil(const std::function<bool()>& condition, double seconds = 10);

    std::string root_;
    std::unique_ptr<tervolo::testsupport::VirtualClockScope> time_;
    std::shared_ptr<LogLines> log_;
};

// A fixed installation for request bodies.
DeviceInformation sampleDevice();

}  // namespace tervolo::backend::testing
