#include <gtest/gtest.h>

#include <QApplication>
#include <QPalette>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "PointsOnMapTestSupport.hpp"
#include "location/QuovaUserLocationCircleOverlay.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/FeedbackGenerator.hpp"
#include "platform/ui/PresentationRecorder.hpp"
#include "points/QuovaUserDefaults.hpp"
#include "testsupport/logging/LogRecorder.hpp"
#include "testsupport/ui/ScreenshotSupport.hpp"

namespace points_on_map_test {
namespace {

using Lines = std::vector<std::string>;
using tervolo::location::QuovaPinCircleOverlay;
using tervolo::location::QuovaUserLocationCircleOverlay;

tervolo::points::Shorturl shorturlAt(const std::string& title, platform::CLLocationCoordinate2D at) {
    tervolo::points::Shorturl record;
    record.title = title;
    record.latitude = platform::text::describe(at.latitude);
    record.longitude = platform::text::describe(at.longitude);
    return record;
}

size_t countOf(const std::vector<std::string>& lines, const std::string& text) {
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), text));
}

std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// ---- The road of a new point

TEST_F(PointsOnMapTest, EveryRoadSavesStoresShowsSelectsGeocodesAndZoomsInThatOrder) {
    struct Road {
        const char* name;
        std::function<void(MainViewController&, RecordingMap&)> run;
        Lines lines;
        bool handcrafted = false;
    };
    // Selecting a pin zooms to it (the map delegate), before the road's own zoom.
    const Road roads[] = {
        {"long press",
         [](MainViewController& screen, RecordingMap& map) {
             const QPointF middle(map.width() / 2.0, map.height() / 2.0);
             screen.longPressRecognized(platform::MKGestureState::Began, middle);
             screen.longPressRecognized(platform::MKGestureState::Ended, middle);
         },
         {"saved", "stored", "annotation New Location", "selected New Location", "rect animated", "geocode",
          "rect animated"}},
        {"dropped pin",
         [](MainViewController& screen, RecordingMap&) { screen.dropPinAtLocation(kHelsinki, "Sauna"); },
         {"saved", "stored", "annotation Sauna", "selected Sauna", "rect animated", "geocode",
          "rect animated"}},
        {"dropped pin with an empty title",
         [](MainViewController& screen, RecordingMap&) { screen.dropPinAtLocation(kHelsinki, ""); },
         {"saved", "stored", "annotation New Location", "selected New Location", "rect animated", "geocode",
          "rect animated"}},
        {"short link",
         [](MainViewController& screen, RecordingMap&) {
             screen.handleIncomingShorturl(shorturlAt("Harbour", kHelsinki));
         },
         {"saved", "stored", "annotation Harbour", "selected Harbour", "rect animated", "geocode",
          "rect animated"},
         true},
        // Another screen (a search result) saves and stores, then hands the point over.
        {"another screen, alarm circle and address",
         [](MainViewController& screen, RecordingMap&) {
             auto point = storedPoint("Market", kHelsinki, 150.0, std::string("Kauppatori"));
             screen.addPoint(point);
             screen.zoomInOnPoint(point);
         },
         {"saved", "stored", "annotation Market", "halo 150.0 top of level 1", "selected Market",
          "rect animated", "rect animated"}},
        {"another screen, radius 0 and an empty address",
         [](MainViewController& screen, RecordingMap&) {
             auto point = storedPoint("Pier", kHelsinki, 0.0, std::string());
             screen.addPoint(point);
             screen.zoomInOnPoint(point);
         },
         {"saved", "stored", "annotation Pier", "selected Pier", "rect animated", "geocode",
          "rect animated"}},
    };
    for (const Road& road : roads) {
        SCOPED_TRACE(road.name);
        std::filesystem::remove_all(QuovaMapPoint::documentDirectory());
        QuovaMapPointStore::resetSharedForTesting();
        fixture_ = std::make_unique<tervolo::testsupport::MapScreenFixture>();
        show();
        RecordingMap& map = replaceMap();
        // Circles already on both levels: the new one must land on top of the upper one.
        map.addOverlay(std::make_shared<platform::MKCircle>(kHelsinki, 900),
                       platform::MKOverlayLevel::AboveRoads);
        map.addOverlay(std::make_shared<platform::MKCircle>(kHelsinki, 800),
                       platform::MKOverlayLevel::AboveLabels);
        recordStore(map);
        map.startRecording();
        const size_t before = QuovaMapPointStore::shared().points().size();

        road.run(*controller_, map);
        EXPECT_EQ(map.lines, road.lines);
        ASSERT_EQ(QuovaMapPointStore::shared().points().size(), before + 1);
        const PointPtr point = QuovaMapPointStore::shared().points().back();
        EXPECT_TRUE(std::filesystem::exists(fileOf(*point)));
        EXPECT_EQ(point->hasHandcraftedTitle(), road.handcrafted);
        EXPECT_EQ(selectedPoint(), point);
        EXPECT_FALSE(controller_->userWantsToZoomInOnUserLocation());
        settleGeocoding();
        storeToken_.reset();
    }
}

TEST_F(PointsOnMapTest, LongPressFeedbackLivesFromStartToEndAndNeverFiresOffTheWorld) {
    show();
    auto* map = controller_->mapView();
    platform::NotificationFeedbackGenerator::resetCountsForTesting();
    map->setRegion(platform::MKCoordinateRegion{{60.0, 25.0}, {6.0, 12.0}}, false);
    // Through the map's own recogniser, as a press does.
    ASSERT_TRUE(map->longPressRecognizer().action);
    const QPointF middle(map->width() / 2.0, map->height() / 2.0);
    map->longPressRecognizer().action(platform::MKGestureState::Began, middle);
    ASSERT_NE(controller_->longPressFeedbackGenerator(), nullptr);
    EXPECT_EQ(controller_->longPressFeedbackGenerator()->prepareCount(), 1u);
    EXPECT_EQ(platform::NotificationFeedbackGenerator::notificationCount(
                  platform::NotificationFeedbackGenerator::FeedbackType::success),
              1u);
    EXPECT_EQ(QuovaMapPointStore::shared().points().size(), 1u);
    map->longPressRecognizer().action(platform::MKGestureState::Changed, middle + QPointF(30, 0));
    EXPECT_NE(controller_->longPressFeedbackGenerator(), nullptr);
    EXPECT_EQ(QuovaMapPointStore::shared().points().size(), 1u);  // only a beginning makes a point
    map->longPressRecognizer().action(platform::MKGestureState::Ended, middle);
    EXPECT_EQ(controller_->longPressFeedbackGenerator(), nullptr);

    // The whole world turned by 45°: the view's corner lies beyond the north edge.
    map->setVisibleMapRect(platform::MKMapRectWorld, false);
    platform::MKMapCamera camera = map->camera();
    camera.heading = 45;
    map->setCamera(camera, false);
    ASSERT_FALSE(platform::CLLocationCoordinate2DIsValid(map->convertPoint({0, 0})));
    tervolo::testsupport::SharedLogRecording log;
    map->longPressRecognizer().action(platform::MKGestureState::Began, QPointF(0, 0));
    EXPECT_EQ(controller_->longPressFeedbackGenerator(), nullptr);
    EXPECT_EQ(QuovaMapPointStore::shared().points().size(), 1u);
    EXPECT_EQ(platform::NotificationFeedbackGenerator::notificationCount(), 1u);
    EXPECT_EQ(
        countOf(log.texts(),
                "long press recognized at (0.0, 0.0), but coordinates were invalid. Skipping this gesture."),
        1u);
    map->longPressRecognizer().action(platform::MKGestureState::Cancelled, QPointF(0, 0));
    EXPECT_EQ(controller_->longPressFeedbackGenerator(), nullptr);
    settleGeocoding();
}

// A long press over a points folder that cannot be written (a plain file in
// its place stops root too): no pin for a point that is not on disk, an
// alert that says so, and the press's feedback says it failed.
TEST_F(PointsOnMapTest, ALongPressWhosePointIsNotWrittenShowsNoPinAndSaysSo) {
    show();
    auto* map = controller_->mapView();
    map->setRegion(platform::MKCoordinateRegion{{60.0, 25.0}, {6.0, 12.0}}, false);
    platform::NotificationFeedbackGenerator::resetCountsForTesting();
    const std::string folder = QuovaMapPoint::documentDirectory();
    std::filesystem::remove_all(folder);
    std::ofstream(folder.substr(0, folder.size() - 1)) << "";
    platform::PresentationRecorder recorder;

    const QPoint middle(map->width() / 2, map->height() / 2);
    QTest::mousePress(map, Qt::LeftButton, {}, middle);
    advance(1.0);
    QTest::mouseRelease(map, Qt::LeftButton, {}, middle);
    platform::RunLoop::runUntilIdle();

    auto alert = recorder.topAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->title(), "Location Not Saved");
    EXPECT_NE(alert->message().find("The locations folder cannot be written to"), std::string::npos);
    EXPECT_NE(alert->message().find("The new location was not added to the map."), std::string::npos);
    EXPECT_TRUE(QuovaMapPointStore::shared().points().empty());
    EXPECT_TRUE(map->annotations().empty());
    EXPECT_EQ(platform::NotificationFeedbackGenerator::notificationCount(
                  platform::NotificationFeedbackGenerator::FeedbackType::error),
              1u);
    EXPECT_EQ(platform::NotificationFeedbackGenerator::notificationCount(
                  platform::NotificationFeedbackGenerator::FeedbackType::success),
              0u);
    tervolo::testsupport::saveLightAndDarkScreenshots(*controller_->view()->window(),
                                                      QStringLiteral(TERVOLO_SCREENSHOT_DIR),
                                                      QStringLiteral("long-press-not-saved"));
    EXPECT_TRUE(recorder.chooseAction("OK"));
    std::filesystem::remove(folder.substr(0, folder.size() - 1));
}

TEST_F(PointsOnMapTest, ADroppedPinWithoutAValidCoordinateIsRefused) {
    show();
    tervolo::testsupport::SharedLogRecording log;
    for (const platform::CLLocationCoordinate2D at :
         {platform::kCLLocationCoordinate2DInvalid, platform::CLLocationCoordinate2D{91, 10},
          platform::CLLocationCoordinate2D{std::nan(""), 10}}) {
        controller_->dropPinAtLocation(at, std::string("Nowhere"));
    }
    EXPECT_TRUE(QuovaMapPointStore::shared().points().empty());
    EXPECT_EQ(controller_->mapView()->annotationCount(), 0u);
    EXPECT_TRUE(std::filesystem::is_empty(QuovaMapPoint::documentDirectory()));
    EXPECT_EQ(countOf(log.texts(),
                      "dropPinAtLocation(coordinate:title:): invalid coordinates - no point is stored."),
              3u);
}

// ---- Start-up

TEST_F(PointsOnMapTest, StartUpPutsTheValidStoredPointsOnTheMapAndRecordsTheCount) {
    struct Case {
        const char* name;
        std::vector<std::string> visible;
        int deleted;
        Lines events;
    };
    const Case cases[] = {
        {"no point",
         {},
         0,
         {"pointCount count=0",
          "pointLoadingFinished status=No valid points found on disk - importing from defaults."}},
        {"only deleted and hidden points",
         {},
         2,
         {"pointCount count=0",
          "pointLoadingFinished status=No valid points found on disk - importing from defaults."}},
        {"three points",
         {"Sauna", "Harbour", "Island"},
         1,
         {"pointCount count=3", "pointLoadingFinished status=Found 3 valid points on disk."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(QuovaMapPoint::documentDirectory());
        QuovaMapPointStore::resetSharedForTesting();
        double latitude = 60.0;
        for (const auto& title : c.visible) storedPoint(title, {latitude += 0.1, 25.0}, 100.0);
        for (int i = 0; i < c.deleted; ++i) {
            auto gone = storedPoint("Gone", {latitude += 0.1, 25.0}, 100.0);
            if (i % 2 == 0)
                QuovaMapPointStore::shared().deletePoint(gone);
            else
                QuovaMapPointStore::shared().hidePoint(gone);
        }
        QuovaMapPointStore::resetSharedForTesting();  // the next start reads the files

        fixture_ = std::make_unique<tervolo::testsupport::MapScreenFixture>();
        show();
        EXPECT_EQ(fixture_->events, c.events);
        std::vector<std::string> titles;
        for (const auto& annotation : controller_->mapView()->annotations())
            titles.push_back(annotation->title());
        // The files are read in no fixed order: the store's own order is the one to keep.
        std::vector<std::string> storeOrder;
        for (const auto& point : QuovaMapPointStore::shared().validPointsWithFilter(std::nullopt)) {
            storeOrder.push_back(*point->title());
        }
        EXPECT_EQ(titles, storeOrder);
        EXPECT_EQ(titles.size(), c.visible.size());
        size_t halos = 0;
        for (const auto& overlay : controller_->mapView()->overlays()) {
            if (std::dynamic_pointer_cast<QuovaPinCircleOverlay>(overlay)) ++halos;
        }
        EXPECT_EQ(halos, c.visible.size());
        EXPECT_TRUE(controller_->mapView()->selectedAnnotations().empty());
        EXPECT_TRUE(geocoder_->requests().empty());
    }
}

// ---- Incoming links and identifiers

TEST_F(PointsOnMapTest, AShortLinkNearAVisibleStoredPointIsRefusedWithAnAlert) {
    struct Case {
        const char* name;
        double metres;
        bool deleted;
        bool refused;
    };
    const Case cases[] = {
        {"20 m from a stored point", 20, false, true},
        {"30 m from a stored point", 30, false, false},
        {"5 m from a deleted point", 5, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(QuovaMapPoint::documentDirectory());
        QuovaMapPointStore::resetSharedForTesting();
        fixture_ = std::make_unique<tervolo::testsupport::MapScreenFixture>();
        show();
        auto stored = storedPoint("Harbour", kHelsinki);
        if (c.deleted) QuovaMapPointStore::shared().deletePoint(stored);
        platform::PresentationRecorder recorder;

        controller_->handleIncomingShorturl(shorturlAt("Link", north(kHelsinki, c.metres)));
        platform::RunLoop::runUntilIdle();
        EXPECT_EQ(QuovaMapPointStore::shared().points().size(), c.refused ? 1u : 2u);
        const auto alert = recorder.topAlert();
        ASSERT_EQ(alert != nullptr, c.refused);
        if (alert) {
            EXPECT_EQ(alert->title(), "Can't store new location");
            EXPECT_EQ(alert->message(), "You already have a location stored right here.");
            EXPECT_EQ(recorder.actionTitles(), (Lines{"Show Me", "Never Mind"}));
            EXPECT_TRUE(recorder.chooseAction("Never Mind"));
        }
        settleGeocoding();
    }
}

TEST_F(PointsOnMapTest, ShowMeZoomsToAndSelectsTheNearestStoredPoint) {
    auto far = storedPoint("Harbour", kHelsinki);
    auto near = storedPoint("Pier", north(kHelsinki, 12));
    show();
    auto* map = controller_->mapView();
    map->setRegion(platform::MKCoordinateRegion{{50.0, 10.0}, {20.0, 30.0}}, false);
    platform::PresentationRecorder recorder;
    controller_->handleIncomingShorturl(shorturlAt("Link", north(kHelsinki, 20)));
    platform::RunLoop::runUntilIdle();
    ASSERT_TRUE(recorder.chooseAction("Show Me"));
    advance(1.0);  // the alert goes, then its action runs
    EXPECT_EQ(selectedPoint(), near);
    const auto centre = map->centerCoordinate();
    EXPECT_NEAR(centre.latitude, near->coordinate().latitude, 0.01);
    EXPECT_NEAR(centre.longitude, near->coordinate().longitude, 0.01);
    EXPECT_EQ(QuovaMapPointStore::shared().points().size(), 2u);
    (void)far;
}

TEST_F(PointsOnMapTest, AnIncomingIdentifierZoomsToItsPointAndSelectsItOnTheNextTurn) {
    auto shown = storedPoint("Harbour", kHelsinki);
    auto gone = storedPoint("Old pier", {60.5, 25.5});
    QuovaMapPointStore::shared().deletePoint(gone);
    show();
    auto* map = controller_->mapView();
    struct Case {
        const char* name;
        std::string uuid;
        PointPtr zoomedTo;
        PointPtr selected;
    };
    const Case cases[] = {
        {"a point on the map", *shown->uuid(), shown, shown},
        {"a deleted point: zoomed to, not selected", *gone->uuid(), gone, nullptr},
        {"no such point", "00000000-0000-0000-0000-000000000000", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        map->setRegion(platform::MKCoordinateRegion{{40.0, 0.0}, {20.0, 30.0}}, false);
        map->deselectAnnotation(QuovaMapPointAnnotation::forPoint(shown));
        const auto before = map->visibleMapRect();
        controller_->handleIncomingUUID(c.uuid);
        EXPECT_EQ(selectedPoint(), nullptr);  // not yet: the next turn of the main queue selects
        platform::RunLoop::runUntilIdle();
        EXPECT_EQ(selectedPoint(), c.selected);
        if (c.zoomedTo) {
            EXPECT_NEAR(map->centerCoordinate().latitude, c.zoomedTo->coordinate().latitude, 0.01);
        } else {
            EXPECT_EQ(map->visibleMapRect(), before);
        }
        EXPECT_FALSE(onMap(gone));
    }
}

// ---- Circles

TEST_F(PointsOnMapTest, AHaloIsFoundAndRemovedFirstInOverlayOrder) {
    show();
    auto point = storedPoint("Harbour", kHelsinki, 150.0);
    auto other = storedPoint("Pier", {60.2, 25.0}, 80.0);
    controller_->addAnnotation(point);
    controller_->addAnnotation(other);
    controller_->addAnnotation(point);  // after a radius change: a second circle above the first
    auto* map = controller_->mapView();
    std::vector<std::shared_ptr<QuovaPinCircleOverlay>> circles;
    for (const auto& overlay : map->overlays()) {
        if (auto circle = std::dynamic_pointer_cast<QuovaPinCircleOverlay>(overlay);
            circle && circle->pointUUID() == point->uuid()) {
            circles.push_back(circle);
        }
    }
    ASSERT_EQ(circles.size(), 2u);
    EXPECT_EQ(circles[0]->radius(), 150.0);
    EXPECT_EQ(controller_->haloForPoint(point), circles[0]);
    controller_->removeHaloFromPoint(point);
    EXPECT_FALSE(map->containsOverlay(circles[0].get()));
    EXPECT_EQ(controller_->haloForPoint(point), circles[1]);
    EXPECT_NE(controller_->haloForPoint(other), nullptr);
    // Taken off by another screen directly: no longer found.
    map->removeOverlay(circles[1]);
    EXPECT_EQ(controller_->haloForPoint(point), nullptr);
    EXPECT_EQ(controller_->haloForPoint(nullptr), nullptr);
}

TEST_F(PointsOnMapTest, TheUserCircleFollowsTheRadiusAndMovesOfTenMetres) {
    show();
    auto* map = controller_->mapView();
    ASSERT_TRUE(map->showsUserLocation());
    const auto userCircles = [&] {
        std::vector<std::shared_ptr<QuovaUserLocationCircleOverlay>> found;
        for (const auto& overlay : map->overlays()) {
            if (auto circle = std::dynamic_pointer_cast<QuovaUserLocationCircleOverlay>(overlay))
                found.push_back(circle);
        }
        return found;
    };
    // Without a fix nothing is drawn.
    tervolo::points::QuovaUserDefaults::shared().setUserLocationRadius(100);
    controller_->refreshCircleOverlayForUserLocation();
    EXPECT_TRUE(userCircles().empty());

    struct Step {
        const char* name;
        std::optional<double> radius;  // none: the user default removed
        double metresNorth;            // of the previous position
        enum { none, added, kept, replaced } outcome;
        double radiusAfter;
    };
    const Step steps[] = {
        {"first fix", 100, 0, Step::added, 100},
        {"moved 9.9 m", 100, 9.9, Step::kept, 100},
        {"moved another 10 m", 100, 10.0, Step::replaced, 100},
        {"radius changed", 150, 0, Step::replaced, 150},
        {"radius changed by a hair", 150.001, 0, Step::replaced, 150.001},
        {"radius 0", 0, 0, Step::none, 0},
        {"radius again", 100, 0, Step::added, 100},
        {"negative radius", -5, 0, Step::none, 0},
        {"radius again", 100, 0, Step::added, 100},
        {"radius unset", std::nullopt, 0, Step::none, 0},
    };
    platform::CLLocationCoordinate2D position = kHelsinki;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        const auto before = userCircles();
        if (step.radius) {
            tervolo::points::QuovaUserDefaults::shared().setUserLocationRadius(*step.radius);
        } else {
            platform::UserDefaults::standard().remove("userLocationRadius");
        }
        if (step.metresNorth > 0) position = north(position, step.metresNorth);
        map->updateUserLocation(platform::CLLocation(position, 0, 5, -1, platform::Date::now()));
        controller_->refreshCircleOverlayForUserLocation();
        const auto after = userCircles();
        if (step.outcome == Step::none) {
            EXPECT_TRUE(after.empty());
            continue;
        }
        ASSERT_EQ(after.size(), 1u);
        EXPECT_DOUBLE_EQ(after[0]->radius(), step.radiusAfter);
        // Drawn above everything above the labels.
        EXPECT_EQ(map->overlaysInLevel(platform::MKOverlayLevel::AboveLabels).back(), after[0]);
        switch (step.outcome) {
            case Step::added:
                EXPECT_TRUE(before.empty());
                break;
            case Step::kept:
                ASSERT_EQ(before.size(), 1u);
                EXPECT_EQ(after[0], before[0]);
                break;
            default:
                ASSERT_EQ(before.size(), 1u);
                EXPECT_NE(after[0], before[0]);
                EXPECT_EQ(after[0]->coordinate(), position);
        }
    }
}

// ---- Reverse geocoding

TEST_F(PointsOnMapTest, AnAddressAnswerIsStoredOnceAndShownInTheOpenCallout) {
    show();
    geocoder_->answerCoordinate(
        kHelsinki, {{tervolo::testsupport::makePlacemark("Market Square", 60.1675, 24.9525,
                                                         "Pohjoisesplanadi", "Helsinki", "Finland")}});
    int updates = 0;
    storeToken_ = QuovaMapPointStore::shared().observeChanges([&](const auto& change) {
        if (change.reason == tervolo::points::MapPointChange::Reason::updated) ++updates;
    });
    controller_->dropPinAtLocation(kHelsinki, std::nullopt);
    const PointPtr point = QuovaMapPointStore::shared().points().back();
    settleGeocoding();
    QApplication::processEvents();

    EXPECT_EQ(point->title(), "Market Square");
    EXPECT_EQ(point->subtitle(), "Pohjoisesplanadi, Helsinki, Finland");
    EXPECT_EQ(updates, 1);
    const std::string file = fileText(fileOf(*point));
    EXPECT_NE(file.find("Market Square"), std::string::npos);
    EXPECT_NE(file.find("Pohjoisesplanadi, Helsinki, Finland"), std::string::npos);
    ASSERT_NE(controller_->mapView()->calloutView(), nullptr);
    EXPECT_EQ(controller_->mapView()->calloutView()->title(), QStringLiteral("Market Square"));
    EXPECT_EQ(controller_->mapView()->calloutView()->subtitle(),
              QStringLiteral("Pohjoisesplanadi, Helsinki, Finland"));

    // A second answer changes nothing of a point that has both: no save.
    controller_->startReverseGeocodingForPoint(point);
    settleGeocoding();
    EXPECT_EQ(updates, 1);
}

TEST_F(PointsOnMapTest, FailedGeocodingIsRetriedWithGrowingPausesAFewTimesAndNotForADeletedPoint) {
    show();
    const platform::Error offline{"NSURLErrorDomain", -1009,
                                  "The Internet connection appears to be offline."};
    geocoder_->answerCoordinate(kHelsinki, {{}, offline});
    controller_->dropPinAtLocation(kHelsinki, std::nullopt);
    settleGeocoding();
    EXPECT_EQ(geocoder_->requests().size(), 1u);
    // Retries 3, 6, 12 and 24 s after each failure, then no more: five requests in all.
    for (const double pause : {3.0, 6.0, 12.0, 24.0}) {
        SCOPED_TRACE(pause);
        const size_t before = geocoder_->requests().size();
        advance(pause - 0.01);
        EXPECT_EQ(geocoder_->requests().size(), before);
        advance(0.01);
        EXPECT_EQ(geocoder_->requests().size(), before + 1);
        settleGeocoding();
    }
    advance(600);
    EXPECT_EQ(geocoder_->requests().size(), 5u);
    EXPECT_EQ(QuovaMapPointStore::shared().points().back()->title(), "New Location");

    // A point deleted while its retry waits is not asked about again; nor a hidden one.
    const platform::CLLocationCoordinate2D elsewhere{60.5, 25.5};
    geocoder_->answerCoordinate(elsewhere, {{}, offline});
    for (const bool hide : {false, true}) {
        SCOPED_TRACE(hide ? "hidden" : "deleted");
        controller_->dropPinAtLocation(elsewhere, std::nullopt);
        settleGeocoding();
        const size_t before = geocoder_->requests().size();
        const PointPtr point = QuovaMapPointStore::shared().points().back();
        if (hide)
            QuovaMapPointStore::shared().hidePoint(point);
        else
            QuovaMapPointStore::shared().deletePoint(point);
        advance(600);
        EXPECT_EQ(geocoder_->requests().size(), before);
    }
}

// ---- What the store reports

TEST_F(PointsOnMapTest, ADeletedPointLeavesTheMapWithItsCircleOtherReasonsChangeNothing) {
    auto harbour = storedPoint("Harbour", kHelsinki, 100.0);
    auto pier = storedPoint("Pier", {60.2, 25.0}, 50.0);
    show();
    auto& centre = platform::NotificationCenter::defaultCenter();
    const auto post = [&](std::shared_ptr<void> object, platform::NotificationCenter::UserInfo info) {
        centre.post(QuovaMapPointStore::kMapPointChangeNotification, std::move(object), std::move(info));
    };
    struct Step {
        const char* name;
        std::function<void()> act;
        bool harbourShown;
        bool pierShown;
    };
    const Step steps[] = {
        {"hidden reason alone",
         [&] {
             post(pier, {{"mapPointChangeReason", std::string("mapPointHidden")}});
         },
         true, true},
        {"unknown reason",
         [&] {
             post(pier, {{"mapPointChangeReason", std::string("mapPointMoved")}});
         },
         true, true},
        {"no reason", [&] { post(pier, {}); }, true, true},
        {"reason of another type",
         [&] {
             post(pier, {{"mapPointChangeReason", 7}});
         },
         true, true},
        {"deleted, but not a point",
         [&] {
             post(std::make_shared<int>(7), {{"mapPointChangeReason", std::string("mapPointDeleted")}});
         },
         true, true},
        {"the store deletes one", [&] { QuovaMapPointStore::shared().deletePoint(harbour); }, false, true},
        {"the store hides a valid one", [&] { QuovaMapPointStore::shared().hidePoint(pier); }, false, false},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        step.act();
        EXPECT_EQ(onMap(harbour), step.harbourShown);
        EXPECT_EQ(controller_->haloForPoint(harbour) != nullptr, step.harbourShown);
        EXPECT_EQ(onMap(pier), step.pierShown);
        EXPECT_EQ(controller_->haloForPoint(pier) != nullptr, step.pierShown);
    }
    // Restored and shown again: one circle, not two.
    harbour->setDeletedAt(std::nullopt);
    controller_->addPoint(harbour);
    size_t circles = 0;
    for (const auto& overlay : controller_->mapView()->overlays()) {
        if (auto circle = std::dynamic_pointer_cast<QuovaPinCircleOverlay>(overlay);
            circle && circle->pointUUID() == harbour->uuid()) {
            ++circles;
        }
    }
    EXPECT_EQ(circles, 1u);
}

}  // namespace
}  // namespace points_on_map_test
