// The user-location view on a real map widget: its hit test reaching the
// callout's accessories, and the callout following the model's texts.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include <cmath>

#include "location/ui/DetailAccessoryView.hpp"
#include "location/ui/QuovaUserLocationView.hpp"
#include "location/ui/tests/LocationUITestSupport.hpp"
#include "location/ui/tests/UserLocationMap.hpp"
#include "platform/dispatch/RunLoop.hpp"

namespace location_ui_test {
namespace {

class UserLocationViewTest : public LocationUITest {
  protected:
    void TearDown() override {
        map_.reset();
        LocationUITest::TearDown();
    }
    std::unique_ptr<UserLocationMap> map_;
};

TEST_F(UserLocationViewTest, ClickOnTheLeftAccessoryOutsideTheViewReachesIt) {
    bestKnown_ = fix(3.34, 90, 35);
    map_ = std::make_unique<UserLocationMap>();
    auto view = map_->selectUserLocation(bestKnown_->coordinate());
    ASSERT_NE(view, nullptr);
    QPushButton* gear = map_->screen->gear;
    ASSERT_TRUE(gear->isVisibleTo(map_->map.get()));
    const QPoint target = gear->mapTo(map_->map.get(), gear->rect().center());
    // The dot is small and the callout stands above it: the button lies outside the view.
    const QPointF dot = map_->map->anchorPointForAnnotation(*map_->map->userLocation());
    EXPECT_GT(QLineF(dot, target).length(), 20);

    log_.clear();
    QTest::mouseClick(map_->map.get(), Qt::LeftButton, Qt::NoModifier, target);
    QApplication::processEvents();
    EXPECT_EQ(map_->screen->clicks, (std::vector<std::string>{"gear"}));
    EXPECT_TRUE(logged("QuovaUserLocationView: hitTest(_:with:)"));
    EXPECT_TRUE(logged("hit on left callout accessory view"));
    EXPECT_FALSE(view->pointInside({target.x() - view->frame().x, target.y() - view->frame().y}));

    // The right one as well; a click on neither misses the view (the map
    // deselects).
    QPushButton* share = map_->screen->share;
    QTest::mouseClick(map_->map.get(), Qt::LeftButton, Qt::NoModifier,
                      share->mapTo(map_->map.get(), share->rect().center()));
    QApplication::processEvents();
    EXPECT_EQ(map_->screen->clicks, (std::vector<std::string>{"gear", "share"}));
    EXPECT_TRUE(logged("hit on right callout accessory view"));
    QTest::mouseClick(map_->map.get(), Qt::LeftButton, Qt::NoModifier, QPoint(5, map_->map->height() - 5));
    QApplication::processEvents();
    EXPECT_TRUE(map_->map->selectedAnnotations().empty());
    EXPECT_EQ(map_->screen->clicks.size(), 2u);
}

TEST_F(UserLocationViewTest, HitTestFindsTheDotThenTheAccessoriesInTheirOwnCoordinates) {
    bestKnown_ = fix(3.34, 90, 35);
    map_ = std::make_unique<UserLocationMap>();
    auto view = map_->selectUserLocation(bestKnown_->coordinate());
    ASSERT_NE(view, nullptr);
    view->setFrame({100, 200, 18, 18});
    QPushButton* gear = map_->screen->gear;
    const QPoint gearAt = gear->mapTo(map_->map.get(), QPoint(3, 4));
    struct Case {
        const char* name;
        double x, y;  // map view points
        const char* expected;
    };
    const Case cases[] = {
        {"the dot", 109, 209, "view"},
        {"the dot's corner", 100, 200, "view"},
        {"gear", static_cast<double>(gearAt.x()), static_cast<double>(gearAt.y()), "left"},
        {"beside the dot", 130, 209, "none"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto hit = view->hitTest({c.x - 100, c.y - 200});
        const std::string found = hit.view == view.get()                               ? "view"
                                  : hit.accessory == view->leftCalloutAccessoryView()  ? "left"
                                  : hit.accessory == view->rightCalloutAccessoryView() ? "right"
                                                                                       : "none";
        EXPECT_EQ(found, c.expected);
    }
    // A disabled accessory takes no click.
    gear->setEnabled(false);
    EXPECT_TRUE(view->hitTest({gearAt.x() - 100.0, gearAt.y() - 200.0}).isEmpty());
}

TEST_F(UserLocationViewTest, CalloutShowsTheNewTextsAfterEachUpdate) {
    for (const bool extended : {false, true}) {
        SCOPED_TRACE(extended ? "extended" : "standard");
        setExtendedDisplay(extended);
        bestKnown_ = fix(3.34, 90, 35);
        map_ = std::make_unique<UserLocationMap>();
        auto view = map_->selectUserLocation(bestKnown_->coordinate());
        ASSERT_NE(view, nullptr);
        auto* callout = map_->map->calloutView();
        ASSERT_TRUE(callout->isVisible());
        if (extended) {
            auto* detail = view->detailAccessoryView();
            ASSERT_NE(detail, nullptr);
            EXPECT_EQ(detail->firstLineText()->text(), QStringLiteral("12 km/h\n90\u00BA E"));
            EXPECT_EQ(detail->parentWidget(), callout);
            const int width = callout->width();
            bestKnown_ = fix(33.4, 359.9, 1234);
            map_->deliver(*bestKnown_);
            EXPECT_EQ(detail->firstLineText()->text(), QStringLiteral("120 km/h\n360\u00BA N"));
            EXPECT_GE(callout->width(), width);
            EXPECT_EQ(detail->geometry().size(), detail->intrinsicContentSize());
        } else {
            EXPECT_EQ(callout->subtitle(), QStringLiteral("12 km/h - 90\u00BA E - elev. 35m"));
            bestKnown_ = fix(-1, 90, 35);
            map_->deliver(*bestKnown_);
            EXPECT_EQ(callout->subtitle(), QStringLiteral("(unknown speed/bearing)"));
            bestKnown_ = fix(10, 45, 35, 0);
            map_->deliver(*bestKnown_);
            EXPECT_EQ(callout->subtitle(), QStringLiteral("36 km/h - 45\u00BA NE"));
            // The timer's reset reaches the open callout too.
            environment_.advance(6);
            QApplication::processEvents();
            EXPECT_EQ(callout->subtitle(), QStringLiteral("(unknown speed/bearing)"));
        }
        map_.reset();
    }
}

}  // namespace
}  // namespace location_ui_test
