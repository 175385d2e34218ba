#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "location/QuovaLocationServices.hpp"
#include "mapscreen/CenterButton.hpp"
#include "mapscreen/MainViewController.hpp"
#include "platform/dispatch/Date.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "platform/location/CLLocation.hpp"
#include "platform/location/CLLocationManager.hpp"
#include "platform/ui/tests/WidgetKitTestSupport.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "testsupport/TestEnvironment.hpp"
#include "testsupport/location/ScriptedPositionSource.hpp"
#include "testsupport/logging/LogRecorder.hpp"
#include "testsupport/mapscreen/MapScreenFixture.hpp"

namespace tracking_test {

using tervolo::mapscreen::MainViewController;

// The map screen with a location service of the test's own (its fixes handed
// in by the test), the HUD recorded, the authorisation answered by the
// fixture, the log recorded and time virtual. The tracking mode starts absent.
class TrackingTest : public widgetkit_test::WidgetTest {
  protected:
    void SetUp() override {
        widgetkit_test::WidgetTest::SetUp();
        platform::CLLocationManager::resetAuthorizationForTesting();
        platform::UserDefaults::standard().remove(tervolo::mapscreen::CenterButton::kTrackingModeKey);
        tervolo::points::QuovaMapPointStore::shared().replacePointsForTesting({});
        services_ = tervolo::location::QuovaLocationServices::make();
        services_->initLocationServices();
        platform::RunLoop::runUntilIdle();
        fixture_->locationServices = services_;
    }
    void TearDown() override {
        controller_.reset();
        fixture_.reset();
        platform::RunLoop::runUntilIdle();
        services_.reset();
        tervolo::points::QuovaMapPointStore::shared().replacePointsForTesting({});
        platform::UserDefaults::standard().remove(tervolo::mapscreen::CenterButton::kTrackingModeKey);
        platform::CLLocationManager::resetAuthorizationForTesting();
        widgetkit_test::WidgetTest::TearDown();
    }

    std::shared_ptr<MainViewController> show(QSize size = QSize(1280, 800)) {
        controller_ = fixture_->showInWindow(size);
        platform::RunLoop::runUntilIdle();
        return controller_;
    }
    void advance(double seconds) {
        environment_.advance(seconds);
        platform::RunLoop::runUntilIdle();
    }
    platform::Date now() const { return platform::Date::now(); }

    static void storeMode(std::optional<platform::PropertyValue> value) {
        auto& defaults = platform::UserDefaults::standard();
        if (value) {
            defaults.set(tervolo::mapscreen::CenterButton::kTrackingModeKey, *value);
        } else {
            defaults.remove(tervolo::mapscreen::CenterButton::kTrackingModeKey);
        }
    }
    static std::optional<int64_t> storedMode() {
        return platform::UserDefaults::standard().integerValue(
            tervolo::mapscreen::CenterButton::kTrackingModeKey);
    }

    // A fresh fix at (latitude, longitude) with an accuracy in metres and a
    // course in degrees (negative: unknown).
    platform::CLLocation fix(double latitude, double longitude, double accuracy = 5,
                             double course = -1) const {
        return platform::CLLocation({latitude, longitude}, 0, accuracy, -1, course, -1,
                                    platform::Date::now());
    }
    // Hands a fix to the service as its permanent manager would.
    void deliver(const platform::CLLocation& location) {
        services_->locationManagerDidUpdateLocations(*services_->permanentLocationManager()->manager,
                                                     {location});
    }

    // The map shows `latitudeSpan` degrees of latitude around (latitude, longitude).
    void showRegion(double latitude, double longitude, double latitudeSpan) {
        controller_->mapView()->setRegion(
            platform::MKCoordinateRegion{{latitude, longitude}, {latitudeSpan, latitudeSpan / 1000}}, false);
        platform::RunLoop::runUntilIdle();
    }

    size_t logCount(const std::string& text) {
        const auto lines = log_.texts();
        return static_cast<size_t>(std::count(lines.begin(), lines.end(), text));
    }

    tervolo::testsupport::TestEnvironment environment_;
    tervolo::testsupport::ScriptedPositionSources sources_;
    tervolo::testsupport::SharedLogRecording log_;
    std::shared_ptr<tervolo::location::QuovaLocationServices> services_;
    std::unique_ptr<tervolo::testsupport::MapScreenFixture> fixture_ =
        std::make_unique<tervolo::testsupport::MapScreenFixture>();
    std::shared_ptr<MainViewController> controller_;
};

}  // namespace tracking_test
