#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "platform/mapkit/MKAnnotationView.hpp"
#include "platform/mapkit/MKUserLocation.hpp"

namespace {

using namespace platform;

// An accessory shown at a fixed place of the map view.
class PlacedAccessory : public MKCalloutAccessoryView {
  public:
    explicit PlacedAccessory(std::optional<Rect> frame) : frame_(frame) {}
    bool isControl() const override { return true; }
    std::optional<Rect> frameInMapView() const override { return frame_; }

  private:
    std::optional<Rect> frame_;
};

TEST(MKAnnotationViewTest, DefaultHitTestFindsOnlyTheViewsBounds) {
    auto annotation = std::make_shared<MKPointAnnotation>(CLLocationCoordinate2D{60, 25}, "A");
    MKPinAnnotationView view(annotation, "pin");
    EXPECT_TRUE(view.hitTest({1, 1}).isEmpty()) << "no frame laid out yet";
    view.setFrame({100, 50, 24, 40});
    auto left = std::make_shared<PlacedAccessory>(MKAnnotationView::Rect{40, 10, 30, 30});
    view.setLeftCalloutAccessoryView(left);
    struct Case {
        double x, y;  // the view's own points
        bool hitsView;
    };
    const Case cases[] = {
        {0, 0, true}, {23.9, 39.9, true}, {24, 10, false}, {-0.1, 10, false}, {-45, -25, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
        const MKHitTestResult hit = view.hitTest({c.x, c.y});
        EXPECT_EQ(hit.view == &view, c.hitsView);
        EXPECT_FALSE(hit.accessory) << "accessories lie outside the bounds";
    }
    // (-45, -25) in the view is (55, 25) in the map, (15, 15) in the accessory, which contains it.
    const auto local = view.convertPoint({-45, -25}, *left);
    ASSERT_TRUE(local.has_value());
    EXPECT_DOUBLE_EQ(local->x, 15);
    EXPECT_DOUBLE_EQ(local->y, 15);
    EXPECT_TRUE(left->hitTest(*local));
    EXPECT_FALSE(left->hitTest({30, 15}));
    const PlacedAccessory hidden(std::nullopt);
    EXPECT_FALSE(view.convertPoint({0, 0}, hidden).has_value());
    EXPECT_FALSE(hidden.hitTest({1, 1}));
}

TEST(MKAnnotationViewTest, DescriptionNamesTheClassAndTheObject) {
    const MKUserLocation first;
    const MKUserLocation second;
    const MKPointAnnotation point;
    EXPECT_EQ(first.description().rfind("<MKUserLocation: 0x", 0), 0u) << first.description();
    EXPECT_EQ(point.description().rfind("<MKPointAnnotation: 0x", 0), 0u) << point.description();
    EXPECT_NE(first.description(), second.description());
    EXPECT_EQ(first.description(), first.description());
}

}  // namespace
