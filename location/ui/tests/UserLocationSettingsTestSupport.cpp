#include "location/ui/tests/UserLocationSettingsTestSupport.hpp"

#include <QApplication>

#include "platform/dispatch/RunLoop.hpp"
#include "platform/text/Numbers.hpp"
#include "platform/ui/AlertController.hpp"

namespace location_ui_test {

FakeMapScreen::FakeMapScreen() {
    pin =
        std::make_shared<platform::MKPointAnnotation>(platform::CLLocationCoordinate2D{60.17, 24.94}, "Pin");
    map.addAnnotation(pin);
    map.selectAnnotation(pin);
    map.setShowsUserLocation(true);
}

void FakeMapScreen::dropPinAtLocation(platform::CLLocationCoordinate2D coordinate,
                                      std::optional<std::string> title) {
    calls.push_back("dropPinAtLocation " + platform::text::describe(coordinate.latitude) + "," +
                    platform::text::describe(coordinate.longitude) + " " + title.value_or("(none)"));
}

void FakeMapScreen::refreshCircleOverlayForUserLocation() {
    calls.push_back("refreshCircleOverlayForUserLocation");
}

void UserLocationSettingsTest::SetUp() {
    LocationUITest::SetUp();
    recorder_ = std::make_unique<platform::PresentationRecorder>();
    window_ = std::make_unique<platform::MainWindow>();
    window_->resize(900, 760);
    host_ = std::make_shared<platform::ViewController>();
    window_->setRootViewController(host_);
    window_->show();
    settle();
}

void UserLocationSettingsTest::TearDown() {
    // Widgets go before the application's test state does.
    navigation_.reset();
    window_.reset();
    host_.reset();
    recorder_.reset();
    settle();
    LocationUITest::TearDown();
}

std::shared_ptr<location::UserLocationSettingsViewController> UserLocationSettingsTest::open(
    std::optional<platform::CLLocation> location, bool withMapScreen) {
    auto screen = std::make_shared<location::UserLocationSettingsViewController>("UserLocationSettingsView");
    screen->setUserLocation(std::move(location));
    if (withMapScreen) screen->setMainVC(mapScreen_);
    navigation_ = std::make_shared<platform::NavigationController>(screen);
    navigation_->setModalPresentationStyle(platform::ModalPresentationStyle::formSheet);
    navigation_->setPreferredContentSize(QSizeF(450, 507));
    host_->present(navigation_, true);
    settle();
    return screen;
}

void UserLocationSettingsTest::settle() {
    for (int i = 0; i < 3; ++i) {
        QApplication::processEvents();
        platform::RunLoop::runUntilIdle();
    }
}

std::string UserLocationSettingsTest::topAlertTitle() const {
    const auto alert = recorder_->topAlert();
    return alert ? alert->title() : std::string();
}

bool UserLocationSettingsTest::navigationIsPresented() const {
    return host_->presentedViewController() == navigation_;
}

platform::CLLocation UserLocationSettingsTest::helsinki() {
    return platform::CLLocation({60.1699, 24.9384}, 20, 8, 5, 90, 1.5, platform::Date::now());
}

}  // namespace location_ui_test
