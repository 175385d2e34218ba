#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPalette>

#include <memory>
#include <string>

#include "PointsOnMapTestSupport.hpp"
#include "location/QuovaUserLocationCircleOverlay.hpp"
#include "platform/mapkit/MKOverlayRenderer.hpp"
#include "platform/ui/PresentationRecorder.hpp"
#include "points/QuovaUserDefaults.hpp"
#include "testsupport/ui/ScreenshotSupport.hpp"

namespace points_on_map_test {
namespace {

// The screen's own answers for pins and circles; where it has none, a plain
// translucent fill (red for the points' circles, blue for the user's), so
// the circles the screen put on the map can be seen in any case.
class FillingDelegate : public platform::MKMapViewDelegate {
  public:
    explicit FillingDelegate(std::shared_ptr<platform::MKMapViewDelegate> screen)
        : screen_(std::move(screen)) {}

    std::shared_ptr<platform::MKAnnotationView> viewForAnnotation(
        platform::MKMapViewModel& map, const std::shared_ptr<platform::MKAnnotation>& annotation) override {
        return screen_->viewForAnnotation(map, annotation);
    }
    std::shared_ptr<platform::MKOverlayRenderer> rendererForOverlay(
        platform::MKMapViewModel& map, const std::shared_ptr<platform::MKOverlay>& overlay) override {
        if (auto renderer = screen_->rendererForOverlay(map, overlay)) return renderer;
        auto circle = std::dynamic_pointer_cast<platform::MKCircle>(overlay);
        if (!circle) return nullptr;
        auto renderer = std::make_shared<platform::MKCircleRenderer>(circle);
        const bool user =
            std::dynamic_pointer_cast<tervolo::location::QuovaUserLocationCircleOverlay>(overlay) != nullptr;
        renderer->setFillColor(user ? platform::Color(0, 0, 1, 0.25) : platform::Color(1, 0, 0, 0.25));
        return renderer;
    }

  private:
    std::shared_ptr<platform::MKMapViewDelegate> screen_;
};

class PointsOnMapScreenshotTest : public PointsOnMapTest {
  protected:
    struct Shot {
        std::string name;
        bool dark;
        double pixelRatio;
        bool proximityAlert;
    };

    QImage take(const Shot& shot) {
        const QPalette previous = QApplication::palette();
        if (shot.dark) QApplication::setPalette(tervolo::testsupport::darkScreenshotPalette());
        std::filesystem::remove_all(QuovaMapPoint::documentDirectory());
        QuovaMapPointStore::resetSharedForTesting();
        // The harbour and its islands, with alarm circles of several sizes; one long title and one in
        // Chinese for the callout.
        storedPoint("Kauppatori", kHelsinki, 400.0, std::string("Pohjoisesplanadi, Helsinki"));
        storedPoint("Suomenlinna", {60.1454, 24.9881}, 900.0);
        storedPoint("Seurasaari open-air museum and its long causeway over the bay", {60.1857, 24.8843},
                    600.0);
        storedPoint("Kaivopuisto", {60.1566, 24.9567});
        storedPoint("赫尔辛基大教堂", {60.1705, 24.9522}, 250.0, std::string("Unioninkatu 29"));
        fixture_ = std::make_unique<tervolo::testsupport::MapScreenFixture>();
        show();
        auto* map = controller_->mapView();
        delegate_ = std::make_shared<FillingDelegate>(
            std::static_pointer_cast<platform::MKMapViewDelegate>(controller_));
        map->setDelegate(delegate_);
        // Taken off and put back in their order, so the new delegate is asked for every renderer.
        const auto overlays = map->overlays();
        map->removeOverlays(overlays);
        map->addOverlays(overlays);
        map->setMapStyle(tervolo::tiles::QuovaBaseMapStyle::standard);
        // The user stands at the railway station with a 300 m circle.
        tervolo::points::QuovaUserDefaults::shared().setUserLocationRadius(300);
        map->updateUserLocation(platform::CLLocation({60.1719, 24.9414}, 0, 10, -1, platform::Date::now()));
        controller_->refreshCircleOverlayForUserLocation();
        map->setRegion(platform::MKCoordinateRegion{{60.165, 24.94}, {0.07, 0.2}}, false);
        const PointPtr cathedral = QuovaMapPointStore::shared().points().back();
        map->selectAnnotation(QuovaMapPointAnnotation::forPoint(cathedral));
        platform::PresentationRecorder recorder;
        if (shot.proximityAlert) {
            tervolo::points::Shorturl link;
            link.title = "Market Square";
            link.latitude = "60.16995";
            link.longitude = "24.93845";
            controller_->handleIncomingShorturl(link);
            EXPECT_NE(recorder.topAlert(), nullptr);
        }
        advance(1.0);
        map->waitForCells();
        QApplication::processEvents();
        QImage image = widgetkit_test::render(*fixture_->window(), shot.pixelRatio);
        if (recorder.topAlert()) recorder.chooseAction("Never Mind");
        platform::RunLoop::runUntilIdle();
        QApplication::setPalette(previous);
        return image;
    }

    std::shared_ptr<FillingDelegate> delegate_;
};

TEST_F(PointsOnMapScreenshotTest, WritesPointsWithTheirCirclesNearHelsinkiAndTheProximityAlert) {
    const Shot shots[] = {
        {"points-helsinki", false, 1, false},           {"points-helsinki-dark", true, 1, false},
        {"points-helsinki-dpr2", false, 2, false},      {"points-proximity-alert", false, 1, true},
        {"points-proximity-alert-dark", true, 1, true},
    };
    for (const Shot& shot : shots) {
        SCOPED_TRACE(shot.name);
        const QImage image = take(shot);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.width(), 1024 * shot.pixelRatio);
        widgetkit_test::saveScreenshot(image, QString::fromStdString(shot.name));
    }
}

}  // namespace
}  // namespace points_on_map_test
