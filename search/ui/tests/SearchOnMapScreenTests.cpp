#include <gtest/gtest.h>

#include <QTest>

#include "SearchUITestSupport.hpp"
#include "mapscreen/MainViewController.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/ui/MainWindow.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "search/ui/SearchResultCell.hpp"
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
        dependencies.pointOperations.addPoint = [&](const auto& p) {
            operations.push_back("add " + *p->title());
        };
        dependencies.pointOperations.zoomInOnPoint = [&](const auto& p) {
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

}  // namespace
}  // namespace search_ui_test
