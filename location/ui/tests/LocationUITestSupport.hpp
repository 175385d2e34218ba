#pragma once

#include <gtest/gtest.h>

#include <QImage>
#include <QPushButton>
#include <QString>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "location/ui/QuovaUserLocationModel.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "platform/location/CLLocation.hpp"
#include "platform/mapkit/MKMapViewDelegate.hpp"
#include "testsupport/TestEnvironment.hpp"
#include "testsupport/location/ScriptedPositionSource.hpp"
#include "testsupport/logging/LogRecorder.hpp"

namespace location_ui_test {

namespace location = tervolo::location;

// The one QApplication of the test binary (made on first use, never destroyed).
void ensureApplication();

// Saves `image` as <build>/screenshots/location/<name>.png for a person to look at.
void saveScreenshot(const QImage& image, const QString& name);

// A fix with what the callout shows: speed (m/s), course (degrees), altitude
// (metres) and vertical accuracy (metres; 0: no altitude).
platform::CLLocation fix(double speed, double course, double altitude, double verticalAccuracy = 5);

// The main map screen's share in the user's position, as a map delegate: the
// user location's view comes from the model, with "My Position" and "(unknown
// speed/bearing)" set first and a gear button on the left and a share button
// on the right of the callout; every user-location update goes to the model.
class MapScreenStandIn : public platform::MKMapViewDelegate {
  public:
    std::shared_ptr<platform::MKAnnotationView> viewForAnnotation(
        platform::MKMapViewModel& mapView,
        const std::shared_ptr<platform::MKAnnotation>& annotation) override;
    void didUpdateUserLocation(platform::MKMapViewModel& mapView,
                               const std::shared_ptr<platform::MKUserLocation>& userLocation) override;

    std::vector<std::string> clicks;  // "gear", "share" as the buttons are clicked
    QPushButton* gear = nullptr;
    QPushButton* share = nullptr;
};

// A test of the user-location UI: a QApplication, private folders and
// preferences, a virtual clock, the log recorded, position sources scripted,
// a fixed locale (metric unless a test says otherwise) and a model of its own
// in place of the shared one, reading bestKnown_ as the best known location.
class LocationUITest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    void setExtendedDisplay(bool extended);
    // The log lines recorded since the last clear().
    std::vector<std::string> logTexts() { return log_.texts(); }
    bool logged(const std::string& text);

    tervolo::testsupport::TestEnvironment environment_;
    tervolo::testsupport::SharedLogRecording log_;
    tervolo::testsupport::ScriptedPositionSources sources_;
    std::optional<platform::CLLocation> bestKnown_;
    std::unique_ptr<location::QuovaUserLocationModel> model_;
    std::optional<platform::SharedInstance<location::QuovaUserLocationModel>::Replacement> replacement_;
};

}  // namespace location_ui_test
