#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include <cmath>
#include <vector>

#include "MapDelegateTestSupport.hpp"
#include "platform/mapkit/MKGeometry.hpp"
#include "platform/ui/NavigationController.hpp"
#include "points/QuovaMapPointStore.hpp"

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
    QTest::mousePress(&map(), Qt::LeftButton, Qt::NoModifier, head);
    QTest::mouseMove(&map(), head + QPoint(20, 0));
    QTest::mouseMove(&map(), head + QPoint(40, 20));
    QTest::mouseMove(&map(), drop);
    QTest::mouseRelease(&map(), Qt::LeftButton, Qt::NoModifier, drop);
    advance(1.0);

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

}  // namespace
}  // namespace mapdelegate_test
