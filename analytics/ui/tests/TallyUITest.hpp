#pragma once

#include <QApplication>
#include <QCoreApplication>

#include <memory>
#include <optional>

#include "analytics/TallyCommon.hpp"
#include "analytics/tests/AnalyticsTestSupport.hpp"
#include "analytics/ui/TallyQtBridge.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "testsupport/ui/TestApplication.hpp"

namespace tervolo::analytics::testing {

// A facade test with a Qt application and, when a test installs one, the Qt
// bridge; the bridge and the UI port are gone again after each test.
class TallyUITest : public TallyFacadeTest {
  protected:
    void SetUp() override {
        app_.emplace("tervolo_analytics_ui_tests");
    }
    void TearDown() override {
        bridge_.reset();
        TallyCommon::sharedInstance().setUIPort(nullptr);
    }
    // Runs posted Qt events and queued main-queue work until both are idle.
    void settle() {
        QCoreApplication::processEvents();
        platform::RunLoop::runUntilIdle();
        QCoreApplication::processEvents();
    }

    std::optional<tervolo::testsupport::ScopedTestApplication> app_;
    std::shared_ptr<TallyQtBridge> bridge_;
};

}  // namespace tervolo::analytics::testing
