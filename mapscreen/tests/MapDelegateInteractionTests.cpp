#include <gtest/gtest.h>

#include <QApplication>
#include <QPalette>
#include <QTest>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "MapDelegateTestSupport.hpp"
#include "platform/mapkit/MKGeometry.hpp"
#include "platform/mapkit/MKOverlay.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/NavigationController.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "testsupport/UnwritableFolder.hpp"
#include "testsupport/ui/ScreenshotSupport.hpp"

namespace mapdelegate_test {
namespace {

// Real mouse input on the map, on virtual time.
class MapDelegateInteractionTest : public MapDelegateTest {
  protected:
    // The map around Munich's Marienplatz, a point on it, and where its pin's head is drawn.
    std::shared_ptr<QuovaMapPoint> pointOnScreen(QPoint& head) {
        map().setRegion(platform::MKCoordinateRegionMakeWithDistance({48.137, 11.575}, 4000, 4000));
        advance(1.0);
        auto point = putPoint("Marienplatz", 48.137, 11.575);
        map().updateAnnotationViews();
        head = (map().anchorPointForAnnotation(*annotationOf(point)) + QPointF(0, -27)).toPoint();
        return point;
    }
    void click(QWidget* widget, QPoint at) {
        QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, at);
        advance(1.0);
    }
    // A selected pin pressed at its head, dragged there in three moves and let go at `drop`.
    void dragPin(QPoint head, QPoint drop) {
        QTest::mousePress(&map(), Qt::LeftButton, Qt::NoModifier, head);
        QTest::mouseMove(&map(), head + QPoint(20, 0));
        QTest::mouseMove(&map(), head + QPoint(40, 20));
        QTest::mouseMove(&map(), drop);
        QTest::mouseRelease(&map(), Qt::LeftButton, Qt::NoModifier, drop);
        advance(1.0);
    }
};

TEST_F(MapDelegateInteractionTest, AClickedPinAndThenItsCalloutOpenTheDetails) {
    show();
    QPoint head;
    const auto point = pointOnScreen(head);
    click(&map(), head);
    ASSERT_EQ(map().selectedAnnotations(),
              std::vector<std::shared_ptr<platform::MKAnnotation>>{annotationOf(point)});
    EXPECT_TRUE(fixture_->pointDetails.empty());  // the click that selects opens nothing yet

    platform::MKCalloutView* callout = map().calloutView();
    ASSERT_NE(callout, nullptr);
    ASSERT_TRUE(callout->isVisible());
    // The callout takes its place with the map's next frame.
    map().repaint();
    QApplication::processEvents();
    click(callout, QPoint(callout->width() / 2, (callout->height() - 10) / 2));
    ASSERT_EQ(fixture_->pointDetails.size(), 1u);
    EXPECT_EQ(fixture_->pointDetails[0].point, point);
    const auto top = recorder_->topPresented();
    ASSERT_TRUE(top);
    auto* navigation = dynamic_cast<platform::NavigationController*>(top.get());
    ASSERT_NE(navigation, nullptr);
    EXPECT_EQ(navigation->topViewController(), fixture_->pointDetails[0].screen);
}

TEST_F(MapDelegateInteractionTest, ADraggedAndDroppedPinLeavesItsNewCoordinateInItsFile) {
    show();
    QPoint head;
    const auto point = pointOnScreen(head);
    click(&map(), head);
    const QPoint drop = head + QPoint(60, 30);
    const QPointF anchor = map().anchorPointForAnnotation(*annotationOf(point));
    const auto target = map().convertPoint({anchor.x() + 60, anchor.y() + 30});
    dragPin(head, drop);

    ASSERT_TRUE(point->uuid());
    const auto onDisk = QuovaMapPoint::initWithFilePath(QuovaMapPoint::documentDirectory() + *point->uuid() +
                                                        ".QuovaMapPoint");
    ASSERT_TRUE(onDisk);
    // Within a few metres (about a view point at this scale) of where the pin was let go.
    EXPECT_NEAR(onDisk->coordinate().latitude, target.latitude, 1e-4);
    EXPECT_NEAR(onDisk->coordinate().longitude, target.longitude, 1e-4);
    EXPECT_GT(std::abs(onDisk->coordinate().longitude - 11.575), 1e-3);  // it did move
    EXPECT_EQ(onDisk->title(), "New Location");
}

std::string mapDelegateFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A drag over a points folder that cannot be written: the file keeps the old
// place, so the pin, its circle and its texts stay there too, no address is
// looked up for the refused place, and an alert says so, as for the other
// writes.
TEST_F(MapDelegateInteractionTest, APinDroppedWhoseMoveIsNotWrittenGoesBackAndSaysSo) {
    show();
    map().setRegion(platform::MKCoordinateRegionMakeWithDistance({48.137, 11.575}, 4000, 4000));
    advance(1.0);
    // A title from an address lookup: a drop that is kept replaces it by "New Location".
    auto point = QuovaMapPoint::make("Marienplatz");
    point->setCoordinate({48.137, 11.575});
    point->setSubtitle("Marienplatz 1, 80331 München");
    point->setAlarmCircleDiameter(300.0);
    ASSERT_FALSE(tervolo::points::QuovaMapPointStore::shared().addPoint(point));
    screen_->addAnnotation(point);
    map().updateAnnotationViews();
    const auto annotation = annotationOf(point);
    const QPointF anchor = map().anchorPointForAnnotation(*annotation);
    const QPoint head = (anchor + QPointF(0, -27)).toPoint();
    const auto halo = screen_->haloForPoint(point);
    ASSERT_TRUE(halo);
    const std::string file = QuovaMapPoint::documentDirectory() + *point->uuid() + ".QuovaMapPoint";
    const std::string before = mapDelegateFileText(file);
    ASSERT_FALSE(before.empty());
    click(&map(), head);
    ASSERT_EQ(map().selectedAnnotations(), std::vector<std::shared_ptr<platform::MKAnnotation>>{annotation});
    const size_t geocodings = screen_->reverseGeocodingsUnderWay();
    {
        tervolo::testsupport::UnwritableFolder unwritable(QuovaMapPoint::documentDirectory());
        const QPoint drop = head + QPoint(60, 30);
        dragPin(head, drop);

        const auto alert = recorder_->topAlert();
        ASSERT_NE(alert, nullptr);
        EXPECT_EQ(alert->title(), "Location Not Saved");
        EXPECT_NE(alert->message().find("The locations folder cannot be written to"), std::string::npos)
            << alert->message();
        EXPECT_NE(alert->message().find("The location stays where it was."), std::string::npos);
        // Back where the file says, texts and all; the circle never moved.
        EXPECT_EQ(point->coordinate().latitude, 48.137);
        EXPECT_EQ(point->coordinate().longitude, 11.575);
        EXPECT_EQ(annotation->title(), "Marienplatz");
        EXPECT_EQ(annotation->subtitle(), "Marienplatz 1, 80331 München");
        EXPECT_EQ(map().anchorPointForAnnotation(*annotation), anchor);
        EXPECT_EQ(screen_->haloForPoint(point), halo);
        auto circle = std::dynamic_pointer_cast<platform::MKCircle>(halo);
        ASSERT_TRUE(circle);
        EXPECT_EQ(circle->coordinate().latitude, 48.137);
        EXPECT_EQ(circle->coordinate().longitude, 11.575);
        EXPECT_EQ(screen_->reverseGeocodingsUnderWay(), geocodings);
        map().repaint();
        tervolo::testsupport::saveLightAndDarkScreenshots(*screen_->view()->window(),
                                                          QStringLiteral(TERVOLO_SCREENSHOT_DIR),
                                                          QStringLiteral("drag-not-saved"));
        EXPECT_TRUE(recorder_->chooseAction("OK"));
    }
    EXPECT_EQ(mapDelegateFileText(file), before);
}

}  // namespace
}  // namespace mapdelegate_test
