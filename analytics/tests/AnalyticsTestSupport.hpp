#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "analytics/TallyCommon.hpp"
#include "analytics/TallyConfig.hpp"
#include "analytics/TallyUIPort.hpp"
#include "testsupport/TemporaryFolder.hpp"
#include "testsupport/VirtualClockScope.hpp"

namespace tervolo::analytics::testing {

// Keeps every internal log line.
class RecordingLogger : public TallyLoggerDelegate {
  public:
    void internalLog(const std::string& log, TallyLogLevel level) override;
    std::vector<std::string> lines() const;
    size_t count(const std::string& fragment) const;
    void clear();

  private:
    mutable std::mutex mutex_;
    std::vector<std::pair<std::string, TallyLogLevel>> lines_;
};

// A screen, a top controller that appears on demand, recorded presentations.
class FakeUIPort : public TallyUIPort {
  public:
    std::optional<TallyScreenFacts> screen;
    int orientationNumber = 0;
    bool inBackground = false;
    std::optional<std::string> top;
    std::vector<std::shared_ptr<TallyPresentable>> presented;
    std::vector<std::string> opened;
    // The last star-rating dialog made: its message and how it finishes.
    std::string dialogMessage;
    std::function<void(int)> finishDialog;
    std::shared_ptr<TallyPresentable> makeStarRatingDialog(const std::string& message,
                                                           std::function<void(int)> finished) override {
        struct Dialog : TallyPresentable {};
        dialogMessage = message;
        finishDialog = std::move(finished);
        return std::make_shared<Dialog>();
    }
    void openURL(const std::string& url) override { opened.push_back(url); }

    std::optional<TallyScreenFacts> mainScreen() const override { return screen; }
    int deviceOrientation() const override { return orientationNumber; }
    int interfaceOrientation() const override { return interfaceOrientationNumber; }
    int interfaceOrientationNumber = 1;
    bool isApplicationInBackground() const override { return inBackground; }
    std::optional<std::string> topViewController() const override { return top; }
    bool presentOnTopViewController(std::shared_ptr<TallyPresentable> presentable,
                                    std::function<void()> completion) override;
};

// Sets TZ for the scope and restores it.
class TimeZoneScope {
  public:
    explicit TimeZoneScope(const char* tz);
    ~TimeZoneScope();

  private:
    std::optional<std::string> saved_;
};

// Fresh folders, a virtual clock at 1700000000.123 s, TZ=UTC, the shared
// analytics state reset and a recording logger with every level on.
class AnalyticsTest : public ::testing::Test {
  protected:
    AnalyticsTest();
    ~AnalyticsTest() override;

    tervolo::testsupport::TemporaryFolder folder_;
    TimeZoneScope tz_{"UTC"};
    tervolo::testsupport::VirtualClockScope time_{1700000000.123};
    std::shared_ptr<RecordingLogger> logger_ = std::make_shared<RecordingLogger>();
};

// AnalyticsTest with the client marked as started: app key "KEY", device ID
// "DEV", a host on 127.0.0.1 that nothing listens on, and sending held back
// (the connection manager counts as terminating) unless a test opens it.
class StartedAnalyticsTest : public AnalyticsTest {
  protected:
    StartedAnalyticsTest();
    ~StartedAnalyticsTest() override;
    // The requests queued so far.
    std::vector<std::string> queued() const;
};

// Every shared analytics module back to "never made" (a fresh process).
void resetAnalyticsModules();

// AnalyticsTest for the facade: Tally and every module reset before and after.
class TallyFacadeTest : public AnalyticsTest {
  protected:
    TallyFacadeTest();
    ~TallyFacadeTest() override;
    // This system's configuration: app key "KEY", device ID "DEV", POST always,
    // crash reporting and view tracking asked for.
    static TallyConfig systemConfig(const std::string& host);
    // Starts with systemConfig() and a host nothing listens on, with sending
    // held back, so tests read the queue as built.
    void startOffline(TallyConfig config = systemConfig("http://127.0.0.1:9"));
    std::vector<std::string> queued() const;
    std::string last() const;
};

}  // namespace tervolo::analytics::testing
