// The "My Location" screen: loading, the coordinate text, copy, share, the
// bubble style, the pin and the text areas.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "location/QuovaUserLocationAnnotation.hpp"
#include "location/RegionMapRect.hpp"
#include "location/ui/tests/UserLocationSettingsTestSupport.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "platform/mapkit/MKOverlayRenderer.hpp"
#include "platform/ui/NavigationItem.hpp"
#include "platform/ui/Pasteboard.hpp"
#include "platform/ui/PopoverPresentationController.hpp"
#include "platform/ui/ShareSheetController.hpp"
#include "points/QuovaUserDefaults.hpp"
#include "widgets/hud/HUD.hpp"

namespace location_ui_test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Format = tervolo::geodesy::QuovaCoordinateFormat;

// The visible rect shows `rect` whole around its centre (the map fits the
// rect to its own aspect ratio, so one side may be larger).
void expectShows(const platform::MKMapView& map, const platform::MKMapRect& rect) {
    const auto visible = map.visibleMapRect();
    EXPECT_NEAR(platform::MKMapRectGetMidX(visible), platform::MKMapRectGetMidX(rect), 1);
    EXPECT_NEAR(platform::MKMapRectGetMidY(visible), platform::MKMapRectGetMidY(rect), 1);
    EXPECT_GE(visible.size.width + 1, rect.size.width);
    EXPECT_GE(visible.size.height + 1, rect.size.height);
    // …and is no larger than needed along one axis.
    const bool widthFits = std::abs(visible.size.width - rect.size.width) < 1;
    const bool heightFits = std::abs(visible.size.height - rect.size.height) < 1;
    EXPECT_TRUE(widthFits || heightFits);
}

TEST_F(UserLocationSettingsTest, LoadingReadsTheStoredCoordinateFormat) {
    const struct Case {
        const char* name;
        std::optional<platform::PropertyValue> stored;
        Format expected;
        const char* line;
    } cases[] = {
        {"3", platform::PropertyValue(3), Format::sexagesimal, "found coordinateFormat 3 in Defaults"},
        {"5", platform::PropertyValue(5), Format::mgrs, "found coordinateFormat 5 in Defaults"},
        {"0", platform::PropertyValue(0), Format::decimalWithHemisphere,
         "no valid coordinateFormat found in Defaults"},
        {"6", platform::PropertyValue(6), Format::decimalWithHemisphere,
         "no valid coordinateFormat found in Defaults"},
        {"text", platform::PropertyValue("3"), Format::decimalWithHemisphere,
         "no coordinateFormat value found in Defaults"},
        {"double", platform::PropertyValue(3.0), Format::decimalWithHemisphere,
         "no coordinateFormat value found in Defaults"},
        {"absent", std::nullopt, Format::decimalWithHemisphere,
         "no coordinateFormat value found in Defaults"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        auto& defaults = platform::UserDefaults::standard();
        if (row.stored) {
            defaults.set("coordinateFormat", *row.stored);
        } else {
            defaults.remove("coordinateFormat");
        }
        log_.clear();
        auto screen = open(helsinki());
        EXPECT_EQ(screen->coordinateFormat(), row.expected);
        EXPECT_TRUE(logged(row.line));
        EXPECT_EQ(
            screen->coordinateLabel()->text().toStdString(),
            tervolo::geodesy::quovaCoordinateDescriptionWithFormat(helsinki().coordinate(), row.expected));
        navigation_->dismiss(false);
        settle();
    }
}

TEST_F(UserLocationSettingsTest, FiveClicksOnTheCoordinateCycleBackAndStoreEachStep) {
    auto screen = open(helsinki());
    auto* recognizer = screen->coordinateTapRecognizer();
    ASSERT_NE(recognizer, nullptr);
    EXPECT_EQ(recognizer->view(), screen->coordinateLabel());
    std::vector<int64_t> stored;
    std::vector<std::string> texts;
    for (int click = 0; click < 5; ++click) {
        recognizer->simulateState(platform::GestureRecognizer::State::Ended);
        stored.push_back(platform::UserDefaults::standard().integerValue("coordinateFormat").value_or(-1));
        texts.push_back(screen->coordinateLabel()->text().toStdString());
    }
    EXPECT_THAT(stored, ElementsAre(3, 4, 5, 1, 2));
    EXPECT_EQ(screen->coordinateFormat(), Format::decimalWithHemisphere);
    // Every format reads differently; the last is the one loading showed.
    EXPECT_EQ(std::set<std::string>(texts.begin(), texts.end()).size(), 5u);
    EXPECT_EQ(texts.back(), tervolo::geodesy::quovaCoordinateDescriptionWithFormat(
                                helsinki().coordinate(), Format::decimalWithHemisphere));
}

TEST_F(UserLocationSettingsTest, WithAPositionTheSmallMapShowsItAndTheStoredCircle) {
    tervolo::points::QuovaUserDefaults::shared().setUserLocationRadius(500);
    auto screen = open(helsinki());
    auto* map = screen->map();
    ASSERT_NE(map, nullptr);
    ASSERT_NE(screen->userLocationAnnotation(), nullptr);
    EXPECT_EQ(screen->userLocationAnnotation()->title(), "My Position");
    EXPECT_EQ(map->annotationCount(), 1u);
    EXPECT_FALSE(map->testAttribute(Qt::WA_TransparentForMouseEvents));
    // The stored radius is applied again: stored, told to the map screen,
    // drawn and zoomed to (3 × 500 m).
    ASSERT_NE(screen->halo(), nullptr);
    EXPECT_EQ(screen->halo()->radius(), 500);
    EXPECT_EQ(map->overlays().size(), 1u);
    EXPECT_THAT(mapScreen_->calls, ElementsAre("refreshCircleOverlayForUserLocation"));
    expectShows(*map, *tervolo::location::mapRectForRegion(helsinki().coordinate(), 1500));
    EXPECT_TRUE(screen->copyCoordinatesButton()->isEnabled());
    EXPECT_EQ(screen->copyCoordinatesButton()->text(), "Copy ...");
    // The title area holds the annotation's title, in large bold type, and
    // takes no input.
    EXPECT_EQ(screen->titleView()->text(), "My Position");
    EXPECT_TRUE(screen->titleView()->font().bold());
    EXPECT_EQ(screen->titleView()->font().pointSizeF(), 36);
    EXPECT_TRUE(screen->titleView()->isReadOnly());
    // The bar: its title, Done on the right, the pin on the left, opaque white.
    EXPECT_EQ(screen->navigationItem().title(), "My Location");
    ASSERT_NE(screen->navigationItem().rightBarButtonItem(), nullptr);
    EXPECT_EQ(screen->navigationItem().rightBarButtonItem()->title(), "Done");
    ASSERT_NE(screen->navigationItem().leftBarButtonItem(), nullptr);
    EXPECT_FALSE(screen->navigationItem().leftBarButtonItem()->image().isNull());
    EXPECT_EQ(navigation_->navigationBar().standardAppearance().backgroundColor, QColor(Qt::white));
    EXPECT_TRUE(navigation_->navigationBar().prefersLargeTitles());
    // Both text areas are collapsed while the bar shows the title.
    EXPECT_EQ(screen->titleHeight()->constant(), 0);
    EXPECT_EQ(screen->subtitleHeight()->constant(), 0);
    EXPECT_FALSE(screen->titleView()->isVisibleTo(screen->view()));
}

TEST_F(UserLocationSettingsTest, WithoutAPositionThereIsNothingToShowCopyOrShare) {
    tervolo::points::QuovaUserDefaults::shared().setUserLocationRadius(500);
    auto screen = open(std::nullopt);
    const auto before = screen->map()->visibleMapRect();
    EXPECT_EQ(screen->coordinateLabel()->text(), "(unknown)");
    EXPECT_EQ(screen->userLocationAnnotation(), nullptr);
    EXPECT_EQ(screen->map()->annotationCount(), 0u);
    EXPECT_TRUE(screen->map()->overlays().empty());
    EXPECT_EQ(screen->halo(), nullptr);
    EXPECT_THAT(mapScreen_->calls, IsEmpty());
    EXPECT_TRUE(screen->map()->testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_EQ(screen->shareActivityController(screen->toolbarShareButton()), nullptr);

    // "(unknown)" is no coordinate: copy is off, and a copy asked for anyway
    // neither copies nor confirms.
    EXPECT_FALSE(screen->copyCoordinatesButton()->isEnabled());
    platform::Pasteboard::general().setString("before");
    screen->copyCoordinatesButton(screen->copyCoordinatesButton());
    EXPECT_EQ(platform::Pasteboard::general().string(), "before");
    EXPECT_FALSE(tervolo::widgets::hud::HUD::isVisible());

    // The pin only closes the screen.
    screen->navigationItem().leftBarButtonItem()->trigger();
    settle();
    EXPECT_THAT(mapScreen_->calls, IsEmpty());
    EXPECT_FALSE(navigationIsPresented());
    EXPECT_TRUE(logged("dropPin tapped"));
    EXPECT_EQ(screen->map()->visibleMapRect(), before);
}

TEST_F(UserLocationSettingsTest, AnInvalidCoordinateGetsAnAnnotationAndTheRadiusButNoRegion) {
    tervolo::points::QuovaUserDefaults::shared().setUserLocationRadius(500);
    platform::CLLocation invalid(platform::kCLLocationCoordinate2DInvalid, 0, 10, -1, -1, -1,
                                 platform::Date::now());
    // The small map's rect before any region: that of a fresh map of its size.
    auto screen = open(invalid);
    ASSERT_NE(screen->userLocationAnnotation(), nullptr);
    EXPECT_EQ(screen->userLocationAnnotation()->coordinate(), platform::kCLLocationCoordinate2DInvalid);
    ASSERT_NE(screen->halo(), nullptr);
    EXPECT_EQ(screen->halo()->radius(), 500);
    EXPECT_THAT(mapScreen_->calls, ElementsAre("refreshCircleOverlayForUserLocation"));
    EXPECT_EQ(tervolo::points::QuovaUserDefaults::shared().userLocationRadius(), 500);
    // Neither the 5 km region nor the circle's: the map did not move, and
    // every number it holds is finite.
    platform::MKMapView fresh;
    fresh.resize(screen->map()->size());
    const auto visible = screen->map()->visibleMapRect();
    EXPECT_NEAR(platform::MKMapRectGetMidX(visible), platform::MKMapRectGetMidX(fresh.visibleMapRect()), 1);
    EXPECT_NEAR(platform::MKMapRectGetMidY(visible), platform::MKMapRectGetMidY(fresh.visibleMapRect()), 1);
    EXPECT_TRUE(std::isfinite(visible.size.width) && std::isfinite(visible.size.height));
    EXPECT_TRUE(screen->coordinateLabel()->text() == "(unknown)");
}

TEST_F(UserLocationSettingsTest, CopyPutsTheShownTextOnThePasteboardAndConfirms) {
    platform::UserDefaults::standard().set("coordinateFormat", platform::PropertyValue(4));
    auto screen = open(helsinki());
    screen->copyCoordinatesButton()->click();
    settle();
    EXPECT_EQ(platform::Pasteboard::general().string(), screen->coordinateLabel()->text().toStdString());
    EXPECT_EQ(platform::Pasteboard::general().string(),
              tervolo::geodesy::quovaCoordinateDescriptionWithFormat(helsinki().coordinate(), Format::utm));
    EXPECT_TRUE(logged("copyCoordinatesButton tapped"));
    EXPECT_TRUE(tervolo::widgets::hud::HUD::isVisible());
    // Shown 1.6 s, then the 0.8 s fade.
    environment_.advance(1.5);
    settle();
    EXPECT_TRUE(tervolo::widgets::hud::HUD::isVisible());
    environment_.advance(1.0);
    settle();
    EXPECT_FALSE(tervolo::widgets::hud::HUD::isVisible());
}

TEST_F(UserLocationSettingsTest, ShareSheetAnchorsAtABarItemOrAWidgetElseThereIsNone) {
    auto screen = open(helsinki());
    const auto item = screen->toolbarShareButton();
    auto fromItem = screen->shareActivityController(item);
    ASSERT_NE(fromItem, nullptr);
    EXPECT_NE(std::dynamic_pointer_cast<platform::ShareSheetController>(fromItem), nullptr);
    EXPECT_EQ(fromItem->popoverPresentationController()->barButtonItem(), item);

    QWidget* button = screen->copyCoordinatesButton();
    auto fromView = screen->shareActivityController(button);
    ASSERT_NE(fromView, nullptr);
    EXPECT_EQ(fromView->popoverPresentationController()->sourceView(), button);
    EXPECT_EQ(fromView->popoverPresentationController()->sourceRect(), QRectF(button->rect()));

    EXPECT_EQ(screen->shareActivityController(std::monostate{}), nullptr);
    EXPECT_EQ(screen->shareActivityController(static_cast<QWidget*>(nullptr)), nullptr);

    // The toolbar's share item presents the sheet.
    item->trigger();
    settle();
    EXPECT_TRUE(logged("shareButton tapped"));
    EXPECT_NE(std::dynamic_pointer_cast<platform::ShareSheetController>(recorder_->topPresented()), nullptr);
}

TEST_F(UserLocationSettingsTest, BubbleStyleIsStoredAndTheMainMapReshowsTheUserLater) {
    const struct Case {
        bool storedExtended;
        const char* choice;
        bool expected;
        const char* line;
    } cases[] = {
        {false, "Extended Style", true, "extended style selected"},
        {true, "Extended Style \u2714\uFE0F", true, "extended style selected"},
        {true, "Traditional Style", false, "classic style selected"},
    };
    auto screen = open(helsinki());
    for (const auto& row : cases) {
        SCOPED_TRACE(row.choice);
        setExtendedDisplay(row.storedExtended);
        mapScreen_->map.setShowsUserLocation(true);
        mapScreen_->map.selectAnnotation(mapScreen_->pin);
        screen->bubbleStyleButton()->trigger();
        settle();
        EXPECT_EQ(topAlertTitle(), "Bubble Style");
        const std::string mark = " \u2714\uFE0F";
        EXPECT_THAT(topTitles(),
                    ElementsAre(std::string("Traditional Style") + (row.storedExtended ? "" : mark),
                                std::string("Extended Style") + (row.storedExtended ? mark : ""), "Cancel"));
        ASSERT_TRUE(recorder_->chooseAction(row.choice));
        settle();
        EXPECT_TRUE(logged(row.line));
        EXPECT_EQ(platform::UserDefaults::standard().boolValue("useExtendedUserLocationDisplay"),
                  row.expected);
        EXPECT_TRUE(mapScreen_->map.selectedAnnotations().empty());
        EXPECT_FALSE(mapScreen_->map.showsUserLocation());
        environment_.advance(0.29);
        settle();
        EXPECT_FALSE(mapScreen_->map.showsUserLocation());
        environment_.advance(0.01);
        settle();
        EXPECT_TRUE(mapScreen_->map.showsUserLocation());
    }

    // Cancel changes nothing; a map screen that lost its map by the time of
    // the re-show is left alone.
    screen->bubbleStyleButton()->trigger();
    settle();
    ASSERT_TRUE(recorder_->chooseAction("Cancel"));
    settle();
    EXPECT_TRUE(logged("Cancel button"));
    EXPECT_EQ(platform::UserDefaults::standard().boolValue("useExtendedUserLocationDisplay"), false);
    screen->bubbleStyleButton()->trigger();
    settle();
    ASSERT_TRUE(recorder_->chooseAction("Extended Style"));
    settle();
    mapScreen_->hasMap = false;
    environment_.advance(0.3);
    settle();
    EXPECT_FALSE(mapScreen_->map.showsUserLocation());
}

TEST_F(UserLocationSettingsTest, ThePinDropsAPointThroughTheMapScreenAndCloses) {
    auto screen = open(helsinki());
    screen->navigationItem().leftBarButtonItem()->trigger();
    settle();
    EXPECT_THAT(mapScreen_->calls, ElementsAre("dropPinAtLocation 60.1699,24.9384 My Position"));
    EXPECT_FALSE(navigationIsPresented());

    // Without a map screen the pin only closes.
    auto alone = open(helsinki(), false);
    alone->dropPin();
    settle();
    EXPECT_EQ(mapScreen_->calls.size(), 1u);
    EXPECT_FALSE(navigationIsPresented());
}

TEST_F(UserLocationSettingsTest, DoneClosesAndNeverStaysOffWhileTheTitleCannotBeEdited) {
    auto screen = open(helsinki());
    const auto done = screen->navigationItem().rightBarButtonItem();
    // The title area is collapsed and takes no input: clearing it (the
    // platform's path) must not leave the user without "Done".
    screen->clearTitleButton(screen->clearTitleButton());
    EXPECT_TRUE(logged("clearTitleButton(sender:)"));
    EXPECT_TRUE(done->isEnabled());
    EXPECT_TRUE(screen->toolbarShareButton()->isEnabled());
    done->trigger();
    settle();
    EXPECT_FALSE(navigationIsPresented());
}

TEST_F(UserLocationSettingsTest, AnEditableTitleSwitchesDoneAndShareWithItsText) {
    // Without a position the title area stays editable; with the bar's title
    // gone it is fitted to its text instead of collapsed.
    auto screen = open(std::nullopt);
    screen->navigationItem().setTitle("");
    log_.clear();
    screen->setHeightConstraint(screen->titleView());
    EXPECT_GT(screen->titleHeight()->constant(), 0);
    EXPECT_EQ(screen->subtitleHeight()->constant(), 0);
    EXPECT_TRUE(screen->titleView()->isVisibleTo(screen->view()));
    ASSERT_EQ(logTexts().size(), 1u);
    EXPECT_THAT(logTexts().front(), ::testing::StartsWith("Setting title height constraint to "));

    const auto done = screen->navigationItem().rightBarButtonItem();
    screen->clearTitleButton(screen->clearTitleButton());
    EXPECT_FALSE(done->isEnabled());
    EXPECT_FALSE(screen->toolbarShareButton()->isEnabled());
    EXPECT_FALSE(screen->clearTitleButton()->isVisibleTo(screen->view()));
    screen->titleView()->setPlainText("Home");
    screen->textViewDidChange(*screen->titleView());
    EXPECT_TRUE(done->isEnabled());
    EXPECT_TRUE(screen->toolbarShareButton()->isEnabled());
    // Return ends editing instead of breaking the line.
    EXPECT_FALSE(screen->textViewShouldChangeText(*screen->titleView(), {4, 0, QStringLiteral("\n")}));
    EXPECT_TRUE(screen->textViewShouldChangeText(*screen->titleView(), {4, 0, QStringLiteral("s")}));
    // Editing shows the area's clear button, ending hides it.
    screen->textViewDidBeginEditing(*screen->titleView());
    EXPECT_TRUE(screen->clearTitleButton()->isVisibleTo(screen->view()));
    screen->textViewDidEndEditing(*screen->titleView());
    EXPECT_FALSE(screen->clearTitleButton()->isVisibleTo(screen->view()));
    screen->textViewDidBeginEditing(*screen->subtitleView());
    EXPECT_FALSE(screen->clearSubtitleButton()->isHidden());
    screen->textViewDidEndEditing(*screen->subtitleView());
    EXPECT_TRUE(screen->clearSubtitleButton()->isHidden());
}

TEST_F(UserLocationSettingsTest, CirclesAreFilledBlueOtherOverlaysDrawNothing) {
    auto screen = open(helsinki());
    auto circle = std::make_shared<platform::MKCircle>(helsinki().coordinate(), 100);
    auto renderer = std::dynamic_pointer_cast<platform::MKCircleRenderer>(
        screen->rendererForOverlay(*screen->map(), circle));
    ASSERT_NE(renderer, nullptr);
    ASSERT_TRUE(renderer->fillColor().has_value());
    EXPECT_DOUBLE_EQ(renderer->fillColor()->components().alpha, 0.25);
    EXPECT_GT(renderer->fillColor()->components().blue, 0.9);
    EXPECT_FALSE(renderer->strokeColor().has_value());

    struct Square : platform::MKOverlay {
        platform::MKMapRect boundingMapRect() const override { return platform::MKMapRectMake(0, 0, 10, 10); }
    };
    auto other = screen->rendererForOverlay(*screen->map(), std::make_shared<Square>());
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(std::dynamic_pointer_cast<platform::MKCircleRenderer>(other), nullptr);
    EXPECT_TRUE(logged("unknown kind of overlay - nothing to do"));
}

}  // namespace
}  // namespace location_ui_test
