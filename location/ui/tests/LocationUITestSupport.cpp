#include "location/ui/tests/LocationUITestSupport.hpp"

#include <QApplication>
#include <QDir>

#include <algorithm>

#include "location/ui/QuovaUserLocationView.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "platform/mapkit/qt/MKMapView.hpp"
#include "platform/text/Locale.hpp"
#include "testsupport/ui/ScreenshotSupport.hpp"
#include "testsupport/ui/TestApplication.hpp"

namespace location_ui_test {

void ensureApplication() {
    tervolo::testsupport::sharedTestApplication("tervolo_location_ui_tests");
}

void saveScreenshot(const QImage& image, const QString& name) {
    tervolo::testsupport::saveScreenshot(image, QStringLiteral(TERVOLO_SCREENSHOT_DIR), name);
}

platform::CLLocation fix(double speed, double course, double altitude, double verticalAccuracy) {
    return platform::CLLocation({60.1699, 24.9384}, altitude, 10, verticalAccuracy, course, speed,
                                platform::Date::now());
}

std::shared_ptr<platform::MKAnnotationView> MapScreenStandIn::viewForAnnotation(
    platform::MKMapViewModel& mapView, const std::shared_ptr<platform::MKAnnotation>& annotation) {
    auto userLocation = std::dynamic_pointer_cast<platform::MKUserLocation>(annotation);
    if (!userLocation) return nullptr;
    userLocation->setTitle("My Position");
    userLocation->setSubtitle("(unknown speed/bearing)");
    auto view = location::QuovaUserLocationModel::shared().mapViewViewForUserLocation(mapView, annotation);
    gear = new QPushButton(QStringLiteral("\u2699"));
    gear->setObjectName(QStringLiteral("gear"));
    gear->setFixedSize(28, 28);
    QObject::connect(gear, &QPushButton::clicked, [this] { clicks.push_back("gear"); });
    share = new QPushButton(QStringLiteral("\u2191"));
    share->setObjectName(QStringLiteral("share"));
    share->setFixedSize(28, 28);
    QObject::connect(share, &QPushButton::clicked, [this] { clicks.push_back("share"); });
    view->setLeftCalloutAccessoryView(std::make_shared<platform::MKCalloutAccessoryWidget>(gear));
    view->setRightCalloutAccessoryView(std::make_shared<platform::MKCalloutAccessoryWidget>(share));
    return view;
}

void MapScreenStandIn::didUpdateUserLocation(platform::MKMapViewModel& mapView,
                                             const std::shared_ptr<platform::MKUserLocation>& userLocation) {
    location::QuovaUserLocationModel::shared().mapViewDidUpdate(mapView, userLocation);
}

void LocationUITest::SetUp() {
    ensureApplication();
    platform::Bundle::main().setInfoDictionaryForTesting(
        platform::PropertyValue::Dictionary{{"CFBundleIdentifier", "org.tervolo.TervoloNG"},
                                            {"CFBundleVersion", "77"},
                                            {"CFBundleName", "TervoloNG"}});
    platform::UserDefaults::standard().reload();
    platform::text::Locale::setCurrentForTesting(
        platform::text::Locale("en_GB", platform::text::MeasurementSystem::Metric));
    model_ = std::make_unique<location::QuovaUserLocationModel>([this] { return bestKnown_; });
    replacement_.emplace(*model_);
    log_.clear();
}

void LocationUITest::TearDown() {
    platform::RunLoop::runUntilIdle();
    replacement_.reset();
    model_.reset();
    platform::text::Locale::setCurrentForTesting(std::nullopt);
    platform::Bundle::main().setInfoDictionaryForTesting(std::nullopt);
}

void LocationUITest::setExtendedDisplay(bool extended) {
    platform::UserDefaults::standard().set(
        location::QuovaUserLocationModel::kUseExtendedUserLocationDisplayKey,
        platform::PropertyValue(extended));
}

bool LocationUITest::logged(const std::string& text) {
    const auto texts = log_.texts();
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

}  // namespace location_ui_test
