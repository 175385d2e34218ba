#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>

#include <string>

#include "MapDelegateTestSupport.hpp"
#include "location/QuovaPinCircleOverlay.hpp"
#include "location/QuovaUserLocationCircleOverlay.hpp"
#include "platform/location/CLLocation.hpp"
#include "platform/mapkit/MKGeometry.hpp"
#include "tiles/QuovaBaseMapStyle.hpp"

namespace mapdelegate_test {
namespace {

// The callouts as the user sees them on the map screen: a selected point's
// (title, address, the application's image), the user's own with its gear and
// share buttons, with an alarm circle and the user's circle beneath; light and
// dark palette, pixel ratio 1 and 2, long, CJK and right-to-left titles.
class CalloutScreenshotTest : public MapDelegateTest {
  protected:
    struct Shot {
        std::string name;
        bool user;  // the user's callout instead of a point's
        std::string title;
        std::string subtitle;
        bool dark;
        double pixelRatio;
    };

    QImage take(const Shot& shot) {
        widgetkit_test::PaletteScope palette(shot.dark);
        show(QSize(900, 600));
        map().setMapStyle(tervolo::tiles::QuovaBaseMapStyle::standard);
        map().setRegion(platform::MKCoordinateRegionMakeWithDistance({48.137, 11.575}, 3000, 3000));
        advance(1.0);
        // The circles straight on the map: the red one around the point, the blue one around the user.
        map().addOverlay(std::make_shared<tervolo::location::QuovaPinCircleOverlay>(
            platform::CLLocationCoordinate2D{48.137, 11.575}, 250.0));
        map().addOverlay(std::make_shared<tervolo::location::QuovaUserLocationCircleOverlay>(
            platform::CLLocationCoordinate2D{48.131, 11.562}, 400.0));
        map().updateUserLocation(platform::CLLocation(48.131, 11.562));
        auto point = putPoint(shot.title, 48.137, 11.575);
        if (!shot.subtitle.empty()) point->setSubtitle(shot.subtitle);
        map().annotationChanged(annotationOf(point));
        if (shot.user) {
            map().selectAnnotation(map().userLocation());
        } else {
            map().selectAnnotation(annotationOf(point));
        }
        advance(1.0);
        map().waitForCells();
        QApplication::processEvents();
        return widgetkit_test::render(*fixture_->window(), shot.pixelRatio);
    }
};

TEST_F(CalloutScreenshotTest, WritesTheCalloutsAndLooks) {
    const Shot shots[] = {
        {"callout-point", false, "Marienplatz", "Marienplatz 1, 80331 München, Deutschland", false, 1},
        {"callout-point-dark-dpr2", false, "Marienplatz", "Marienplatz 1, 80331 München", true, 2},
        {"callout-point-long", false,
         "A point with a title far longer than any callout has room for, typed by a patient user", "", false,
         1},
        {"callout-point-cjk", false, "玛利亚广场", "慕尼黑市中心", false, 1},
        {"callout-point-rtl", false, "ساحة مارين", "ميونخ، ألمانيا", false, 1},
        {"callout-user", true, "Marienplatz", "", false, 1},
        {"callout-user-dark-dpr2", true, "Marienplatz", "", true, 2},
    };
    for (const Shot& shot : shots) {
        SCOPED_TRACE(shot.name);
        const QImage image = take(shot);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.width(), 900 * shot.pixelRatio);
        widgetkit_test::saveScreenshot(image, QString::fromStdString(shot.name));
        platform::MKCalloutView* callout = map().calloutView();
        ASSERT_NE(callout, nullptr);
        EXPECT_TRUE(callout->isVisible());
        screen_.reset();
        fixture_ = std::make_unique<tervolo::testsupport::MapScreenFixture>();
        advance(2.0);
    }
}

// The status line moved aside for the compass of a turned map.
TEST_F(MapDelegateTest, WritesTheStatusLineBesideTheCompass) {
    fixture_->tileStatus = "Tile cache: 12 of 40 tiles loaded, 3 downloading";
    show(QSize(900, 600));
    map().setRegion(platform::MKCoordinateRegionMakeWithDistance({48.137, 11.575}, 3000, 3000));
    advance(1.5);
    map().beginUserGesture();
    map().rotateTo(35);
    map().endUserGesture();
    advance(1.5);
    map().waitForCells();
    QApplication::processEvents();
    ASSERT_NE(map().findSubview(QStringLiteral("MKCompassView")), nullptr);
    widgetkit_test::saveScreenshot(widgetkit_test::render(*fixture_->window(), 1.0),
                                   QStringLiteral("status-beside-compass"));
}

}  // namespace
}  // namespace mapdelegate_test
