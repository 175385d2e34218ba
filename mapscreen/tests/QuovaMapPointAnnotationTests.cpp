#include <gtest/gtest.h>

#include <QLabel>

#include <memory>

#include "mapscreen/PointAnnotationCalloutDetailView.hpp"
#include "mapscreen/QuovaMapPointAnnotation.hpp"
#include "mapscreen/QuovaMapPointView.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/mapkit/MKMapViewModel.hpp"
#include "platform/ui/tests/WidgetKitTestSupport.hpp"
#include "points/QuovaMapPoint.hpp"
#include "testsupport/VirtualClockScope.hpp"
#include "testsupport/mapkit/RecordingMapViewDelegate.hpp"

namespace tervolo::mapscreen {
namespace {

using points::QuovaMapPoint;

std::shared_ptr<QuovaMapPoint> pointAt(const std::string& title, double latitude, double longitude) {
    auto point = QuovaMapPoint::make(title);
    point->setCoordinate({latitude, longitude});
    return point;
}

TEST(QuovaMapPointAnnotation, OneAnnotationForEachPoint) {
    auto market = pointAt("Kauppatori", 60.1675, 24.9525);
    auto fortress = pointAt("Suomenlinna", 60.1454, 24.9881);
    auto first = QuovaMapPointAnnotation::forPoint(market);
    ASSERT_NE(first, nullptr);
    for (int ask = 0; ask < 3; ++ask) EXPECT_EQ(QuovaMapPointAnnotation::forPoint(market), first);
    EXPECT_NE(QuovaMapPointAnnotation::forPoint(fortress), first);
    EXPECT_EQ(first->point(), market);
    EXPECT_EQ(QuovaMapPointAnnotation::pointFor(first), market);
    EXPECT_EQ(QuovaMapPointAnnotation::forPoint(nullptr), nullptr);
    // An annotation that is not a point's has no point behind it.
    EXPECT_EQ(QuovaMapPointAnnotation::pointFor(std::make_shared<platform::MKPointAnnotation>()), nullptr);
    EXPECT_EQ(QuovaMapPointAnnotation::pointFor(nullptr), nullptr);
}

TEST(QuovaMapPointAnnotation, ForwardsThePointsValuesAndTakesADraggedCoordinate) {
    auto point = pointAt("Kauppatori", 60.1675, 24.9525);
    point->setSubtitle("Eteläranta, Helsinki");
    auto annotation = QuovaMapPointAnnotation::forPoint(point);
    EXPECT_EQ(annotation->title(), "Kauppatori");
    EXPECT_EQ(annotation->subtitle(), "Eteläranta, Helsinki");
    EXPECT_EQ(annotation->coordinate(), (platform::CLLocationCoordinate2D{60.1675, 24.9525}));

    // Read at every ask, so a renamed point shows its new texts.
    point->setTitle(std::nullopt);
    point->setSubtitle(std::nullopt);
    EXPECT_EQ(annotation->title(), "");
    EXPECT_EQ(annotation->subtitle(), "");

    annotation->setCoordinate({60.17, 24.95});
    EXPECT_EQ(point->coordinate(), (platform::CLLocationCoordinate2D{60.17, 24.95}));
}

TEST(QuovaMapPointAnnotation, NothingOutlivesThePointAndTheMap) {
    auto point = pointAt("Temporary", 60, 25);
    std::weak_ptr<QuovaMapPoint> weakPoint = point;
    std::weak_ptr<QuovaMapPointAnnotation> weakAnnotation = QuovaMapPointAnnotation::forPoint(point);
    // Nobody holds the annotation: it is gone, and the point is held only by its owner.
    EXPECT_TRUE(weakAnnotation.expired());
    EXPECT_EQ(point.use_count(), 1);

    auto annotation = QuovaMapPointAnnotation::forPoint(point);
    weakAnnotation = annotation;
    point.reset();
    EXPECT_FALSE(weakPoint.expired()) << "the annotation on the map keeps its point";
    EXPECT_EQ(annotation->title(), "Temporary");
    annotation.reset();
    EXPECT_TRUE(weakAnnotation.expired());
    EXPECT_TRUE(weakPoint.expired());

    // A new point, possibly at the old one's address, gets an annotation of its own.
    auto next = pointAt("Next", 61, 26);
    auto nextAnnotation = QuovaMapPointAnnotation::forPoint(next);
    EXPECT_EQ(nextAnnotation->point(), next);
    EXPECT_EQ(nextAnnotation->title(), "Next");
}

TEST(QuovaMapPointAnnotation, TheMapKnowsAPointByItsAnnotation) {
    testsupport::VirtualClockScope time;
    platform::MKMapViewModel map;
    auto point = pointAt("Kauppatori", 60.1675, 24.9525);
    map.addAnnotation(QuovaMapPointAnnotation::forPoint(point));
    map.addAnnotation(QuovaMapPointAnnotation::forPoint(point));  // the same one: not added twice
    EXPECT_EQ(map.annotationCount(), 1u);
    EXPECT_TRUE(map.containsAnnotation(QuovaMapPointAnnotation::forPoint(point).get()));
    EXPECT_EQ(QuovaMapPointAnnotation::pointFor(map.annotations().front()), point);
    map.removeAnnotation(QuovaMapPointAnnotation::forPoint(point));
    EXPECT_EQ(map.annotationCount(), 0u);
    platform::RunLoop::runUntilIdle();
}

TEST(QuovaMapPointView, IsAPlainPinWithTheSameAnnotationAndIdentifier) {
    testsupport::VirtualClockScope time;
    auto point = pointAt("Kauppatori", 60.1675, 24.9525);
    auto annotation = QuovaMapPointAnnotation::forPoint(point);
    QuovaMapPointView pin(annotation, "MapPoint");
    platform::MKPinAnnotationView plain(annotation, "MapPoint");
    EXPECT_EQ(pin.annotation(), plain.annotation());
    EXPECT_EQ(pin.reuseIdentifier(), plain.reuseIdentifier());
    EXPECT_EQ(pin.pinTintColor(), plain.pinTintColor());
    EXPECT_EQ(pin.canShowCallout(), plain.canShowCallout());
    EXPECT_EQ(pin.isDraggable(), plain.isDraggable());
    EXPECT_EQ(pin.isEnabled(), plain.isEnabled());
    EXPECT_EQ(pin.image(), plain.image());

    // The map hands it out and reuses it like any pin view.
    platform::MKMapViewModel map;
    auto delegate = std::make_shared<testsupport::RecordingMapViewDelegate>();
    delegate->viewFactory = [](platform::MKMapViewModel& mapView,
                               const std::shared_ptr<platform::MKAnnotation>& shown) {
        auto view = mapView.dequeueReusableAnnotationView("MapPoint");
        if (view) {
            view->setAnnotation(shown);
            return view;
        }
        return std::shared_ptr<platform::MKAnnotationView>(
            std::make_shared<QuovaMapPointView>(shown, "MapPoint"));
    };
    map.setDelegate(delegate);
    map.addAnnotation(annotation);
    map.selectAnnotation(annotation);
    auto view = map.viewForAnnotation(annotation.get());
    ASSERT_NE(view, nullptr);
    EXPECT_NE(std::dynamic_pointer_cast<QuovaMapPointView>(view), nullptr);
    EXPECT_TRUE(view->isSelected());
    platform::RunLoop::runUntilIdle();
}

class PointAnnotationCalloutDetailViewTest : public widgetkit_test::WidgetTest {};

TEST_F(PointAnnotationCalloutDetailViewTest, OutletsStartEmptyAndFollowTheirLabels) {
    PointAnnotationCalloutDetailView view;
    EXPECT_EQ(view.title(), nullptr);
    EXPECT_EQ(view.subtitle(), nullptr);
    EXPECT_EQ(view.subtitleHeight(), nullptr);

    auto* title = new QLabel(QStringLiteral("Kauppatori"), &view);
    auto* subtitle = new QLabel(QStringLiteral("Eteläranta"), &view);
    view.setTitle(title);
    view.setSubtitle(subtitle);
    view.setSubtitleHeight(
        std::make_shared<platform::LayoutConstraint>(QStringLiteral("subtitleHeight"), 16));
    EXPECT_EQ(view.title(), title);
    EXPECT_EQ(view.subtitle(), subtitle);
    EXPECT_EQ(view.subtitleHeight()->constant(), 16);
    // Outlets do not own: a label that goes leaves an empty outlet, not a dangling one.
    delete subtitle;
    EXPECT_EQ(view.subtitle(), nullptr);
    EXPECT_EQ(view.title(), title);
}

}  // namespace
}  // namespace tervolo::mapscreen
