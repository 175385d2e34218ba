// The map screen as the program composes it (makeMapScreen), driven the way a
// person drives it: mouse presses and releases and keys delivered to the
// window at the widgets' places on screen. Searching and choosing a result,
// the toolbar's search field, the add-location button, and presses on the
// controls over the map.

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QTest>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/Program.hpp"
#include "mapscreen/MainViewController.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/location/CLLocation.hpp"
#include "platform/location/GeocoderService.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/TableView.hpp"
#include "platform/ui/TableViewCell.hpp"
#include "platform/ui/TextField.hpp"
#include "points/AppTextsAndColors.hpp"
#include "points/QuovaMapPoint.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "search/ui/QuovaLocationSearchController.hpp"
#include "shell/AppKitBridgeBinding.hpp"
#include "testsupport/Eventually.hpp"
#include "testsupport/TestEnvironment.hpp"
#include "testsupport/location/ScriptedGeocoderService.hpp"
#include "testsupport/ui/ScreenshotSupport.hpp"
#include "testsupport/ui/TestApplication.hpp"

#include "app/tests/MapScreenWindow.hpp"

namespace {

namespace fs = std::filesystem;
using tervolo::mapscreen::MainViewController;
using tervolo::points::QuovaMapPoint;
using tervolo::points::QuovaMapPointStore;
using PointPtr = std::shared_ptr<QuovaMapPoint>;

constexpr double kOwnLatitude = 60.1700, kOwnLongitude = 24.9400;
constexpr double kMuseumLatitude = 60.1600, kMuseumLongitude = 24.9550;

// The identifiers of the point files in the documents folder.
std::set<std::string> pointFiles() {
    std::set<std::string> ids;
    const std::string extension = QuovaMapPoint::kFileExtension;
    for (const auto& entry : fs::directory_iterator(QuovaMapPoint::documentDirectory())) {
        const std::string name = entry.path().filename().string();
        if (name.size() > extension.size() && name.ends_with(extension)) {
            ids.insert(name.substr(0, name.size() - extension.size()));
        }
    }
    return ids;
}

PointPtr storedPoint(const std::string& uuid) {
    for (const auto& point : QuovaMapPointStore::shared().allPoints()) {
        if (point && point->uuid() == uuid) return point;
    }
    return nullptr;
}

double metres(platform::CLLocationCoordinate2D a, platform::CLLocationCoordinate2D b) {
    return platform::CLLocation(a.latitude, a.longitude).distance(platform::CLLocation(b.latitude, b.longitude));
}

// The program's map screen in a shown, active window, with one stored point
// of the user's ("Harbour office") and a geocoder that finds "Harbour museum"
// for "Harbour". Everything else the program asks goes to names that fail at
// once (the hosts' defaults).
class MapScreenInput : public ::testing::Test {
  protected:
    void SetUp() override {
        tervolo::testsupport::sharedTestApplication("tervolo_app_tests");
        QuovaMapPointStore::resetSharedForTesting();
        geocoder_ = tervolo::testsupport::ScriptedGeocoderService::install();
        geocoder_->answerText(
            "Harbour", {{tervolo::testsupport::makePlacemark("Harbour museum", kMuseumLatitude, kMuseumLongitude,
                                                             "Pier 3", "Helsinki", "Finland")}});
        auto& store = QuovaMapPointStore::shared();
        own_ = QuovaMapPoint::make(std::string("Harbour office"));
        own_->setCoordinate({kOwnLatitude, kOwnLongitude});
        ASSERT_TRUE(own_->save(store));
        store.addPoint(own_);
    }

    void TearDown() override {
        shown_.close();
        tervolo::testsupport::ScriptedGeocoderService::uninstall();
        tervolo::shell::resetAppKitBridgeForTesting();
    }

    void open() {
        ASSERT_NO_FATAL_FAILURE(shown_.open());
        settle();
        ASSERT_NE(screen_->mapView(), nullptr);
    }

    // Timers and animations run on the virtual clock.
    void settle(double seconds = 1.0) {
        environment_.advance(seconds);
        platform::RunLoop::runUntilIdle();
        QCoreApplication::processEvents();
        platform::RunLoop::runUntilIdle();
    }

    QWindow* handle() const { return window_->windowHandle(); }
    QPoint at(QWidget* widget, QPointF local) const { return widget->mapTo(window_.get(), local.toPoint()); }
    void press(QWidget* widget, QPointF local) {
        QTest::mousePress(handle(), Qt::LeftButton, Qt::NoModifier, at(widget, local));
    }
    void release(QWidget* widget, QPointF local) {
        QTest::mouseRelease(handle(), Qt::LeftButton, Qt::NoModifier, at(widget, local));
    }
    void click(QWidget* widget, QPointF local) {
        press(widget, local);
        release(widget, local);
        settle(0.1);
    }
    void click(QWidget* widget) { click(widget, QRectF(widget->rect()).center()); }
    void type(const std::string& text) {
        for (char c : text) QTest::keyClick(handle(), c);
    }
    void key(Qt::Key which) {
        QTest::keyClick(handle(), which);
        settle(0.1);
    }

    tervolo::search::QuovaLocationSearchController& search() const {
        return *std::dynamic_pointer_cast<tervolo::search::QuovaLocationSearchController>(screen_->searchController());
    }

    // Waits for the "Harbour" results: the user's own points and the geocoder's place.
    bool resultsListed() {
        return tervolo::testsupport::eventually([&] {
            platform::RunLoop::runUntilIdle();
            QCoreApplication::processEvents();
            return search().allResults().size() >= 2 && !screen_->searchTable()->isHidden() &&
                   screen_->searchTableHeight()->constant() > 0;
        });
    }

    // The magnifier opens the field, a click puts the caret in it, and the
    // user types; the search starts when typing pauses.
    void searchOnScreen(const std::string& text) {
        click(screen_->searchButton());
        ASSERT_FALSE(screen_->searchBar()->isHidden());
        click(screen_->searchBar());
        ASSERT_TRUE(screen_->searchBar()->hasFocus());
        type(text);
        settle(0.7);
        ASSERT_TRUE(resultsListed());
    }

    // The row of the geocoder's result (`own` false) or of the user's own point with `title`.
    int rowOf(const std::string& title, bool own) const {
        const auto& results = search().allResults();
        const auto found = std::find_if(results.begin(), results.end(), [&](const auto& result) {
            return result.title == title && (result.datasource == tervolo::points::localDataSourceName()) == own;
        });
        return found == results.end() ? -1 : static_cast<int>(found - results.begin());
    }

    // The middle of a row of the result table, in its viewport.
    QPointF rowCentre(int row) const {
        platform::TableView* table = screen_->searchTable();
        table->layoutRows();
        return table->rectForRow({0, row}).center() - QPointF(0, table->contentOffset());
    }

    std::optional<std::string> selectedTitle() const {
        const auto selected = screen_->mainMapView()->selectedAnnotations();
        if (selected.empty() || !selected.front()) return std::nullopt;
        return selected.front()->title();
    }

    bool mapShows(const std::string& title) const {
        for (const auto& annotation : screen_->mainMapView()->annotations()) {
            if (annotation && annotation->title() == title) return true;
        }
        return false;
    }

    // After a choice: the list is gone for good (no new search started by
    // the focus coming back to the field), and the map has the keyboard.
    void expectSearchLeft(size_t geocoderRequestsBefore) {
        settle(1.0);
        EXPECT_TRUE(screen_->searchTable()->isHidden());
        EXPECT_TRUE(search().allResults().empty());
        EXPECT_FALSE(screen_->searchBar()->hasFocus());
        EXPECT_TRUE(screen_->mapView()->hasFocus());
        EXPECT_EQ(geocoder_->requests().size(), geocoderRequestsBefore) << "the search ran again";
    }

    tervolo::testsupport::TestEnvironment environment_;
    std::shared_ptr<tervolo::testsupport::ScriptedGeocoderService> geocoder_;
    PointPtr own_;
    tervolo::app::tests::MapScreenWindow shown_;
    std::unique_ptr<platform::MainWindow>& window_ = shown_.window;
    std::shared_ptr<MainViewController>& screen_ = shown_.screen;
};

// A click, a slow click and a double click on a result row each choose it:
// the user's own point is zoomed to and selected, nothing new is stored;
// another place is stored as a point (its file written), shown on the map,
// selected and zoomed to. Each time the search is opened again by a click
// into the field, which searches for its text anew.
TEST_F(MapScreenInput, AChosenResultRowActsOnTheMap) {
    open();
    searchOnScreen("Harbour");
    enum class Gesture { click, slowClick, doubleClick };
    const struct Case {
        const char* name;
        Gesture gesture;
        const char* chosen;
        bool stores;
    } cases[] = {
        {"click on a place", Gesture::click, "Harbour museum", true},
        {"slow click on the own point", Gesture::slowClick, "Harbour office", false},
        {"double click on a place", Gesture::doubleClick, "Harbour museum", true},
        {"click on the own point", Gesture::click, "Harbour office", false},
        {"slow click on a place", Gesture::slowClick, "Harbour museum", true},
        {"double click on the own point", Gesture::doubleClick, "Harbour office", false},
    };
    bool first = true;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!first) {
            click(screen_->searchBar());
            settle(0.7);
            ASSERT_TRUE(resultsListed());
        }
        first = false;
        const int row = rowOf(c.chosen, !c.stores);
        ASSERT_GE(row, 0);
        const auto filesBefore = pointFiles();
        const size_t requestsBefore = geocoder_->requests().size();
        QWidget* viewport = screen_->searchTable()->viewport();
        const QPointF where = rowCentre(row);
        switch (c.gesture) {
            case Gesture::click:
                press(viewport, where);
                release(viewport, where);
                break;
            case Gesture::slowClick:
                press(viewport, where);
                settle(0.8);
                release(viewport, where);
                break;
            case Gesture::doubleClick:
                QTest::mouseDClick(handle(), Qt::LeftButton, Qt::NoModifier, at(viewport, where));
                break;
        }
        settle(1.0);

        const auto filesAfter = pointFiles();
        EXPECT_EQ(selectedTitle(), std::optional<std::string>(c.chosen));
        platform::CLLocationCoordinate2D target{kOwnLatitude, kOwnLongitude};
        if (c.stores) {
            std::vector<std::string> added;
            std::set_difference(filesAfter.begin(), filesAfter.end(), filesBefore.begin(), filesBefore.end(),
                                std::back_inserter(added));
            ASSERT_EQ(added.size(), 1u);
            const PointPtr stored = storedPoint(added[0]);
            ASSERT_NE(stored, nullptr);
            EXPECT_EQ(stored->title(), std::optional<std::string>(c.chosen));
            EXPECT_TRUE(stored->hasHandcraftedTitle());
            EXPECT_TRUE(mapShows(c.chosen));
            target = {kMuseumLatitude, kMuseumLongitude};
        } else {
            EXPECT_EQ(filesAfter, filesBefore);
        }
        // Zoomed to it: the map's centre is the point, at 10 km across or closer.
        EXPECT_LT(metres(screen_->mapView()->centerCoordinate(), target), 50.0);
        expectSearchLeft(requestsBefore);
    }
}

// The keyboard road: Down from the field highlights the first result and
// moves on, Up goes back (above the first row to the field), the field keeps
// the caret all along; Escape drops the highlight, Return chooses the
// highlighted result as a click does, and Escape without a highlight ends
// the search and gives the map the keyboard.
TEST_F(MapScreenInput, TheKeyboardMovesThroughTheResultsAndChooses) {
    open();
    searchOnScreen("Harbour");
    auto highlighted = [&] { return search().highlightedRow(); };
    platform::TableView* table = screen_->searchTable();
    platform::TextField* field = screen_->searchBar();

    key(Qt::Key_Down);
    EXPECT_EQ(highlighted(), std::optional<int>(0));
    ASSERT_NE(table->cellForRow({0, 0}), nullptr);
    EXPECT_TRUE(table->cellForRow({0, 0})->isSelected());
    EXPECT_TRUE(field->hasFocus());
    key(Qt::Key_Down);
    EXPECT_EQ(highlighted(), std::optional<int>(1));
    key(Qt::Key_Down);
    EXPECT_EQ(highlighted(), std::optional<int>(1)) << "the last row stays";
    key(Qt::Key_Up);
    EXPECT_EQ(highlighted(), std::optional<int>(0));
    key(Qt::Key_Up);
    EXPECT_EQ(highlighted(), std::nullopt);
    key(Qt::Key_Down);
    key(Qt::Key_Escape);
    EXPECT_EQ(highlighted(), std::nullopt);
    EXPECT_FALSE(table->isHidden()) << "the first Escape only leaves the list";
    EXPECT_EQ(search().allResults().size(), 2u);
    EXPECT_TRUE(field->hasFocus());
    EXPECT_EQ(field->text(), QStringLiteral("Harbour"));

    key(Qt::Key_Down);
    key(Qt::Key_Down);
    const std::string chosen = search().allResults()[1].title;
    const bool stores = search().allResults()[1].datasource != tervolo::points::localDataSourceName();
    const auto filesBefore = pointFiles();
    const size_t requestsBefore = geocoder_->requests().size();
    key(Qt::Key_Return);
    settle(1.0);
    EXPECT_EQ(selectedTitle(), std::optional<std::string>(chosen));
    EXPECT_EQ(pointFiles().size(), filesBefore.size() + (stores ? 1u : 0u));
    expectSearchLeft(requestsBefore);

    // Open again, then leave with Escape: no choice, the list closes.
    click(field);
    settle(0.7);
    ASSERT_TRUE(resultsListed());
    const auto filesNow = pointFiles();
    key(Qt::Key_Escape);
    EXPECT_TRUE(table->isHidden());
    EXPECT_FALSE(field->hasFocus());
    EXPECT_TRUE(screen_->mapView()->hasFocus());
    EXPECT_EQ(pointFiles(), filesNow);
}

// The result list with a highlighted row, and the map after that row was
// chosen with Return, in a light and a dark palette at a pixel ratio of 2.
// What the pictures must show is checked as they are taken: the highlighted
// row drawn selected with the list open, then the list gone and the chosen
// result the map's selected pin.
TEST_F(MapScreenInput, Screenshots) {
    for (const bool dark : {false, true}) {
        SCOPED_TRACE(dark ? "dark" : "light");
        const QPalette original = QApplication::palette();
        if (dark) QApplication::setPalette(tervolo::testsupport::darkScreenshotPalette());
        open();
        searchOnScreen("Harbour");
        key(Qt::Key_Down);
        key(Qt::Key_Down);
        auto shoot = [&](const char* name) {
            screen_->mapView()->waitForCells(10000);
            QCoreApplication::processEvents();
            tervolo::testsupport::saveScreenshot(tervolo::testsupport::renderWidget(*window_, 2.0),
                                                 TERVOLO_SCREENSHOT_DIR,
                                                 QStringLiteral("search-%1-%2").arg(name, dark ? "dark" : "light"));
        };
        ASSERT_EQ(search().highlightedRow(), std::optional<int>(1));
        platform::TableView* table = screen_->searchTable();
        ASSERT_NE(table->cellForRow({0, 1}), nullptr);
        EXPECT_TRUE(table->cellForRow({0, 1})->isSelected());
        EXPECT_FALSE(table->isHidden());
        const std::string chosen = search().allResults()[1].title;
        shoot("results");
        key(Qt::Key_Return);
        settle(1.0);
        EXPECT_TRUE(table->isHidden());
        EXPECT_EQ(selectedTitle(), std::optional<std::string>(chosen));
        shoot("chosen");
        // The next look starts from the same store.
        shown_.close();
        QApplication::setPalette(original);
    }
}

// The toolbar's search field (the plug-in's) searches with the screen's
// search: typing there lists the results under the screen's field, and its
// Down and Return choose one, while the caret stays in the toolbar.
TEST_F(MapScreenInput, TheToolbarSearchFieldSearchesAndChooses) {
    ASSERT_TRUE(tervolo::shell::bindAppKitBridge(TERVOLO_BUILT_PLUGINS_DIR));
    open();
    auto* toolbarField = window_->toolbar().findChild<QLineEdit*>("QuovaNSSearchField");
    ASSERT_NE(toolbarField, nullptr);
    ASSERT_TRUE(toolbarField->isVisible());
    click(toolbarField);
    ASSERT_TRUE(toolbarField->hasFocus());
    type("Harbour");
    settle(0.7);
    ASSERT_TRUE(resultsListed());
    EXPECT_EQ(screen_->searchBar()->text(), QStringLiteral("Harbour"));
    EXPECT_TRUE(toolbarField->hasFocus());
    bool searched = false;
    for (const auto& request : geocoder_->requests()) searched = searched || request.text == "Harbour";
    EXPECT_TRUE(searched);

    const int museum = rowOf("Harbour museum", false);
    ASSERT_GE(museum, 0);
    for (int i = 0; i <= museum; ++i) key(Qt::Key_Down);
    EXPECT_EQ(search().highlightedRow(), std::optional<int>(museum));
    const auto filesBefore = pointFiles();
    key(Qt::Key_Return);
    settle(1.0);
    EXPECT_EQ(selectedTitle(), std::optional<std::string>("Harbour museum"));
    EXPECT_EQ(pointFiles().size(), filesBefore.size() + 1);
    EXPECT_TRUE(screen_->searchTable()->isHidden());
}

// The pin with the "+" drops a point at the map's centre: stored (its file
// written), shown, selected, and its address asked of the geocoder.
TEST_F(MapScreenInput, TheAddLocationButtonDropsAPointAtTheCentre) {
    open();
    // Somewhere particular first, as a user would look before adding.
    screen_->mapView()->setCenterCoordinate({60.1650, 24.9500}, false);
    settle();
    const auto centre = screen_->mapView()->centerCoordinate();
    const auto filesBefore = pointFiles();
    QWidget* button = screen_->mapButton(MainViewController::MapButton::add);
    ASSERT_NE(button, nullptr);
    ASSERT_TRUE(button->isVisible());
    click(button);
    settle(1.0);

    const auto filesAfter = pointFiles();
    std::vector<std::string> added;
    std::set_difference(filesAfter.begin(), filesAfter.end(), filesBefore.begin(), filesBefore.end(),
                        std::back_inserter(added));
    ASSERT_EQ(added.size(), 1u);
    const PointPtr point = storedPoint(added[0]);
    ASSERT_NE(point, nullptr);
    EXPECT_LT(metres(point->coordinate(), centre), 1.0);
    EXPECT_EQ(selectedTitle(), point->title());
    bool reverse = false;
    for (const auto& request : geocoder_->requests()) reverse = reverse || request.kind == platform::GeocoderService::Request::Kind::reverse;
    EXPECT_TRUE(reverse) << "the new point's address was never asked for";
}

// Presses on the controls over the map are theirs, held or not: the compass
// turns the map north and drops nothing, the scale bar and the credit line
// drop nothing; on the map itself a click drops nothing and only a press
// held past the long press's time drops a point.
TEST_F(MapScreenInput, OnlyAHeldPressOnTheMapItselfDropsAPoint) {
    open();
    platform::MKMapView* map = screen_->mapView();
    screen_->mapView()->setCenterCoordinate({60.1650, 24.9500}, false);
    settle();
    auto turn = [&] {
        // As a restored camera turns it: the compass shows while it is turned.
        auto camera = map->camera();
        camera.heading = 40;
        map->setCamera(camera, false);
        settle(0.1);
    };
    auto compass = [&]() -> QWidget* { return map->findSubview(QStringLiteral("MKCompassView")); };
    turn();
    ASSERT_NE(compass(), nullptr);
    ASSERT_TRUE(compass()->isVisible());
    QWidget* scale = screen_->scaleView();
    QWidget* credit = screen_->osmCreditLabel();

    const struct Case {
        const char* name;
        std::function<QWidget*()> widget;
        double hold;  // seconds
        size_t points;
        bool turnsNorth;
    } cases[] = {
        {"compass clicked", compass, 0, 0, true},
        {"compass held", compass, 1.5, 0, true},
        {"scale bar held", [&] { return scale; }, 1.5, 0, false},
        {"credit line held", [&] { return credit; }, 1.5, 0, false},
        {"map clicked", [&] { return static_cast<QWidget*>(map); }, 0, 0, false},
        {"map held", [&] { return static_cast<QWidget*>(map); }, 1.5, 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.turnsNorth) turn();
        QWidget* widget = c.widget();
        ASSERT_NE(widget, nullptr);
        ASSERT_TRUE(widget->isVisible());
        // On the map: its middle-left, clear of every control.
        const QPointF where = widget == map ? QPointF(map->width() * 0.3, map->height() * 0.5)
                                            : QRectF(widget->rect()).center();
        const size_t before = pointFiles().size();
        press(widget, where);
        if (c.hold > 0) settle(c.hold);
        release(widget, where);
        settle(1.5);
        EXPECT_EQ(pointFiles().size(), before + c.points);
        if (c.turnsNorth) {
            EXPECT_NEAR(map->camera().heading, 0.0, 1e-9) << "the compass turns the map north";
        }
    }
}

}  // namespace
