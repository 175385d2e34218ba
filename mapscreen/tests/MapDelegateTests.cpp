#include <gtest/gtest.h>

#include <QAbstractButton>

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "MapDelegateTestSupport.hpp"
#include "location/QuovaPinCircleOverlay.hpp"
#include "location/QuovaUserLocationCircleOverlay.hpp"
#include "location/ui/QuovaUserLocationView.hpp"
#include "location/ui/RadiusChoice.hpp"
#include "location/ui/UserLocationSettingsViewController.hpp"
#include "mapscreen/QuovaGhostTapRecognizer.hpp"
#include "mapscreen/QuovaMapPointView.hpp"
#include "platform/dispatch/Clock.hpp"
#include "platform/location/CLLocation.hpp"
#include "platform/mapkit/qt/MKCalloutView.hpp"
#include "platform/mapkit/qt/MKMapView.hpp"
#include "platform/text/Locale.hpp"
#include "platform/ui/ImageView.hpp"
#include "platform/ui/NavigationController.hpp"
#include "platform/ui/PopoverPresentationController.hpp"
#include "points/AppTextsAndColors.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/RadiusTables.hpp"
#include "testsupport/logging/LogRecorder.hpp"
#include "testsupport/tiles/FakeTileDownloadSession.hpp"
#include "tiles/TileCacheManager.hpp"
#include "tiles/TileOverlayRenderer.hpp"

namespace mapdelegate_test {
namespace {

using platform::MKAnnotationViewDragState;
using tervolo::mapscreen::QuovaGhostTapRecognizer;
using tervolo::mapscreen::QuovaMapPointView;

bool holds(const platform::MKAnnotationView& view,
           const std::shared_ptr<platform::MKGestureRecognizer>& recognizer) {
    const auto& all = view.gestureRecognizers();
    return std::find(all.begin(), all.end(), recognizer) != all.end();
}

QWidget* accessoryWidget(const std::shared_ptr<platform::MKCalloutAccessoryView>& accessory) {
    const auto* holder = dynamic_cast<const platform::MKCalloutAccessoryWidget*>(accessory.get());
    return holder != nullptr ? holder->widget() : nullptr;
}

void expectColor(const platform::Color& actual, double red, double green, double blue, double alpha) {
    const auto c = actual.convertedToSRGB().components();
    EXPECT_NEAR(c.red, red, 1e-6);
    EXPECT_NEAR(c.green, green, 1e-6);
    EXPECT_NEAR(c.blue, blue, 1e-6);
    EXPECT_NEAR(c.alpha, alpha, 1e-6);
}

std::shared_ptr<tervolo::points::QuovaPointTag> tag(const char* uuid, const char* color) {
    auto made = tervolo::points::QuovaPointTag::make(uuid);
    made->setUuid(uuid);
    made->setColorString(std::string(color));
    return made;
}

std::vector<std::string> textsAmong(const std::vector<std::string>& lines,
                                    const std::vector<std::string>& wanted) {
    std::vector<std::string> found;
    for (const auto& line : lines) {
        if (std::find(wanted.begin(), wanted.end(), line) != wanted.end()) found.push_back(line);
    }
    return found;
}

// ---- Annotation views

// Any annotation but the user's location gets a draggable "MapPoint" pin with
// a callout and the application's image; the tint is the point's last tag's
// colour, red without a usable one. A pin that left the map comes back for
// the next annotation, tinted anew.
TEST_F(MapDelegateTest, EveryOtherAnnotationGetsADraggablePinTintedByItsLastTag) {
    show();
    tervolo::points::QuovaPointTagStore::shared().replaceTagsForTesting(
        std::vector{tag("GREEN", "0,255,0"), tag("BAD", "not a colour")});
    const platform::Color red = tervolo::points::defaultPointColor();
    const struct {
        const char* name;
        std::optional<std::vector<std::string>> tags;
        bool isPoint;
        bool green;
    } cases[] = {
        {"no tag", std::nullopt, true, false},
        {"green last", std::vector<std::string>{"BAD", "GREEN"}, true, true},
        {"unusable colour last", std::vector<std::string>{"GREEN", "BAD"}, true, false},
        {"not a point", std::nullopt, false, false},
    };
    const platform::MKAnnotationView* previous = nullptr;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::shared_ptr<platform::MKAnnotation> annotation;
        if (c.isPoint) {
            auto point = QuovaMapPoint::make(c.name);
            point->setCoordinate({48.1, 11.5});
            point->setTags(c.tags);
            annotation = QuovaMapPointAnnotation::forPoint(point);
        } else {
            annotation = std::make_shared<platform::MKPointAnnotation>(
                platform::CLLocationCoordinate2D{48.1, 11.5}, c.name);
        }
        map().addAnnotation(annotation);
        map().selectAnnotation(annotation);
        const auto pin =
            std::dynamic_pointer_cast<QuovaMapPointView>(map().viewForAnnotation(annotation.get()));
        ASSERT_TRUE(pin);
        if (previous != nullptr) {
            EXPECT_EQ(pin.get(), previous);
        }
        previous = pin.get();
        EXPECT_EQ(pin->reuseIdentifier(), "MapPoint");
        EXPECT_EQ(pin->annotation(), annotation);
        EXPECT_TRUE(pin->isDraggable());
        EXPECT_TRUE(pin->canShowCallout());
        if (c.green) {
            expectColor(pin->pinTintColor(), 0, 1, 0, 1);
        } else {
            EXPECT_EQ(pin->pinTintColor(), red);
        }
        auto* image = qobject_cast<platform::ImageView*>(accessoryWidget(pin->leftCalloutAccessoryView()));
        ASSERT_NE(image, nullptr);
        EXPECT_FALSE(image->image().isNull());
        map().removeAnnotation(annotation);
    }
}

// The user's location: the user-location model's view, the fixed texts until
// the model writes its own, the gear on the left and share on the right.
TEST_F(MapDelegateTest, TheUsersLocationGetsTheModelsViewWithItsTwoButtons) {
    show();
    const auto user = map().userLocation();
    user->setTitle("stale");
    const auto view = screen_->viewForAnnotation(map(), user);
    ASSERT_TRUE(std::dynamic_pointer_cast<tervolo::location::QuovaUserLocationView>(view));
    EXPECT_EQ(user->title(), "My Position");
    EXPECT_EQ(user->subtitle(), "(unknown speed/bearing)");
    auto* settings = qobject_cast<QAbstractButton*>(accessoryWidget(view->leftCalloutAccessoryView()));
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(settings->size(), QSize(36, 36));
    auto* share = qobject_cast<QAbstractButton*>(accessoryWidget(view->rightCalloutAccessoryView()));
    ASSERT_NE(share, nullptr);
    EXPECT_EQ(share->objectName(), "userLocationShareButton");
}

// ---- Selection

// One recogniser for all pins: on the selected point's pin, moved along with
// the selection, taken off (and kept) when nothing is selected.
TEST_F(MapDelegateTest, OneCalloutRecognizerFollowsTheSelection) {
    show();
    const auto a = putPoint("A", 48.1, 11.5);
    const auto b = putPoint("B", 48.2, 11.6);
    EXPECT_FALSE(screen_->calloutTapRecognizer());
    const auto viewA = select(a);
    const auto recognizer = screen_->calloutTapRecognizer();
    ASSERT_TRUE(recognizer);
    EXPECT_TRUE(holds(*viewA, recognizer));
    const auto viewB = select(b);
    EXPECT_FALSE(holds(*viewA, recognizer));
    EXPECT_TRUE(holds(*viewB, recognizer));
    EXPECT_EQ(screen_->calloutTapRecognizer(), recognizer);
    EXPECT_EQ(viewB->gestureRecognizers().size(), 1u);
    map().deselectAnnotation(annotationOf(b));
    EXPECT_FALSE(holds(*viewB, recognizer));
    EXPECT_EQ(screen_->calloutTapRecognizer(), recognizer);
    // The recogniser opens the details of the point selected now.
    select(a)->gestureRecognizers().front()->recognize(*viewA);
    advance(1.0);
    ASSERT_EQ(fixture_->pointDetails.size(), 1u);
    EXPECT_EQ(fixture_->pointDetails[0].point, a);
}

// Selecting the user's location neither zooms nor attaches the recogniser;
// deselecting a view that is no pin takes only its ghost recognisers off.
TEST_F(MapDelegateTest, TheUsersLocationIsSelectedWithoutZoomAndLosesOnlyGhostRecognizers) {
    show();
    map().updateUserLocation(platform::CLLocation(48.1, 11.5));
    advance(1.0);
    const auto user = map().userLocation();
    const platform::MKMapRect before = map().visibleMapRect();
    map().selectAnnotation(user);
    advance(1.0);
    const auto view = map().viewForAnnotation(user.get());
    ASSERT_TRUE(view);
    EXPECT_EQ(map().selectedAnnotations(), std::vector<std::shared_ptr<platform::MKAnnotation>>{user});
    const platform::MKMapRect after = map().visibleMapRect();
    EXPECT_DOUBLE_EQ(after.origin.x, before.origin.x);
    EXPECT_DOUBLE_EQ(after.size.width, before.size.width);
    EXPECT_FALSE(screen_->calloutTapRecognizer());
    EXPECT_TRUE(view->gestureRecognizers().empty());

    const auto ghost = std::make_shared<QuovaGhostTapRecognizer>([](platform::MKAnnotationView&) {});
    const auto plain = std::make_shared<platform::MKGestureRecognizer>([](platform::MKAnnotationView&) {});
    view->addGestureRecognizer(ghost);
    view->addGestureRecognizer(plain);
    map().deselectAnnotation(user);
    EXPECT_EQ(view->gestureRecognizers(), std::vector<std::shared_ptr<platform::MKGestureRecognizer>>{plain});
}

// ---- Screens of the callouts

// Settings and details: inside a navigation controller, full screen on a
// phone, else a form sheet half as wide and two thirds as high as the screen.
TEST_F(MapDelegateTest, SettingsAndDetailsFollowThePresentationRule) {
    show(QSize(1200, 900));
    fixture_->bestKnownLocation = platform::CLLocation(48.1, 11.5);
    const auto point = putPoint("Marienplatz", 48.137, 11.575);
    for (const int type : {0, 3}) {
        for (const bool details : {false, true}) {
            SCOPED_TRACE(std::to_string(type) + (details ? " details" : " settings"));
            setDeviceType(type);
            std::shared_ptr<platform::ViewController> expectedRoot;
            if (details) {
                select(point);
                screen_->showDetailsForSelectedAnnotation();
                ASSERT_FALSE(fixture_->pointDetails.empty());
                const auto& made = fixture_->pointDetails.back();
                EXPECT_EQ(made.point, point);
                EXPECT_EQ(made.mainVC.lock().get(),
                          static_cast<tervolo::mapscreen::MainMapPort*>(screen_.get()));
                expectedRoot = made.screen;
            } else {
                const auto view = screen_->viewForAnnotation(map(), map().userLocation());
                auto* button =
                    qobject_cast<QAbstractButton*>(accessoryWidget(view->leftCalloutAccessoryView()));
                ASSERT_NE(button, nullptr);
                button->click();
            }
            advance(1.0);
            const auto top = recorder_->topPresented();
            ASSERT_TRUE(top);
            auto* navigation = dynamic_cast<platform::NavigationController*>(top.get());
            ASSERT_NE(navigation, nullptr);
            const auto root = navigation->topViewController();
            if (details) {
                EXPECT_EQ(root, expectedRoot);
            } else {
                auto settings =
                    std::dynamic_pointer_cast<tervolo::location::UserLocationSettingsViewController>(root);
                ASSERT_TRUE(settings);
                EXPECT_EQ(settings->mainVC().get(),
                          static_cast<tervolo::location::UserLocationMapScreen*>(screen_.get()));
                ASSERT_TRUE(settings->userLocation());
                EXPECT_DOUBLE_EQ(settings->userLocation()->coordinate().latitude, 48.1);
            }
            if (type == 0) {
                EXPECT_EQ(top->modalPresentationStyle(), platform::ModalPresentationStyle::fullScreen);
            } else {
                EXPECT_EQ(top->modalPresentationStyle(), platform::ModalPresentationStyle::formSheet);
                EXPECT_EQ(root->preferredContentSize(), QSizeF(600, 600));
            }
            ASSERT_TRUE(recorder_->dismissTop());
            advance(1.0);
        }
    }
}

// Details with nothing selected, or with a selection that is no point, show nothing.
TEST_F(MapDelegateTest, DetailsWithoutASelectedPointShowNothing) {
    show();
    screen_->showDetailsForSelectedAnnotation();
    auto plain =
        std::make_shared<platform::MKPointAnnotation>(platform::CLLocationCoordinate2D{48, 11}, "plain");
    map().addAnnotation(plain);
    map().selectAnnotation(plain);
    screen_->mapPointDetailsDisclosureButton(nullptr);
    advance(1.0);
    EXPECT_TRUE(fixture_->pointDetails.empty());
    EXPECT_TRUE(recorder_->entries().empty());
}

// The share sheet of the user's position comes 0.2 s after the click, anchored
// at the button; without a known position nothing comes.
TEST_F(MapDelegateTest, ShareSheetComesLaterAndOnlyWithAKnownPosition) {
    show();
    const auto view = screen_->viewForAnnotation(map(), map().userLocation());
    auto* share = qobject_cast<QAbstractButton*>(accessoryWidget(view->rightCalloutAccessoryView()));
    ASSERT_NE(share, nullptr);
    share->click();
    advance(1.0);
    EXPECT_TRUE(recorder_->entries().empty());

    fixture_->bestKnownLocation = platform::CLLocation(48.1, 11.5);
    share->click();
    advance(0.19);
    EXPECT_TRUE(recorder_->entries().empty());
    advance(0.02);
    ASSERT_EQ(recorder_->entries().size(), 1u);
    EXPECT_EQ(recorder_->entries()[0].className, "ShareSheetController");
    const auto sheet = recorder_->entries()[0].controller;
    ASSERT_NE(sheet->popoverPresentationController(), nullptr);
    EXPECT_EQ(sheet->popoverPresentationController()->sourceView(), share);
}

// ---- Dragging

// Only a drag that ended moves the point: the new coordinate, no subtitle, the
// default title unless the user wrote one, written to its file at once. A
// cancelled drag leaves the point and its file as they were.
TEST_F(MapDelegateTest, OnlyAnEndedDragMovesAndSavesThePoint) {
    show();
    const struct {
        const char* name;
        bool ends;
        bool handcrafted;
        std::vector<std::string> states;
    } cases[] = {
        {"ended, titled by the geocoder",
         true,
         false,
         {"drag starting", "dragging", "drag ending", "drag state none"}},
        {"ended, titled by the user",
         true,
         true,
         {"drag starting", "dragging", "drag ending", "drag state none"}},
        {"cancelled", false, false, {"drag starting", "dragging", "drag canceling", "drag state none"}},
    };
    const std::vector<std::string> stateLines{"drag starting", "dragging", "drag canceling", "drag ending",
                                              "drag state none"};
    auto& store = tervolo::points::QuovaMapPointStore::shared();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto point = putPoint("Hauptstraße 1", 48.0, 11.0);
        point->setSubtitle("80331 München");
        point->setHasHandcraftedTitle(c.handcrafted);
        const auto written = point->save(store);
        ASSERT_TRUE(written.ok());
        select(point);
        tervolo::testsupport::SharedLogRecording log;
        ASSERT_TRUE(map().beginDrag(annotationOf(point)));
        map().dragTo(platform::MKMapPointForCoordinate({48.5, 11.5}));
        if (c.ends) {
            map().endDrag();
        } else {
            map().cancelDrag();
        }
        advance(0.5);
        EXPECT_EQ(textsAmong(log.texts(), stateLines), c.states);
        const auto onDisk = QuovaMapPoint::initWithFilePath(written.value());
        ASSERT_TRUE(onDisk);
        if (c.ends) {
            EXPECT_NEAR(point->coordinate().latitude, 48.5, 1e-9);
            EXPECT_FALSE(point->subtitle());
            EXPECT_EQ(point->title(), c.handcrafted ? "Hauptstraße 1" : "New Location");
            EXPECT_NEAR(onDisk->coordinate().latitude, 48.5, 1e-9);
            EXPECT_NEAR(onDisk->coordinate().longitude, 11.5, 1e-9);
            EXPECT_FALSE(onDisk->subtitle());
        } else {
            EXPECT_DOUBLE_EQ(point->coordinate().latitude, 48.0);
            EXPECT_EQ(point->subtitle(), "80331 München");
            EXPECT_EQ(point->title(), "Hauptstraße 1");
            EXPECT_DOUBLE_EQ(onDisk->coordinate().latitude, 48.0);
            EXPECT_EQ(onDisk->subtitle(), "80331 München");
        }
        map().removeAnnotation(annotationOf(point));
    }
}

// The alarm circle goes with its dropped pin and keeps its place among the
// overlays.
TEST_F(MapDelegateTest, TheAlarmCircleMovesWithItsDroppedPin) {
    show();
    auto point = QuovaMapPoint::make("Circled");
    point->setCoordinate({48.0, 11.0});
    point->setAlarmCircleDiameter(500.0);
    // Saved, as every point on the map is: its circle is found by its identifier.
    ASSERT_TRUE(point->save(tervolo::points::QuovaMapPointStore::shared()).ok());
    screen_->addAnnotation(point);
    const auto before = screen_->haloForPoint(point);
    ASSERT_TRUE(map().containsAnnotation(annotationOf(point).get()));
    ASSERT_NE(before, nullptr);
    map().addOverlay(std::make_shared<tervolo::location::QuovaPinCircleOverlay>(
        platform::CLLocationCoordinate2D{47.0, 10.0}, 100.0));  // a later circle above it
    const auto& level = map().overlaysInLevel(platform::MKOverlayLevel::AboveLabels);
    const auto place = std::find(level.begin(), level.end(), before) - level.begin();
    select(point);
    ASSERT_TRUE(map().beginDrag(annotationOf(point)));
    map().dragTo(platform::MKMapPointForCoordinate({48.5, 11.5}));
    map().endDrag();
    advance(0.5);
    const auto after = screen_->haloForPoint(point);
    ASSERT_TRUE(after);
    EXPECT_NEAR(after->coordinate().latitude, 48.5, 1e-9);
    EXPECT_FALSE(map().containsOverlay(before.get()));
    const auto& moved = map().overlaysInLevel(platform::MKOverlayLevel::AboveLabels);
    EXPECT_EQ(std::find(moved.begin(), moved.end(), after) - moved.begin(), place);
}

// ---- Compass

// The status label keeps 10 points left of the compass while it shows; the
// constraint is made the first time and reused after.
TEST_F(MapDelegateTest, TheStatusLabelMovesBesideTheCompassWithOneConstraint) {
    show();
    screen_->statusLabel()->setText(QStringLiteral("downloading 3 tiles"));
    screen_->statusLabel()->show();
    const auto turn = [&](double heading) {
        map().beginUserGesture();
        map().rotateTo(heading);
        map().endUserGesture();
        advance(1.0);
    };
    EXPECT_FALSE(screen_->statusLabelCompassMargin());
    turn(30);
    const auto margin = screen_->statusLabelCompassMargin();
    ASSERT_TRUE(margin);
    EXPECT_TRUE(margin->isActive());
    EXPECT_FALSE(screen_->statusLabelTrailingMargin()->isActive());
    QWidget* compass = map().findSubview(QStringLiteral("MKCompassView"));
    ASSERT_NE(compass, nullptr);
    const QRect label = screen_->statusLabel()->geometry();
    EXPECT_NEAR(label.x() + label.width(), compass->mapTo(screen_->view(), QPoint(0, 0)).x() - 10, 1);

    turn(0);
    EXPECT_FALSE(margin->isActive());
    EXPECT_TRUE(screen_->statusLabelTrailingMargin()->isActive());
    const QRect home = screen_->statusLabel()->geometry();
    EXPECT_NEAR(home.x() + home.width(), screen_->sideContainer()->x() - 8, 1);

    turn(45);
    EXPECT_EQ(screen_->statusLabelCompassMargin(), margin);
    EXPECT_TRUE(margin->isActive());
}

// ---- Renderers

TEST_F(MapDelegateTest, RenderersFillCirclesAndMakeANewTileRendererAtEveryAsk) {
    show();
    const auto alarm = std::make_shared<tervolo::location::QuovaPinCircleOverlay>(
        platform::CLLocationCoordinate2D{48, 11}, 500.0);
    const auto user = std::make_shared<tervolo::location::QuovaUserLocationCircleOverlay>(
        platform::CLLocationCoordinate2D{48, 11}, 500.0);
    const struct {
        const char* name;
        std::shared_ptr<platform::MKOverlay> overlay;
        double red, green, blue;
    } circles[] = {{"alarm circle", alarm, 1, 59.0 / 255, 48.0 / 255},
                   {"user's circle", user, 0, 122.0 / 255, 1}};
    for (const auto& c : circles) {
        SCOPED_TRACE(c.name);
        const auto renderer = std::dynamic_pointer_cast<platform::MKCircleRenderer>(
            screen_->rendererForOverlay(map(), c.overlay));
        ASSERT_TRUE(renderer);
        ASSERT_TRUE(renderer->fillColor());
        expectColor(*renderer->fillColor(), c.red, c.green, c.blue, 0.25);
        EXPECT_FALSE(renderer->strokeColor());
        EXPECT_EQ(renderer->lineWidth(), 0);
    }

    const auto overlay = map().currentTileOverlay();
    ASSERT_TRUE(overlay);
    const auto first = screen_->rendererForOverlay(map(), overlay);
    const auto second = std::dynamic_pointer_cast<tervolo::tiles::TileOverlayRenderer>(
        screen_->rendererForOverlay(map(), overlay));
    ASSERT_TRUE(second);
    EXPECT_NE(first, second);
    EXPECT_EQ(second->map(), overlay->map());
    EXPECT_EQ(overlay->renderer().get(),
              static_cast<tervolo::tiles::QuovaTileOverlayRendering*>(second.get()));

    const auto plain = std::make_shared<platform::MKCircle>(platform::CLLocationCoordinate2D{48, 11}, 500.0);
    EXPECT_FALSE(screen_->rendererForOverlay(map(), plain));
}

// ---- Region changes

// Long after the program's last move the change is the user's and drops the
// wish to zoom in on the user; right after it the wish stays.
TEST_F(MapDelegateTest, OnlyTheUsersRegionChangesDropTheWishToZoomInOnTheUser) {
    show();
    for (const double dt : {0.01, 0.1}) {
        SCOPED_TRACE(dt);
        screen_->setUserWantsToZoomInOnUserLocation(true);
        screen_->setProgrammaticRegionChangeAt(platform::Clock::current()->wallSeconds() - dt);
        screen_->regionWillChangeAnimated(map(), false);
        EXPECT_EQ(screen_->userWantsToZoomInOnUserLocation(), dt < 0.05);
    }
}

// Counts the redraws the screen asks of a tile overlay's renderer.
class CountingRendering : public tervolo::tiles::QuovaTileOverlayRendering {
  public:
    int64_t getLastRequestedZoomLevel() override { return 0; }
    void setNeedsDisplay() override { ++redraws; }
    int redraws = 0;
};

// Every region change writes the debug text; the base layer is redrawn 0.3 s
// after the last of a quick series of changes, once.
TEST_F(MapDelegateTest, RegionChangesWriteTheDebugTextAndRedrawTheBaseLayerOnce) {
    // The tiles' downloads stay unanswered: a failed one redraws the layer too.
    tervolo::testsupport::FakeTileSessions sessions;
    tervolo::tiles::TileCacheManager::setSessionFactory(sessions.factory());
    show();
    const auto overlay = map().currentTileOverlay();
    ASSERT_TRUE(overlay);
    advance(2.0);
    const auto counting = std::make_shared<CountingRendering>();
    overlay->setRenderer(counting);
    screen_->debugTextView()->setText(QString());
    for (int i = 0; i < 3; ++i) {
        screen_->regionDidChangeAnimated(map(), false);
        advance(0.1);
    }
    EXPECT_TRUE(screen_->debugTextView()->toPlainText().startsWith(QStringLiteral("zoom: ")));
    EXPECT_EQ(screen_->debugTextView()->toPlainText().count(QLatin1Char('\n')), 6);
    advance(0.18);  // 0.28 s after the last change
    EXPECT_EQ(counting->redraws, 0);
    advance(0.04);
    EXPECT_EQ(counting->redraws, 1);
    advance(2.0);
    EXPECT_EQ(counting->redraws, 1);
    screen_.reset();
    fixture_.reset();
    tervolo::tiles::TileCacheManager::setSessionFactory(nullptr);
}

// Zoomed in past the tile style's deepest level, the map zooms itself out
// 0.1 s later by the factor found; at the deepest level, or on a map style of
// the map's own, it stays.
TEST_F(MapDelegateTest, AMapDeeperThanTheTileStyleZoomsItselfOut) {
    show();
    const auto overlay = map().currentTileOverlay();
    ASSERT_TRUE(overlay);
    const int32_t deepest = overlay->maxZoomLevel();
    ASSERT_LT(deepest, 21);  // the map reaches level 21
    const struct {
        const char* name;
        bool tileStyle;
        int level;
        double factor;
    } cases[] = {
        {"one level too deep", true, deepest + 1, 1.4500000000000002},
        {"at the deepest level", true, deepest, 1.0},
        {"map style of its own", false, deepest + 1, 1.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        map().setMapStyle(c.tileStyle ? tervolo::tiles::QuovaBaseMapStyle::osm
                                      : tervolo::tiles::QuovaBaseMapStyle::standard);
        advance(2.0);
        const auto bounds = map().boundsSize();
        const double scale = std::exp2(c.level - 20);
        const platform::MKMapPoint middle = platform::MKMapPointForCoordinate({48.1, 11.5});
        map().setVisibleMapRect({{middle.x - bounds.width / 2 / scale, middle.y - bounds.height / 2 / scale},
                                 {bounds.width / scale, bounds.height / scale}});
        const double distance = map().camera().centerCoordinateDistance;
        advance(0.05);
        EXPECT_DOUBLE_EQ(map().camera().centerCoordinateDistance, distance);
        advance(2.0);
        EXPECT_NEAR(map().camera().centerCoordinateDistance / distance, c.factor, 1e-6);
    }
}

// The scale bar shows the table entry for the map's scale along the bottom
// container's top edge, with a bar of that many metres; the locale chooses
// the table.
TEST_F(MapDelegateTest, TheScaleBarShowsTheEntryForTheMapsScale) {
    show();
    map().setMapStyle(tervolo::tiles::QuovaBaseMapStyle::standard);
    const struct {
        const char* locale;
        tervolo::points::ScaleDistances table;
    } cases[] = {{"de_DE", tervolo::points::metricScaleDistances()},
                 {"en_US", tervolo::points::imperialScaleDistances()}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.locale);
        platform::text::Locale::setCurrentForTesting(platform::text::Locale(c.locale));
        map().setRegion(platform::MKCoordinateRegionMakeWithDistance({48.1, 11.5}, 3000, 3000));
        advance(2.0);
        const std::string label = screen_->scaleView()->maxLabel()->text().toStdString();
        ASSERT_EQ(c.table.count(label), 1u) << label;
        // Metres per point along the container's top edge, measured on the map.
        QWidget* container = screen_->bottomContainerView();
        const QPoint left = map().mapFrom(screen_->view(), container->mapTo(screen_->view(), QPoint(0, 0)));
        const auto a = map().convertPoint({double(left.x()), double(left.y())});
        const auto b = map().convertPoint({double(left.x() + container->width()), double(left.y())});
        const double perPoint = platform::CLLocation(a.latitude, a.longitude)
                                    .distance(platform::CLLocation(b.latitude, b.longitude)) /
                                container->width();
        const double bar = c.table.at(label) / perPoint;
        EXPECT_GT(bar, 100.0);
        EXPECT_LT(bar, 450.0);
        // The frame is laid out on whole points around a fractional bar.
        EXPECT_NEAR(screen_->scaleView()->width(), bar + 2 * screen_->scaleView()->scaleInset(), 2.0);
    }
    platform::text::Locale::setCurrentForTesting(std::nullopt);
}

// One unit system per locale on every scale and radius list: the map
// screen's scale bar, the scale of a plain map (the details screen's small
// map) and the rows of the radius sheet. The C locale measures in metres.
TEST_F(MapDelegateTest, EveryScaleAndRadiusListShowsTheLocalesUnits) {
    show();
    map().setMapStyle(tervolo::tiles::QuovaBaseMapStyle::standard);
    platform::MKMapView small;
    small.resize(320, 200);
    auto* smallScale = dynamic_cast<platform::MKScaleView*>(small.findSubview(QStringLiteral("MKScaleView")));
    ASSERT_NE(smallScale, nullptr);
    // "500 m" → metric, "0.5 mi" → imperial; anything else is neither.
    auto metric = [](const std::string& text) -> std::optional<bool> {
        const std::string unit = text.substr(text.rfind(' ') + 1);
        if (unit == "m" || unit == "km") return true;
        if (unit == "ft" || unit == "mi" || unit == "yd") return false;
        return std::nullopt;
    };
    const struct {
        const char* locale;
        bool metric;
    } cases[] = {{"de_DE", true}, {"en_US", false},  {"en_GB.UTF-8", false},
                 {"C", true},     {"C.UTF-8", true}, {"POSIX", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.locale);
        platform::text::Locale::setCurrentForTesting(platform::text::Locale(c.locale));
        for (const double metres : {300.0, 3000.0, 300000.0}) {
            SCOPED_TRACE(metres);
            map().setRegion(platform::MKCoordinateRegionMakeWithDistance({48.1, 11.5}, metres, metres));
            small.setRegion(platform::MKCoordinateRegionMakeWithDistance({48.1, 11.5}, metres, metres));
            advance(2.0);
            const std::string mainLabel = screen_->scaleView()->maxLabel()->text().toStdString();
            EXPECT_EQ(metric(mainLabel), c.metric) << "main scale bar: " << mainLabel;
            const std::string smallLabel = smallScale->label().toStdString();
            EXPECT_EQ(metric(smallLabel), c.metric) << "small map's scale: " << smallLabel;
        }
        const auto sheet = tervolo::location::makeRadiusSheet(0, nullptr, {});
        int radii = 0;
        for (const auto& action : sheet->actions()) {
            const auto unit = metric(action->title());
            if (!unit) continue;  // none, custom, cancel
            ++radii;
            EXPECT_EQ(unit, c.metric) << "radius sheet: " << action->title();
        }
        EXPECT_GE(radii, 5);
    }
    platform::text::Locale::setCurrentForTesting(std::nullopt);
}

// With the whole world in view the edge spans more than half the globe; its
// two ends are close the short way round, which must not make the scale a
// few hundred kilometres.
TEST_F(MapDelegateTest, TheScaleBarOfTheWholeWorldIsThousandsOfKilometres) {
    show();
    map().setMapStyle(tervolo::tiles::QuovaBaseMapStyle::standard);
    platform::text::Locale::setCurrentForTesting(platform::text::Locale("de_DE"));
    map().setVisibleMapRect(platform::MKMapRectWorld);
    advance(2.0);
    const std::string label = screen_->scaleView()->maxLabel()->text().toStdString();
    const auto table = tervolo::points::metricScaleDistances();
    ASSERT_EQ(table.count(label), 1u) << label;
    EXPECT_GE(table.at(label), 1000000.0) << label;
    platform::text::Locale::setCurrentForTesting(std::nullopt);
}

}  // namespace
}  // namespace mapdelegate_test
