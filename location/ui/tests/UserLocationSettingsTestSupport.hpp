#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "location/ui/UserLocationMapScreen.hpp"
#include "location/ui/UserLocationSettingsViewController.hpp"
#include "location/ui/tests/LocationUITestSupport.hpp"
#include "platform/mapkit/MKMapViewModel.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/NavigationController.hpp"
#include "platform/ui/PresentationRecorder.hpp"

namespace location_ui_test {

// The map screen as the settings screen sees it: records every call, and
// has a map model of its own with one selected pin and the user's location
// shown.
class FakeMapScreen : public location::UserLocationMapScreen {
  public:
    FakeMapScreen();

    void dropPinAtLocation(platform::CLLocationCoordinate2D coordinate,
                           std::optional<std::string> title) override;
    void refreshCircleOverlayForUserLocation() override;
    platform::MKMapViewModel* mapView() override { return hasMap ? &map : nullptr; }

    // "dropPinAtLocation 60.1699,24.9384 My Position", "refreshCircleOverlayForUserLocation".
    std::vector<std::string> calls;
    platform::MKMapViewModel map;
    std::shared_ptr<platform::MKPointAnnotation> pin;
    bool hasMap = true;
};

// A settings screen presented the way the map screen does it: in a
// navigation controller, as a form sheet, from the root of a 900 × 760
// window. Animations run at once; the presentation recorder plays the user
// on sheets and alerts.
class UserLocationSettingsTest : public LocationUITest {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Makes and presents the screen for `location` (none: no known position).
    std::shared_ptr<location::UserLocationSettingsViewController> open(
        std::optional<platform::CLLocation> location, bool withMapScreen = true);
    // Pumps the main queue and the Qt events.
    static void settle();
    // The titles of the alert or sheet on top, none when nothing is presented.
    std::vector<std::string> topTitles() const { return recorder_->actionTitles(); }
    std::string topAlertTitle() const;
    bool navigationIsPresented() const;
    // The fix of the tests: Helsinki, central railway station.
    static platform::CLLocation helsinki();

    platform::ImmediateAnimationsScope immediate_;
    std::unique_ptr<platform::PresentationRecorder> recorder_;
    std::unique_ptr<platform::MainWindow> window_;
    std::shared_ptr<platform::ViewController> host_;
    std::shared_ptr<platform::NavigationController> navigation_;
    std::shared_ptr<FakeMapScreen> mapScreen_ = std::make_shared<FakeMapScreen>();
};

}  // namespace location_ui_test
