// What the map screen keeps across a restart: the values it writes, how the
// values read back wait for the screen to load and are applied once, and a
// round trip through the restoration archive's file.

#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TrackingTestSupport.hpp"
#include "mapscreen/QuovaMapPointAnnotation.hpp"
#include "platform/dispatch/MainQueueExecutor.hpp"
#include "platform/foundation/FileManager.hpp"
#include "platform/mapkit/MKMapViewDelegate.hpp"
#include "platform/ui/RestorationArchive.hpp"
#include "platform/ui/RestorationCoder.hpp"
#include "points/QuovaMapPoint.hpp"
#include "tiles/QuovaBaseMapStyle.hpp"

namespace tracking_test {
namespace {

using platform::MKMapRect;
using platform::PropertyValue;
using platform::RestorationCoder;
using tervolo::mapscreen::QuovaMapPointAnnotation;
using tervolo::points::QuovaMapPoint;
using tervolo::tiles::QuovaBaseMapStyle;

// A screen whose map shows the stored points from the moment its view
// exists, so a restored selection finds its point there.
class ScreenWithPoints : public MainViewController {
  public:
    using MainViewController::MainViewController;
    void loadView() override {
        MainViewController::loadView();
        for (const auto& point : tervolo::points::QuovaMapPointStore::shared().points())
            mapView()->addAnnotation(QuovaMapPointAnnotation::forPoint(point));
    }
};

std::shared_ptr<QuovaMapPoint> makePoint(const std::string& title, const std::string& uuid, double latitude,
                                         double longitude) {
    auto point = QuovaMapPoint::make(title);
    point->setUuid(uuid);
    point->setCoordinate({latitude, longitude});
    return point;
}

PropertyValue rectValue(const MKMapRect& rect) {
    return PropertyValue::Dictionary{
        {"x", rect.origin.x}, {"y", rect.origin.y}, {"width", rect.size.width}, {"height", rect.size.height}};
}

// A map rect around Vienna, about 20 km across.
const MKMapRect kVienna{{143000000.0, 90600000.0}, {60000.0, 40000.0}};

class MainViewControllerRestorationTest : public TrackingTest {
  protected:
    void SetUp() override {
        TrackingTest::SetUp();
        point_ = makePoint("Stephansdom", "U1", 48.2085, 16.3731);
        tervolo::points::QuovaMapPointStore::shared().replacePointsForTesting(
            {makePoint("Elsewhere", "U0", 60.0, 25.0), point_});
    }
    std::shared_ptr<MainViewController> makeScreen() {
        return std::make_shared<ScreenWithPoints>(fixture_->services());
    }
    std::shared_ptr<MainViewController> showScreen(std::shared_ptr<MainViewController> screen) {
        controller_ = fixture_->showInWindow(std::move(screen));
        platform::RunLoop::runUntilIdle();
        return controller_;
    }
    static RestorationCoder fullCoder(const std::string& style) {
        return RestorationCoder({{"mapStyle", style},
                                 {"mapRect", rectValue(kVienna)},
                                 {"selectedAnnotationID", "U1"},
                                 {"searchString", "caf\u00e9"}});
    }
    // The map shows `rect` around its centre, fitted to the map's own
    // proportions. A rect set before the window took its size keeps its
    // centre and scale while the map grows (`fitted` false).
    void expectShows(const MKMapRect& rect, bool fitted = true) {
        const MKMapRect visible = controller_->mapView()->visibleMapRect();
        EXPECT_NEAR(visible.origin.x + visible.size.width / 2, rect.origin.x + rect.size.width / 2, 1.0);
        EXPECT_NEAR(visible.origin.y + visible.size.height / 2, rect.origin.y + rect.size.height / 2, 1.0);
        if (!fitted) return;
        EXPECT_GE(visible.size.width, rect.size.width - 1.0);
        EXPECT_GE(visible.size.height, rect.size.height - 1.0);
        EXPECT_TRUE(visible.size.width < rect.size.width * 1.01 ||
                    visible.size.height < rect.size.height * 1.01);
    }
    bool selectedIs(const std::shared_ptr<QuovaMapPoint>& point) const {
        const auto selected = controller_->mapView()->selectedAnnotations();
        return selected.size() == 1 && QuovaMapPointAnnotation::pointFor(selected[0]) == point;
    }
    // The search controller heard of no edit, so it started no search.
    bool searchStarted() const {
        for (const auto& call : fixture_->searchController->calls()) {
            if (call == "textFieldDidChange" || call == "textFieldDidChangeSelection") return true;
        }
        return false;
    }

    std::shared_ptr<QuovaMapPoint> point_;
};

TEST_F(MainViewControllerRestorationTest, DecodedBeforeLoadingWaitsWithoutSpinningAndIsAppliedOnceAfter) {
    storeMode(PropertyValue(1));
    auto screen = makeScreen();
    screen->decodeRestorableState(fullCoder("OpenCycleMap Retina"));
    EXPECT_FALSE(screen->isViewLoaded());
    EXPECT_TRUE(screen->isRestorationPending());
    // Nothing is re-dispatched while it waits: the main queue runs dry.
    int rounds = 0;
    while (platform::drainMainQueue() > 0 && ++rounds < 100) {
    }
    EXPECT_LT(rounds, 100);
    EXPECT_EQ(logCount("Restoration postponed - app not ready yet."), 1u);
    EXPECT_EQ(logCount("Starting State Restoration."), 0u);

    showScreen(screen);
    EXPECT_EQ(logCount("Starting State Restoration."), 1u);
    EXPECT_FALSE(screen->isRestorationPending());
    EXPECT_TRUE(screen->initializationDone());
    expectShows(kVienna, false);
    EXPECT_EQ(screen->mapView()->mapStyle(), QuovaBaseMapStyle::openCycleMapRetina);
    EXPECT_EQ(screen->searchBar()->text().toStdString(), "caf\u00e9");
    EXPECT_FALSE(searchStarted());
    EXPECT_TRUE(selectedIs(point_));
    // The transient values are gone; the style stays known.
    EXPECT_FALSE(screen->restoredRect());
    EXPECT_FALSE(screen->restoredAnnotationID());
    EXPECT_FALSE(screen->restoredSearchString());
    EXPECT_EQ(screen->restoredMapStyle(), "OpenCycleMap Retina");

    // Following resumes as stored, once.
    advance(1);
    ASSERT_EQ(fixture_->hudFlashes.size(), 1u);
    EXPECT_EQ(fixture_->hudFlashes[0].subtitle, "The map now keeps your location centered.");
    EXPECT_TRUE(screen->keepCenteredSubscription());
    advance(5);
    EXPECT_EQ(logCount("Starting State Restoration."), 1u);
    EXPECT_EQ(fixture_->hudFlashes.size(), 1u);
}

// Records the style the map has when its region is about to change.
class StyleAtRegionChange : public platform::MKMapViewDelegate {
  public:
    explicit StyleAtRegionChange(tervolo::mapscreen::QuovaMKMapView& map) : map_(map) {}
    void regionWillChangeAnimated(platform::MKMapViewModel&, bool) override {
        styles.push_back(map_.mapStyle());
    }
    std::vector<std::optional<QuovaBaseMapStyle>> styles;

  private:
    tervolo::mapscreen::QuovaMKMapView& map_;
};

TEST_F(MainViewControllerRestorationTest, EveryDecodeAfterLoadingAppliesAtOnceTheRectBeforeTheStyle) {
    showScreen(makeScreen());
    auto recorder = std::make_shared<StyleAtRegionChange>(*controller_->mapView());
    controller_->mapView()->setDelegate(recorder);

    controller_->decodeRestorableState(fullCoder("OpenCycleMapRetina"));
    EXPECT_FALSE(controller_->isRestorationPending());
    ASSERT_EQ(recorder->styles.size(), 1u);
    EXPECT_EQ(recorder->styles[0], QuovaBaseMapStyle::osm);  // the rect came first
    EXPECT_EQ(controller_->mapView()->mapStyle(), QuovaBaseMapStyle::openCycleMapRetina);
    expectShows(kVienna);
    EXPECT_TRUE(selectedIs(point_));
    EXPECT_TRUE(controller_->initializationDone());

    // A second decode in the same run is applied too.
    const MKMapRect helsinki{{152000000.0, 74800000.0}, {80000.0, 50000.0}};
    controller_->decodeRestorableState(
        RestorationCoder({{"mapStyle", "OpenTopoMap"}, {"mapRect", rectValue(helsinki)}}));
    EXPECT_EQ(controller_->mapView()->mapStyle(), QuovaBaseMapStyle::openTopoMap);
    expectShows(helsinki);
    EXPECT_EQ(logCount("Starting State Restoration."), 2u);
    EXPECT_EQ(logCount("Restoration postponed - app not ready yet."), 0u);
}

TEST_F(MainViewControllerRestorationTest, TheStyleIsFoundByIdentifierOrDisplayNameElseOpenStreetMap) {
    struct Case {
        std::optional<PropertyValue> stored;
        QuovaBaseMapStyle style;
    };
    const Case cases[] = {
        {PropertyValue("OpenCycleMap Retina"), QuovaBaseMapStyle::openCycleMapRetina},
        {PropertyValue("OpenCycleMapRetina"), QuovaBaseMapStyle::openCycleMapRetina},
        {PropertyValue("OpenStreetMap Retina"), QuovaBaseMapStyle::osmRetina},
        {PropertyValue("Satellite"), QuovaBaseMapStyle::satellite},
        {PropertyValue("Standard"), QuovaBaseMapStyle::standard},
        {PropertyValue("openstreetmap"), QuovaBaseMapStyle::osm},
        {PropertyValue("Mars"), QuovaBaseMapStyle::osm},
        {PropertyValue(4), QuovaBaseMapStyle::osm},
        {std::nullopt, QuovaBaseMapStyle::osm},
    };
    showScreen(makeScreen());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored ? c.stored->asString().value_or("(not text)") : "(absent)");
        controller_->mapView()->setMapStyle(QuovaBaseMapStyle::hybrid);
        RestorationCoder coder;
        if (c.stored) coder.encode("mapStyle", *c.stored);
        controller_->decodeRestorableState(coder);
        EXPECT_EQ(controller_->mapView()->mapStyle(), c.style);
    }
}

TEST_F(MainViewControllerRestorationTest, ARectTheMapCannotShowIsIgnored) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* name;
        PropertyValue value;
    };
    const Case cases[] = {
        {"not a number", rectValue({{nan, 90600000.0}, {60000.0, 40000.0}})},
        {"infinite width", rectValue({{143000000.0, 90600000.0}, {inf, 40000.0}})},
        {"zero width", rectValue({{143000000.0, 90600000.0}, {0.0, 40000.0}})},
        {"negative height", rectValue({{143000000.0, 90600000.0}, {60000.0, -40000.0}})},
        {"off the world", rectValue({{143000000.0, -9e8}, {60000.0, 40000.0}})},
        {"a number missing",
         PropertyValue::Dictionary{{"x", 143000000.0}, {"y", 90600000.0}, {"width", 60000.0}}},
        {"a number as text",
         PropertyValue::Dictionary{
             {"x", "143000000"}, {"y", 90600000.0}, {"width", 60000.0}, {"height", 4.0}}},
        {"not a dictionary", PropertyValue::List{1.0, 2.0, 3.0, 4.0}},
    };
    showScreen(makeScreen());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        controller_->mapView()->setVisibleMapRect(kVienna, false);
        const MKMapRect before = controller_->mapView()->visibleMapRect();
        controller_->decodeRestorableState(RestorationCoder({{"mapRect", c.value}}));
        EXPECT_EQ(controller_->mapView()->visibleMapRect(), before);
        EXPECT_FALSE(controller_->restoredRect());
    }
    // Integers are numbers too.
    controller_->decodeRestorableState(RestorationCoder(
        {{"mapRect", PropertyValue::Dictionary{
                         {"x", 152000000}, {"y", 74800000}, {"width", 80000}, {"height", 50000}}}}));
    expectShows({{152000000.0, 74800000.0}, {80000.0, 50000.0}});
}

TEST_F(MainViewControllerRestorationTest, SavingWritesTheStyleTheRectAndOnlyWhatIsThere) {
    struct Case {
        const char* name;
        std::optional<QuovaBaseMapStyle> style;
        std::shared_ptr<QuovaMapPoint> selected;  // none: the user's location is selected
        std::string searchText;
        std::string styleKey;
        std::optional<std::string> selectedKey;
        std::optional<std::string> searchKey;
    };
    const auto unnamed = makePoint("Unnamed", "", 48.21, 16.38);
    const Case cases[] = {
        {"everything", QuovaBaseMapStyle::openCycleMapRetina, point_, "caf\u00e9", "OpenCycleMapRetina", "U1",
         "caf\u00e9"},
        {"user location selected, empty search", QuovaBaseMapStyle::satellite, nullptr, "", "Satellite",
         std::nullopt, std::nullopt},
        {"point without identifier", QuovaBaseMapStyle::osm, unnamed, "x", "OpenStreetMap", std::nullopt,
         "x"},
    };
    showScreen(makeScreen());
    controller_->mapView()->addAnnotation(QuovaMapPointAnnotation::forPoint(unnamed));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        controller_->mapView()->setMapStyle(*c.style);
        controller_->mapView()->setVisibleMapRect(kVienna, false);
        if (c.selected) {
            controller_->mapView()->selectAnnotation(QuovaMapPointAnnotation::forPoint(c.selected), false);
        } else {
            controller_->mapView()->updateUserLocation(fix(48.2, 16.37));
            controller_->mapView()->selectAnnotation(controller_->mapView()->userLocation(), false);
        }
        controller_->searchBar()->setText(QString::fromStdString(c.searchText));

        RestorationCoder coder;
        controller_->encodeRestorableState(coder);
        EXPECT_EQ(coder.decode<std::string>("mapStyle"), c.styleKey);
        const MKMapRect visible = controller_->mapView()->visibleMapRect();
        EXPECT_EQ(coder.decode<PropertyValue::Dictionary>("mapRect"), *rectValue(visible).asDictionary());
        EXPECT_EQ(coder.decode<std::string>("selectedAnnotationID"), c.selectedKey);
        EXPECT_EQ(coder.decode<std::string>("searchString"), c.searchKey);
        EXPECT_EQ(coder.values().size(), 2u + (c.selectedKey ? 1 : 0) + (c.searchKey ? 1 : 0));
    }

    // Without a map view only the base class's state would be written.
    auto bare = fixture_->makeController();
    bare->setMapView(nullptr);
    RestorationCoder coder;
    bare->encodeRestorableState(coder);
    EXPECT_TRUE(coder.values().empty());
}

// A map turned by the compass keeps its scale across a restart: the saved
// rect is the view's own, not the wider rect around the turned view.
TEST_F(MainViewControllerRestorationTest, ATurnedMapComesBackAtItsOwnScale) {
    showScreen(makeScreen());
    auto* map = controller_->mapView();
    map->setVisibleMapRect(kVienna, false);
    const double scale = map->zoomScale();
    const MKMapRect unturned = map->visibleMapRect();
    for (const double heading : {40.0, 90.0, 200.0}) {
        SCOPED_TRACE(heading);
        map->setVisibleMapRect(kVienna, false);
        platform::MKMapCamera camera = map->camera();
        camera.heading = heading;
        map->setCamera(camera, false);
        platform::RunLoop::runUntilIdle();
        ASSERT_NEAR(map->heading(), heading, 1e-9);

        RestorationCoder coder;
        controller_->encodeRestorableState(coder);
        const auto saved = coder.decode<PropertyValue::Dictionary>("mapRect");
        ASSERT_TRUE(saved);
        EXPECT_NEAR(saved->at("width").asDouble().value_or(0), unturned.size.width, 1.0);
        EXPECT_NEAR(saved->at("height").asDouble().value_or(0), unturned.size.height, 1.0);

        // The next start, unturned, shows the same region at the same scale.
        camera.heading = 0;
        map->setCamera(camera, false);
        controller_->decodeRestorableState(coder);
        EXPECT_NEAR(map->zoomScale() / scale, 1.0, 0.01);
        expectShows(unturned);
    }
}

TEST_F(MainViewControllerRestorationTest, ARoundTripThroughTheArchiveFileRestoresTheSecondWindow) {
    auto gate = std::make_shared<platform::AppVersionRestorationGate>([] { return std::string("1.0"); });
    // The first window: the user's state at quit.
    showScreen(makeScreen());
    EXPECT_EQ(controller_->restorationIdentifier(), "MainViewController");
    controller_->mapView()->setMapStyle(QuovaBaseMapStyle::openCycleMapRetina);
    controller_->mapView()->setVisibleMapRect(kVienna, false);
    controller_->mapView()->selectAnnotation(QuovaMapPointAnnotation::forPoint(point_), false);
    controller_->searchBar()->setText(QStringLiteral("caf\u00e9"));
    const MKMapRect saved = controller_->mapView()->visibleMapRect();
    {
        platform::RestorationArchive archive;
        archive.setDelegate(gate);
        ASSERT_TRUE(archive.save({controller_}));
    }
    ASSERT_TRUE(
        platform::FileManager::defaultManager().fileExists(platform::RestorationArchive::defaultFilePath()));
    EXPECT_EQ(platform::RestorationArchive::defaultFilePath().rfind(environment_.folder().path(), 0), 0u);

    // The second window, after a relaunch: restored before it loads.
    controller_.reset();
    fixture_ = std::make_unique<tervolo::testsupport::MapScreenFixture>();
    fixture_->locationServices = services_;
    auto screen = makeScreen();
    platform::RestorationArchive archive;
    archive.setDelegate(gate);
    ASSERT_TRUE(archive.restore({screen}));
    showScreen(screen);
    EXPECT_EQ(screen->mapView()->mapStyle(), QuovaBaseMapStyle::openCycleMapRetina);
    expectShows(saved, false);
    EXPECT_TRUE(selectedIs(point_));
    EXPECT_EQ(screen->searchBar()->text(), QStringLiteral("caf\u00e9"));
    EXPECT_FALSE(searchStarted());
}

}  // namespace
}  // namespace tracking_test
