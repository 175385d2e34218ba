#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include <QTest>

#include "SearchUITestSupport.hpp"
#include "mapscreen/MainViewController.hpp"
#include "mapscreen/QuovaMapPointAnnotation.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/PresentationRecorder.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "search/ui/SearchResultCell.hpp"
#include "testsupport/UnwritableFolder.hpp"
#include "testsupport/mapscreen/MapScreenFixture.hpp"

namespace search_ui_test {
namespace {

// The search controller made by the map screen's factory, on the real screen:
// the screen hands over its field, table, spinner and height constraint, the
// map view's centre goes to the backend and into the cells' distances, and a
// chosen result reaches the point operations the composition gives.
TEST(SearchOnMapScreenTest, TheScreenDrivesTheSearchAndItsCentreSortsAndMeasures) {
    ensureApplication();
    tervolo::testsupport::TestEnvironment environment;
    points::QuovaMapPointStore::resetSharedForTesting();
    auto geocoder = tervolo::testsupport::ScriptedGeocoderService::install();
    auto backend = std::make_shared<FakeBackendSearch>();
    std::vector<std::string> operations;

    tervolo::testsupport::MapScreenFixture fixture;
    fixture.withSearchController = false;
    auto services = fixture.services();
    std::shared_ptr<search::QuovaLocationSearchController> controller;
    services.makeSearchController = [&] {
        search::QuovaLocationSearchController::Dependencies dependencies;
        dependencies.makeBackendSearch = [backend] { return backend; };
        dependencies.bestKnownLocation = [] { return std::optional<platform::CLLocation>(); };
        dependencies.pointOperations.emplace();
        dependencies.pointOperations->addPoint = [&](const auto& p) {
            operations.push_back("add " + *p->title());
        };
        dependencies.pointOperations->zoomInOnPoint = [&](const auto& p) {
            operations.push_back("zoom " + *p->title());
        };
        controller = search::QuovaLocationSearchController::make(dependencies);
        return controller;
    };
    auto screen = std::make_shared<tervolo::mapscreen::MainViewController>(services);
    platform::MainWindow window;
    window.setRootViewController(screen);
    window.resize(1280, 800);
    window.show();
    QCoreApplication::processEvents();
    ASSERT_EQ(screen->searchController(), controller);
    ASSERT_NE(screen->mapView(), nullptr);
    const auto center = screen->mapView()->centerCoordinate();

    screen->searchLocationButtonPressed(screen->searchButton());
    environment.advance(1.0);
    platform::RunLoop::runUntilIdle();
    platform::TextField* field = screen->searchBar();
    ASSERT_FALSE(field->isHidden());
    controller->textFieldDidBeginEditing(*field);
    QTest::keyClicks(field, QStringLiteral("abc"));
    environment.advance(0.7);
    platform::RunLoop::runUntilIdle();
    ASSERT_EQ(backend->starts.size(), 1u);
    EXPECT_EQ(backend->starts[0].mapCenter, center);

    backend->reply(
        std::vector<points::QuovaPlacemark>{place("Far", center.latitude + 1, center.longitude),
                                            place("Near", center.latitude + 0.01, center.longitude)},
        true);
    EXPECT_EQ(controller->allResults()[0].title, "Near");
    EXPECT_EQ(screen->searchTableHeight()->constant(), 270);
    screen->searchTable()->layoutRows();
    auto* cell = dynamic_cast<search::SearchResultCell*>(screen->searchTable()->cellForRow({0, 0}));
    ASSERT_NE(cell, nullptr);
    EXPECT_NE(cell->distanceLabel()->text().toStdString().find(" from map center"), std::string::npos);

    controller->didSelectRow(*screen->searchTable(), {0, 1});
    EXPECT_EQ(operations, (std::vector<std::string>{"add Far", "zoom Far"}));
    window.setRootViewController(nullptr);
    tervolo::testsupport::ScriptedGeocoderService::uninstall();
    platform::RunLoop::runUntilIdle();
}

// A map screen that records the point operations asked of it before its own
// run, so the search's wiring shows whatever those do on the map.
class RecordingMapScreen : public tervolo::mapscreen::MainViewController {
  public:
    using MainViewController::MainViewController;
    void addPoint(const std::shared_ptr<points::QuovaMapPoint>& point) override {
        operations.push_back("add " + point->title().value_or("-"));
        MainViewController::addPoint(point);
    }
    void zoomInOnPoint(const std::shared_ptr<points::QuovaMapPoint>& point) override {
        operations.push_back("zoom " + point->title().value_or("-"));
        MainViewController::zoomInOnPoint(point);
    }
    std::vector<std::string> operations;
};

// The factory's controller without hooks works on the screen itself: a
// chosen own point is zoomed to and its annotation selected on the screen's
// map, without a new point; another result is stored and handed to the
// screen's addPoint, then zoomed to; one whose file is refused reaches neither
// and the screen says so; an invalid coordinate reaches neither the store nor
// the screen.
TEST(SearchOnMapScreenTest, ChosenResultsReachTheScreensOwnPointOperations) {
    ensureApplication();
    tervolo::testsupport::TestEnvironment environment;
    points::QuovaMapPointStore::resetSharedForTesting();
    auto geocoder = tervolo::testsupport::ScriptedGeocoderService::install();
    auto backend = std::make_shared<FakeBackendSearch>();

    tervolo::testsupport::MapScreenFixture fixture;
    fixture.withSearchController = false;
    auto services = fixture.services();
    std::shared_ptr<search::QuovaLocationSearchController> controller;
    services.makeSearchController = [&] {
        search::QuovaLocationSearchController::Dependencies dependencies;
        dependencies.makeBackendSearch = [backend] { return backend; };
        dependencies.bestKnownLocation = [] { return std::optional<platform::CLLocation>(); };
        controller = search::QuovaLocationSearchController::make(dependencies);
        return controller;
    };
    auto screen = std::make_shared<RecordingMapScreen>(services);
    platform::MainWindow window;
    window.setRootViewController(screen);
    window.resize(1280, 800);
    window.show();
    QCoreApplication::processEvents();
    ASSERT_EQ(screen->searchController(), controller);
    platform::MKMapViewModel* map = screen->mainMapView();
    ASSERT_NE(map, nullptr);
    const auto center = screen->mapView()->centerCoordinate();

    auto& store = points::QuovaMapPointStore::shared();
    const auto own = storePoint("Harbour office", center.latitude + 0.02, center.longitude);
    const auto ownAnnotation = tervolo::mapscreen::QuovaMapPointAnnotation::forPoint(own);
    map->addAnnotation(ownAnnotation);
    platform::TextField* field = screen->searchBar();
    ASSERT_NE(field, nullptr);
    field->setText(QStringLiteral("harbour"));  // the own point's filter

    const struct Row {
        std::string chosen;
        std::vector<std::string> operations;
        bool ownSelected;
        size_t storedPoints;
        bool unwritable = false;  // the points folder refuses the new point's file
    } rows[] = {
        // Selecting a pin zooms to it too (the map screen's delegate).
        {"Harbour office", {"zoom Harbour office", "zoom Harbour office"}, true, 1},
        {"Harbour museum", {}, false, 1, true},
        {"Harbour museum", {"add Harbour museum", "zoom Harbour museum", "zoom Harbour museum"}, false, 2},
        {"Harbour nowhere", {}, false, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.chosen);
        map->deselectAnnotation(ownAnnotation);
        screen->operations.clear();
        const size_t before = store.points().size();
        controller->backendHandler(
            std::vector<points::QuovaPlacemark>{
                place("Harbour museum", center.latitude + 0.01, center.longitude),
                place("Harbour nowhere", -180, -180)},
            true, std::nullopt);
        const auto& results = controller->allResults();
        const auto chosen = std::find_if(results.begin(), results.end(),
                                         [&](const auto& result) { return result.title == row.chosen; });
        ASSERT_NE(chosen, results.end());
        platform::PresentationRecorder recorder;
        {
            std::optional<tervolo::testsupport::UnwritableFolder> unwritable;
            if (row.unwritable) unwritable.emplace(points::QuovaMapPoint::documentDirectory());
            controller->didSelectRow(*screen->searchTable(), {0, static_cast<int>(chosen - results.begin())});
        }
        const auto alert = recorder.topAlert();
        ASSERT_EQ(alert != nullptr, row.unwritable);
        if (alert) {
            EXPECT_EQ(alert->title(), "Location Not Saved");
            EXPECT_NE(alert->message().find("The new location was not added to the map."), std::string::npos);
            EXPECT_TRUE(recorder.chooseAction("OK"));
        }

        EXPECT_EQ(screen->operations, row.operations);
        const auto selected = map->selectedAnnotations();
        EXPECT_EQ(!selected.empty() && selected.front() == ownAnnotation, row.ownSelected);
        EXPECT_EQ(store.points().size() - before, row.storedPoints - 1);
        EXPECT_TRUE(controller->allResults().empty());
    }
    window.setRootViewController(nullptr);
    tervolo::testsupport::ScriptedGeocoderService::uninstall();
    platform::RunLoop::runUntilIdle();
}

}  // namespace
}  // namespace search_ui_test
