#include "e2e/Phases.hpp"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPaintEvent>
#include <QPdfView>
#include <QPointer>
#include <QPrintDialog>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <QWindow>

#include <nlohmann/json.hpp>

#include <time.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>

#include "app/startup/FirstMapFrameQuit.hpp"
#include "e2e/MemoryFigures.hpp"
#include "e2e/PhaseDriver.hpp"
#include "mapscreen/MainViewController.hpp"
#include "mapscreen/QuovaMKMapView.hpp"
#include "mapscreen/QuovaMapPointAnnotation.hpp"
#include "platform/location/CLLocation.hpp"
#include "platform/mapkit/qt/MKCalloutView.hpp"
#include "platform/searchindex/SearchIndex.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/BarButtonItem.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/NavigationController.hpp"
#include "platform/ui/PrintInteractionController.hpp"
#include "platform/ui/ShareSheetController.hpp"
#include "platform/ui/TableView.hpp"
#include "platform/ui/TableViewCell.hpp"
#include "platform/ui/TextField.hpp"
#include "points/QuovaMapPoint.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/QuovaPointTag.hpp"
#include "points/QuovaPointTagStore.hpp"
#include "pointscreens/PDFPreviewViewController.hpp"
#include "pointscreens/PointDetailsViewController.hpp"
#include "pointscreens/PointTableViewController.hpp"
#include "tiles/QuovaBaseMapStyle.hpp"

namespace tervolo::e2e {

namespace {

namespace fs = std::filesystem;
using PointPtr = std::shared_ptr<points::QuovaMapPoint>;

// Start-up draws the whole world map first; under the sanitizers that takes
// a while. Everything after it answers quickly from the loopback servers.
constexpr double kFirstFrameSeconds = 120;
constexpr double kStepSeconds = 30;

std::string titleOf(const PointPtr& point) {
    return point && point->title() ? *point->title() : "";
}

std::vector<PointPtr> storedPoints() {
    return points::QuovaMapPointStore::shared().allPoints();
}

PointPtr pointTitled(const std::string& title) {
    for (const auto& point : storedPoints()) {
        if (titleOf(point) == title) return point;
    }
    return nullptr;
}

std::set<std::string> storedTitles() {
    std::set<std::string> titles;
    for (const auto& point : storedPoints()) titles.insert(titleOf(point));
    return titles;
}

// The identifiers of the point files in the documents folder.
std::set<std::string> pointFileIdentifiers() {
    std::set<std::string> ids;
    const fs::path folder = points::QuovaMapPoint::documentDirectory();
    const std::string extension = points::QuovaMapPoint::kFileExtension;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > extension.size() && name.ends_with(extension)) {
            ids.insert(name.substr(0, name.size() - extension.size()));
        }
    }
    return ids;
}

std::string pointFileText(const PointPtr& point) {
    if (!point || !point->uuid()) return {};
    std::ifstream in(points::QuovaMapPoint::documentDirectory() + *point->uuid() +
                     points::QuovaMapPoint::kFileExtension);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool mapShowsTitle(mapscreen::QuovaMKMapView* map, const std::string& title) {
    if (map == nullptr) return false;
    for (const auto& annotation : map->annotations()) {
        if (annotation && annotation->title() == title) return true;
    }
    return false;
}

// Every label text under `widget`, joined.
std::string labelTexts(QWidget* widget) {
    std::string text;
    for (auto* label : widget->findChildren<QLabel*>()) text += label->text().toStdString() + "\n";
    return text;
}

// The first visible row of the search table whose texts contain `title`.
std::optional<platform::IndexPath> searchRowShowing(platform::TableView* table, const std::string& title) {
    if (table == nullptr || !table->isVisible()) return std::nullopt;
    for (const auto& path : table->indexPathsForVisibleRows()) {
        if (auto* cell = table->cellForRow(path); cell && labelTexts(cell).find(title) != std::string::npos) {
            return path;
        }
    }
    return std::nullopt;
}

nlohmann::json readFacts(const std::string& runFolder) {
    std::ifstream in(runFolder + "/phase1.json");
    return nlohmann::json::parse(in, nullptr, false);
}

void writeFacts(const std::string& runFolder, const nlohmann::json& facts) {
    std::ofstream(runFolder + "/phase1.json") << facts.dump(2);
}

nlohmann::json mapFacts(mapscreen::QuovaMKMapView* map) {
    const auto rect = map->visibleMapRect();
    const auto style = map->mapStyle();
    return {{"style", style ? tiles::identifier(*style) : ""},
            {"rect", {rect.origin.x, rect.origin.y, rect.size.width, rect.size.height}}};
}

bool sameRect(const nlohmann::json& a, const nlohmann::json& b) {
    if (!a.is_array() || !b.is_array() || a.size() != 4 || b.size() != 4) return false;
    for (size_t i = 0; i < 4; ++i) {
        // Map points; a restored rect may be refitted to the window by a point or two.
        if (std::abs(a[i].get<double>() - b[i].get<double>()) > 2.0 + 1e-6 * std::abs(a[i].get<double>())) {
            return false;
        }
    }
    return true;
}

// Starts the real program once more with `link`, as the desktop does when the
// user opens a link; the running instance (this one) must keep answering
// meanwhile, so the wait turns the event loop.
bool secondStart(PhaseDriver& driver, const PhaseSettings& settings, const std::string& link,
                 const std::string& what) {
    QProcess second;
    second.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
    second.setProcessChannelMode(QProcess::MergedChannels);
    second.start(QString::fromStdString(settings.programPath), {QString::fromStdString(link)});
    if (!driver.waitFor(
            what + "-started",
            [&] { return second.state() == QProcess::Running || second.state() == QProcess::NotRunning; },
            kStepSeconds)) {
        return false;
    }
    const bool ended = driver.waitFor(
        what + "-exit", [&] { return second.state() == QProcess::NotRunning; }, kStepSeconds * 2);
    if (!ended) {
        second.kill();
        second.waitForFinished(5000);
        return false;
    }
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0) << second.readAll().toStdString();
    return second.exitStatus() == QProcess::NormalExit && second.exitCode() == 0;
}

// The screen of type T that the map screen presents, once it has come in and shows.
template <typename T>
std::shared_ptr<T> shownScreen(mapscreen::MainViewController* screen) {
    const auto navigation =
        std::dynamic_pointer_cast<platform::NavigationController>(screen->presentedViewController());
    if (!navigation || navigation->isBeingPresented()) return nullptr;
    auto shown = std::dynamic_pointer_cast<T>(navigation->topViewController());
    if (!shown || !shown->isViewLoaded() || !shown->view()->isVisible()) return nullptr;
    return shown;
}

// The details screen's Done button, once it shows and takes clicks.
QWidget* readyDoneButton(pointscreens::PointDetailsViewController& details) {
    const auto item = details.navigationItem().rightBarButtonItem();
    QWidget* done = item ? item->view() : nullptr;
    return done != nullptr && done->isVisible() && done->isEnabled() ? done : nullptr;
}

// The geocoder's place found by typing its name, chosen with a click on its
// row: stored as a point (its file written), its pin on the map, selected.
void searchAndChoosePlace(const PhaseSettings& settings, PhaseDriver& driver) {
    auto* screen = driver.mapScreen();
    auto* map = driver.map();
    ASSERT_NE(screen, nullptr);
    ASSERT_NE(map, nullptr);
    ASSERT_FALSE(settings.searchPlace.empty());
    // The user comes back to the window (the alerts before took it away).
    if (platform::MainWindow* window = driver.window()) {
        window->activateWindow();
        if (!QTest::qWaitForWindowActive(window, 10000)) ADD_FAILURE() << "the window never became active";
    }
    if (screen->searchBar() == nullptr || !screen->searchBar()->isVisible()) {
        driver.windowClick(screen->searchButton(), screen->searchButton()->rect().center());
    }
    if (!driver.waitFor(
            "place-search-field", [&] { return screen->searchBar() && screen->searchBar()->isVisible(); },
            kStepSeconds)) {
        return;
    }
    // Into the field, everything in it replaced by the place's name. On a
    // busy machine the window may still be taking the activation back from
    // the closed alert when the click comes: the user clicks again.
    QElapsedTimer sinceClick;
    if (!driver.waitFor(
            "place-search-focus",
            [&] {
                if (screen->searchBar()->hasFocus()) return true;
                if (!sinceClick.isValid() || sinceClick.elapsed() > 1000) {
                    if (platform::MainWindow* window = driver.window()) window->activateWindow();
                    driver.windowClick(screen->searchBar(), screen->searchBar()->rect().center());
                    sinceClick.restart();
                }
                return screen->searchBar()->hasFocus();
            },
            kStepSeconds)) {
        return;
    }
    driver.windowKey(Qt::Key_A, Qt::ControlModifier);
    driver.windowType(settings.searchPlace);
    if (!driver.waitFor(
            "search-lists-place",
            [&] { return searchRowShowing(screen->searchTable(), settings.searchPlace).has_value(); },
            kStepSeconds)) {
        return;
    }
    driver.screenshot("search-lists-place");
    const auto filesBefore = pointFileIdentifiers();
    auto* table = screen->searchTable();
    const auto row = *searchRowShowing(table, settings.searchPlace);
    const QPoint where = (table->rectForRow(row).center() - QPointF(0, table->contentOffset())).toPoint();
    driver.windowPress(table->viewport(), where);
    driver.windowRelease(table->viewport(), where);
    PointPtr stored;
    if (!driver.waitFor(
            "search-stores-place",
            [&] {
                stored = pointTitled(settings.searchPlace);
                return stored && stored->uuid() && pointFileIdentifiers().count(*stored->uuid()) == 1 &&
                       mapShowsTitle(map, settings.searchPlace);
            },
            kStepSeconds)) {
        return;
    }
    EXPECT_EQ(pointFileIdentifiers().size(), filesBefore.size() + 1);
    EXPECT_NE(pointFileText(stored).find(settings.searchPlace), std::string::npos);
    if (!driver.waitFor(
            "search-selects-place",
            [&] {
                const auto selected = map->selectedAnnotations();
                return !selected.empty() && selected.front() &&
                       selected.front()->title() == settings.searchPlace;
            },
            kStepSeconds)) {
        return;
    }
    EXPECT_FALSE(table->isVisible()) << "the result list stays after the choice";
    driver.pump(0.5);
    driver.screenshot("search-stores-place");
}

// A click on the compass turns the map north and drops no point, even when
// the long press's time passes after it.
void clickCompass(PhaseDriver& driver) {
    auto* map = driver.map();
    ASSERT_NE(map, nullptr);
    // The compass shows while the map is turned, as following the user's
    // heading turns it.
    auto camera = map->camera();
    camera.heading = 35;
    map->setCamera(camera, false);
    QWidget* compass = nullptr;
    if (!driver.waitFor(
            "compass",
            [&] {
                compass = map->findSubview(QStringLiteral("MKCompassView"));
                return compass != nullptr && compass->isVisible();
            },
            kStepSeconds)) {
        return;
    }
    driver.pump(0.3);
    driver.screenshot("compass");
    const auto filesBefore = pointFileIdentifiers();
    const size_t pointsBefore = storedPoints().size();
    const QPoint centre = compass->rect().center();
    driver.windowPress(compass, centre);
    driver.windowRelease(compass, centre);
    if (!driver.waitFor(
            "compass-turns-north", [&] { return std::abs(map->camera().heading) < 1e-6; }, kStepSeconds)) {
        return;
    }
    // Well past the long press's half second.
    driver.pump(1.5);
    EXPECT_EQ(pointFileIdentifiers(), filesBefore) << "a click on the compass stored a point";
    EXPECT_EQ(storedPoints().size(), pointsBefore);
    driver.screenshot("compass-clicked");
}

// ---- Phase 1: the first run over the seeded folders

void firstRun(const PhaseSettings& settings, PhaseDriver& driver) {
    auto* map = driver.map();
    ASSERT_NE(map, nullptr);
    nlohmann::json facts = nlohmann::json::object();

    // The seeded points and tags are loaded as they were written.
    std::set<std::string> seeded{"Old Market Hall", "Rock Church", "Sea Fortress Ferry"};
    EXPECT_EQ(storedTitles(), seeded);
    std::set<std::string> tagTitles;
    if (const auto& tags = points::QuovaPointTagStore::shared().allTags()) {
        for (const auto& tag : *tags) tagTitles.insert(tag->title());
    }
    EXPECT_EQ(tagTitles, (std::set<std::string>{"Favourites", "Sights"}));
    if (!driver.waitFor(
            "seeded-pins",
            [&] {
                for (const auto& title : seeded) {
                    if (!mapShowsTitle(map, title)) return false;
                }
                return true;
            },
            kStepSeconds)) {
        return;
    }
    driver.screenshot("seeded-pins");

    // The user's dot from the replayed track.
    if (!driver.waitFor(
            "user-location",
            [&] {
                const auto location = map->userLocation()->location();
                return location && location->distance(platform::CLLocation(60.1699, 24.9384)) < 100;
            },
            kStepSeconds)) {
        return;
    }
    driver.pump(0.3);
    driver.screenshot("user-location");

    // A long press makes "New Location", which the reverse geocode retitles.
    const size_t before = storedPoints().size();
    const QPoint where = map->rect().center() + QPoint(140, 90);
    driver.longPress(map, where, 1.2);
    if (!driver.waitFor(
            "long-press-point", [&] { return storedPoints().size() == before + 1; }, kStepSeconds)) {
        return;
    }
    PointPtr made;
    for (const auto& point : storedPoints()) {
        if (titleOf(point) != "Old Market Hall" && titleOf(point) != "Rock Church" &&
            titleOf(point) != "Sea Fortress Ferry") {
            made = point;
        }
    }
    ASSERT_NE(made, nullptr);
    if (!driver.waitFor(
            "reverse-geocoded-title",
            [&] {
                return titleOf(made) == settings.reverseTitle &&
                       pointFileText(made).find(settings.reverseTitle) != std::string::npos;
            },
            kStepSeconds)) {
        return;
    }
    driver.screenshot("long-press-point");
    const PointPtr target = made;
    const std::string targetTitle = titleOf(target);
    facts["targetTitle"] = targetTitle;
    facts["targetLatitude"] = target->coordinate().latitude;
    facts["targetLongitude"] = target->coordinate().longitude;

    // Typing the title in the search field lists the point.
    auto* screen = driver.mapScreen();
    ASSERT_NE(screen, nullptr);
    ASSERT_NE(screen->searchButton(), nullptr);
    driver.click(screen->searchButton(), screen->searchButton()->rect().center());
    if (!driver.waitFor(
            "search-field", [&] { return screen->searchBar() && screen->searchBar()->isVisible(); },
            kStepSeconds)) {
        return;
    }
    // The user clicks into the field, then types.
    driver.click(screen->searchBar(), screen->searchBar()->rect().center());
    if (!driver.waitFor(
            "search-field-focus", [&] { return screen->searchBar()->hasFocus(); }, kStepSeconds)) {
        return;
    }
    QTest::keyClicks(screen->searchBar(), QString::fromStdString(targetTitle));
    if (!driver.waitFor(
            "search-lists-point",
            [&] { return searchRowShowing(screen->searchTable(), targetTitle).has_value(); }, kStepSeconds)) {
        if (auto* table = screen->searchTable()) {
            driver.note("search table: " +
                        std::to_string(table->numberOfSections() > 0 ? table->numberOfRows(0) : 0) +
                        " rows, visible " + std::to_string(table->isVisible()));
            for (const auto& path : table->indexPathsForVisibleRows()) {
                if (auto* cell = table->cellForRow(path)) driver.note("row: " + labelTexts(cell));
            }
        }
        return;
    }
    driver.screenshot("search-lists-point");
    // Choosing the listed row selects the point on the map.
    auto* table = screen->searchTable();
    const auto row = *searchRowShowing(table, targetTitle);
    driver.click(table->viewport(), table->rectForRow(row).center().toPoint());
    if (!driver.waitFor(
            "search-selects-point",
            [&] {
                for (const auto& selected : map->selectedAnnotations()) {
                    if (selected && selected->title() == targetTitle) return true;
                }
                return false;
            },
            kStepSeconds)) {
        return;
    }
    driver.screenshot("search-selects-point");

    // Sharing the point copies the backend's short link: the pin's callout
    // opens the point's details, whose share button brings the share sheet,
    // whose copy puts the link on the clipboard.
    std::string copied;
    {
        QApplication::clipboard()->clear();
        // The pin chosen from the search is selected: its callout shows.
        platform::MKCalloutView* callout = nullptr;
        if (!driver.waitFor(
                "callout",
                [&] {
                    callout = map->calloutView();
                    return callout != nullptr && callout->isVisible() &&
                           callout->title() == QString::fromStdString(targetTitle);
                },
                kStepSeconds)) {
            return;
        }
        // The callout takes its place with the map's next frame.
        driver.pump(0.3);
        driver.screenshot("callout");
        driver.click(callout, QPoint(callout->width() / 2, (callout->height() - 10) / 2));
        std::shared_ptr<pointscreens::PointDetailsViewController> details;
        if (!driver.waitFor(
                "point-details",
                [&] {
                    return (details = shownScreen<pointscreens::PointDetailsViewController>(screen)) !=
                           nullptr;
                },
                kStepSeconds)) {
            return;
        }
        ASSERT_NE(details->point(), nullptr);
        EXPECT_EQ(details->point()->uuid(), target->uuid());
        QWidget* shareButton = nullptr;
        if (!driver.waitFor(
                "details-share-button",
                [&] {
                    shareButton = details->shareButtonItem() ? details->shareButtonItem()->view() : nullptr;
                    return shareButton != nullptr && shareButton->isVisible() && shareButton->isEnabled();
                },
                kStepSeconds)) {
            return;
        }
        driver.screenshot("point-details");
        driver.click(shareButton, shareButton->rect().center());
        std::shared_ptr<platform::ShareSheetController> sheet;
        QPushButton* copy = nullptr;
        if (!driver.waitFor(
                "share-sheet",
                [&] {
                    sheet = std::dynamic_pointer_cast<platform::ShareSheetController>(
                        details->presentedViewController());
                    if (!sheet || !sheet->isViewLoaded() || !sheet->view()->isVisible()) return false;
                    copy = nullptr;
                    for (auto* button : sheet->view()->findChildren<QPushButton*>()) {
                        if (button->text() == "Copy Link") copy = button;
                    }
                    return copy != nullptr && copy->isVisible() && copy->isEnabled();
                },
                kStepSeconds)) {
            return;
        }
        driver.screenshot("share-sheet");
        driver.click(copy, copy->rect().center());
        const std::string prefix = "http://" + settings.shortLinkHost + "/";
        if (!driver.waitFor(
                "short-link-copied",
                [&] { return QApplication::clipboard()->text().toStdString().rfind(prefix, 0) == 0; },
                kStepSeconds)) {
            return;
        }
        copied = QApplication::clipboard()->text().toStdString();
        facts["copiedLink"] = copied;
        // The sheet closes itself (gone from the screen, not only from the
        // chain of presented screens); the details screen closes with its Done button.
        if (!driver.waitFor(
                "share-sheet-closed",
                [&] {
                    return details->presentedViewController() == nullptr &&
                           (!sheet->isViewLoaded() || !sheet->view()->isVisible());
                },
                kStepSeconds)) {
            return;
        }
        QWidget* done = nullptr;
        if (!driver.waitFor(
                "details-done-button", [&] { return (done = readyDoneButton(*details)) != nullptr; },
                kStepSeconds)) {
            return;
        }
        driver.click(done, done->rect().center());
        if (!driver.waitFor(
                "point-details-closed", [&] { return screen->presentedViewController() == nullptr; },
                kStepSeconds)) {
            return;
        }
    }

    // A second start with somebody else's link hands it over; its point appears.
    if (!secondStart(driver, settings, settings.incomingLink, "second-start")) return;
    if (!driver.waitFor(
            "incoming-point", [&] { return pointTitled(settings.incomingTitle) != nullptr; }, kStepSeconds)) {
        return;
    }
    driver.pump(0.3);
    driver.screenshot("incoming-point");

    // The shared point's own link: refused within 25 m, nothing stored.
    const size_t pointsBefore = storedPoints().size();
    const size_t filesBefore = pointFileIdentifiers().size();
    if (!secondStart(driver, settings, copied, "own-link")) return;
    std::shared_ptr<platform::AlertController> alert;
    if (!driver.waitFor(
            "proximity-alert",
            [&] {
                alert =
                    std::dynamic_pointer_cast<platform::AlertController>(screen->presentedViewController());
                return alert != nullptr && alert->isViewLoaded() && alert->view()->isVisible();
            },
            kStepSeconds)) {
        return;
    }
    // The screenshot once the alert has faded in.
    driver.pump(0.5);
    driver.screenshot("proximity-alert");
    EXPECT_EQ(alert->title(), "Can't store new location");
    EXPECT_EQ(alert->message(), "You already have a location stored right here.");
    EXPECT_EQ(storedPoints().size(), pointsBefore);
    EXPECT_EQ(pointFileIdentifiers().size(), filesBefore);
    // The user waves it away.
    QPushButton* neverMind = nullptr;
    for (auto* button : alert->view()->findChildren<QPushButton*>()) {
        if (button->text() == "Never Mind") neverMind = button;
    }
    ASSERT_NE(neverMind, nullptr);
    driver.click(neverMind, neverMind->rect().center());
    if (!driver.waitFor(
            "proximity-alert-closed", [&] { return screen->presentedViewController() == nullptr; },
            kStepSeconds)) {
        return;
    }
    EXPECT_EQ(storedPoints().size(), pointsBefore);

    searchAndChoosePlace(settings, driver);
    if (::testing::Test::HasFatalFailure()) return;
    clickCompass(driver);
    if (::testing::Test::HasFatalFailure()) return;

    // The user zooms in once: the region the next start should open on.
    QWidget* zoomIn = screen->zoomInButton();
    ASSERT_NE(zoomIn, nullptr);
    driver.click(zoomIn, zoomIn->rect().center());
    driver.pump(0.8);
    driver.screenshot("before-close");
    facts["map"] = mapFacts(map);
    facts["storedPoints"] = storedPoints().size();
    writeFacts(settings.runFolder, facts);
}

// ---- Phase 2: the restart over what phase 1 left

void restart(const PhaseSettings& settings, PhaseDriver& driver) {
    auto* map = driver.map();
    ASSERT_NE(map, nullptr);
    const nlohmann::json facts = readFacts(settings.runFolder);
    ASSERT_TRUE(facts.is_object()) << "phase 1 left no facts";

    // The map opens with the last style and region.
    const auto now = mapFacts(map);
    EXPECT_EQ(now["style"], facts["map"]["style"]);
    EXPECT_TRUE(sameRect(now["rect"], facts["map"]["rect"]))
        << now["rect"].dump() << " vs " << facts["map"]["rect"].dump();

    // The store holds exactly the files, and the search index every point.
    std::set<std::string> stored;
    for (const auto& point : storedPoints()) {
        if (point->uuid()) stored.insert(*point->uuid());
    }
    EXPECT_EQ(stored, pointFileIdentifiers());
    EXPECT_EQ(storedPoints().size(), facts["storedPoints"].get<size_t>());
    EXPECT_TRUE(pointTitled(facts["targetTitle"].get<std::string>()) != nullptr);
    auto indexed = [&] {
        std::set<std::string> ids;
        for (const auto& item : platform::SearchIndex::defaultSearchableIndex().allItems()) {
            ids.insert(item.uniqueIdentifier);
        }
        return std::includes(ids.begin(), ids.end(), stored.begin(), stored.end());
    };
    if (!driver.waitFor("search-index", indexed, kStepSeconds)) return;
    driver.screenshot("restarted");
}

// ---- Phase 3: the same folders under another application version

void otherVersion(const PhaseSettings& settings, PhaseDriver& driver) {
    auto* map = driver.map();
    ASSERT_NE(map, nullptr);
    const nlohmann::json facts = readFacts(settings.runFolder);
    ASSERT_TRUE(facts.is_object()) << "phase 1 left no facts";
    // Nothing is restored under another version.
    const auto now = mapFacts(map);
    EXPECT_EQ(now["style"], tiles::identifier(tiles::QuovaBaseMapStyle::osm));
    EXPECT_FALSE(sameRect(now["rect"], facts["map"]["rect"])) << "the region of another version came back";
    EXPECT_EQ(storedPoints().size(), facts["storedPoints"].get<size_t>());
    driver.screenshot("other-version");
}

// ---- Phase 4: the point list's roads, through the mouse and the keys

std::shared_ptr<pointscreens::PointTableViewController> shownList(mapscreen::MainViewController* screen) {
    auto list = shownScreen<pointscreens::PointTableViewController>(screen);
    return list && list->tableView() ? list : nullptr;
}

std::shared_ptr<pointscreens::PointTableViewController> openPointList(PhaseDriver& driver,
                                                                      mapscreen::MainViewController* screen,
                                                                      const std::string& what) {
    QWidget* points = screen->mapButton(mapscreen::MainViewController::MapButton::points);
    if (points == nullptr) return nullptr;
    driver.windowClick(points, points->rect().center());
    std::shared_ptr<pointscreens::PointTableViewController> list;
    if (!driver.waitFor(
            what, [&] { return (list = shownList(screen)) != nullptr; }, kStepSeconds))
        return nullptr;
    list->tableView()->layoutRows();
    return list;
}

// The row of `title` in view, clicked where it shows.
bool clickListRow(PhaseDriver& driver, pointscreens::PointTableViewController& list,
                  const std::string& title) {
    const auto point = pointTitled(title);
    const auto path = point ? list.content().indexPathOfPoint(point) : std::nullopt;
    if (!path) {
        ADD_FAILURE() << title << " is not in the list";
        return false;
    }
    platform::TableView* table = list.tableView();
    table->scrollToRow(*path, platform::TableView::ScrollPosition::Middle);
    table->layoutRows();
    const QPoint centre = table->rectForRow(*path).translated(0, -table->contentOffset()).center().toPoint();
    driver.windowClick(table->viewport(), centre);
    return true;
}

bool pinShown(mapscreen::QuovaMKMapView* map, const PointPtr& point) {
    const auto annotation = mapscreen::QuovaMapPointAnnotation::forPoint(point);
    for (const auto& shown : map->annotations()) {
        if (shown == annotation) return true;
    }
    return false;
}

// Whether the program's map screen is up with a seeded point's pin on its map, where the phases that
// go on from the first run's map begin.
bool seededPinsShown(PhaseDriver& driver) {
    auto* map = driver.map();
    EXPECT_NE(map, nullptr);
    EXPECT_NE(driver.mapScreen(), nullptr);
    return map != nullptr && driver.mapScreen() != nullptr &&
           driver.waitFor(
               "seeded-pins", [&] { return mapShowsTitle(map, "Rock Church"); }, kStepSeconds);
}

void pointListRoads(const PhaseSettings& settings, PhaseDriver& driver) {
    if (!seededPinsShown(driver)) return;
    auto* map = driver.map();
    auto* screen = driver.mapScreen();

    // List, choose: the map zooms to the point and selects it.
    auto list = openPointList(driver, screen, "point-list");
    if (!list) return;
    driver.screenshot("point-list");
    const double worldWidth = map->visibleMapRect().size.width;
    if (!clickListRow(driver, *list, "Rock Church")) return;
    if (!driver.waitFor(
            "list-choice-zooms",
            [&] {
                bool selected = false;
                for (const auto& annotation : map->selectedAnnotations())
                    selected = selected || (annotation && annotation->title() == "Rock Church");
                const auto centre = map->centerCoordinate();
                return selected && screen->presentedViewController() == nullptr &&
                       map->visibleMapRect().size.width < worldWidth / 100 &&
                       std::abs(centre.latitude - 60.1731) < 0.01 &&
                       std::abs(centre.longitude - 24.9253) < 0.01;
            },
            kStepSeconds)) {
        return;
    }
    driver.pump(0.3);
    driver.screenshot("list-choice-zoomed");

    // Delete with the keys (highlight, Delete, confirm), then undelete with the mouse.
    const auto market = pointTitled("Old Market Hall");
    ASSERT_NE(market, nullptr);
    list = openPointList(driver, screen, "point-list-again");
    if (!list) return;
    const auto marketRow = list->content().indexPathOfPoint(market);
    ASSERT_TRUE(marketRow);
    for (int step = 0; step < 20 && list->tableView()->indexPathForSelectedRow() != marketRow; ++step)
        driver.windowKey(Qt::Key_Down);
    ASSERT_EQ(list->tableView()->indexPathForSelectedRow(), marketRow);
    ASSERT_EQ(shownList(screen), list) << "moving the highlight closed the list";
    driver.windowKey(Qt::Key_Delete);
    QMenu* confirmation = nullptr;
    if (!driver.waitFor(
            "delete-confirmation",
            [&] {
                return (confirmation = qobject_cast<QMenu*>(QApplication::activePopupWidget())) != nullptr;
            },
            kStepSeconds)) {
        return;
    }
    driver.screenshot("delete-confirmation");
    QTest::keyClick(confirmation->windowHandle(), Qt::Key_Return);
    if (!driver.waitFor(
            "deleted",
            [&] {
                return market->deletedAt() && pointFileText(market).find("deletedAt") != std::string::npos &&
                       !pinShown(map, market);
            },
            kStepSeconds)) {
        return;
    }
    list->tableView()->layoutRows();
    if (!clickListRow(driver, *list, "Old Market Hall")) return;
    std::shared_ptr<platform::AlertController> alert;
    QPushButton* undelete = nullptr;
    if (!driver.waitFor(
            "undelete-alert",
            [&] {
                alert = std::dynamic_pointer_cast<platform::AlertController>(screen->topMostViewController());
                if (!alert || !alert->isViewLoaded() || !alert->view()->isVisible()) return false;
                for (auto* button : alert->view()->findChildren<QPushButton*>()) {
                    if (button->text() == "Undelete") undelete = button;
                }
                return undelete != nullptr;
            },
            kStepSeconds)) {
        return;
    }
    driver.pump(0.5);
    driver.screenshot("undelete-alert");
    driver.windowClick(undelete, undelete->rect().center());
    if (!driver.waitFor(
            "undeleted",
            [&] {
                return !market->deletedAt() && pointFileText(market).find("deletedAt") == std::string::npos &&
                       pinShown(map, market) && screen->presentedViewController() == nullptr;
            },
            kStepSeconds)) {
        return;
    }
    driver.pump(0.3);
    driver.screenshot("undeleted");

    // The preview's Print brings the print dialog; printed to a file, the
    // document holds the list.
    list = openPointList(driver, screen, "point-list-print");
    if (!list) return;
    driver.windowClick(list->printButton(), list->printButton()->rect().center());
    std::shared_ptr<pointscreens::PDFPreviewViewController> preview;
    QWidget* print = nullptr;
    if (!driver.waitFor(
            "pdf-preview",
            [&] {
                const auto navigation = std::dynamic_pointer_cast<platform::NavigationController>(
                    list->presentedViewController());
                preview = navigation ? std::dynamic_pointer_cast<pointscreens::PDFPreviewViewController>(
                                           navigation->topViewController())
                                     : nullptr;
                print = preview && preview->printButton() ? preview->printButton()->view() : nullptr;
                return print != nullptr && print->isVisible() && !navigation->isBeingPresented();
            },
            kStepSeconds)) {
        return;
    }
    driver.pump(0.5);
    driver.screenshot("pdf-preview");
    driver.windowClick(print, print->rect().center());
    QPrintDialog* dialog = nullptr;
    if (!driver.waitFor(
            "print-dialog",
            [&] {
                const auto interaction = preview->lastPrintInteraction();
                dialog = interaction ? qobject_cast<QPrintDialog*>(interaction->dialog()) : nullptr;
                return dialog != nullptr && dialog->isVisible();
            },
            kStepSeconds)) {
        return;
    }
    ASSERT_TRUE(preview->isViewLoaded() && preview->view()->isVisible()) << "Print closed the preview";
    auto* printers = dialog->findChild<QComboBox*>("printers");
    auto* fileName = dialog->findChild<QLineEdit*>("filename");
    ASSERT_NE(printers, nullptr);
    ASSERT_NE(fileName, nullptr);
    // The printer list: to its file entry with the keys.
    driver.windowClick(printers, printers->rect().center());
    if (QWidget* popup = QApplication::activePopupWidget())
        QTest::keyClick(popup->windowHandle(), Qt::Key_Escape);
    driver.pump(0.1);
    for (int step = 0; step < 10 && !printers->currentText().contains("File"); ++step) {
        QTest::keyClick(dialog->windowHandle(), Qt::Key_Down);
        driver.pump(0.05);
    }
    ASSERT_TRUE(printers->currentText().contains("File")) << printers->currentText().toStdString();
    const std::string output = settings.runFolder + "/printed.pdf";
    driver.windowClick(fileName, fileName->rect().center());
    QTest::keyClick(dialog->windowHandle(), Qt::Key_A, Qt::ControlModifier);
    for (const char c : output) QTest::keyClick(dialog->windowHandle(), c);
    driver.pump(0.1);
    driver.screenshot("print-dialog");
    QPushButton* printButton = nullptr;
    for (auto* button : dialog->findChildren<QPushButton*>()) {
        if (button->text().remove('&') == "Print") printButton = button;
    }
    ASSERT_NE(printButton, nullptr);
    const QPointer<QPrintDialog> shownDialog = dialog;
    driver.windowClick(printButton, printButton->rect().center());
    if (!driver.waitFor(
            "printed", [&] { return !shownDialog && fs::exists(output) && fs::file_size(output) > 0; },
            kStepSeconds)) {
        return;
    }
    QProcess text;
    text.start("pdftotext", {QString::fromStdString(output), "-"});
    ASSERT_TRUE(text.waitForFinished(30000));
    const std::string printed = text.readAllStandardOutput().toStdString();
    EXPECT_NE(printed.find("locations from Tervolo"), std::string::npos) << printed;
    for (const char* title : {"Old Market Hall", "Rock Church", "Sea Fortress Ferry"})
        EXPECT_NE(printed.find(title), std::string::npos) << title << " not printed:\n" << printed;
    EXPECT_EQ(list->presentedViewController() != nullptr, true) << "printing closed the preview";
}

// ---- Phase 5: ordinary use, with the memory it leaves

// Sends `notches` wheel notches (negative: towards the user, zooming out) at `position` in `map`
// through its window, as the window system delivers them.
void wheelOnMap(QWidget* map, QPoint position, int notches) {
    QWindow* window = map->window()->windowHandle();
    const QPointF inWindow = map->mapTo(map->window(), QPointF(position));
    QWheelEvent event(inWindow, window->mapToGlobal(inWindow), QPoint(), QPoint(0, 120 * notches),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(window, &event);
}

// A drag across the map from `from` to `to` (map coordinates), pressed and released apart.
void dragOnMap(PhaseDriver& driver, QWidget* map, QPoint from, QPoint to) {
    QWindow* window = map->window()->windowHandle();
    driver.windowPress(map, from);
    for (int step = 1; step <= 4; ++step) {
        const QPoint at = from + (to - from) * step / 4;
        QTest::mouseMove(window, map->mapTo(map->window(), at));
        QCoreApplication::processEvents();
    }
    driver.windowRelease(map, to);
}

// About a minute of zooming and panning over the world, from the whole world down to streets: each
// round zooms in twelve notches, pans six times, zooms out six notches and pans six times the other
// way, a little further east each round.
void zoomAndPanOverTheWorld(PhaseDriver& driver, QWidget* map, double seconds) {
    const QPoint centre = map->rect().center();
    for (int notch = 0; notch < 40; ++notch) {
        wheelOnMap(map, centre, -1);
        driver.pump(0.02);
    }
    driver.pump(0.5);
    QElapsedTimer elapsed;
    elapsed.start();
    const int w = map->width();
    const int h = map->height();
    for (int round = 0; elapsed.elapsed() < static_cast<qint64>(seconds * 1000); ++round) {
        for (int notch = 0; notch < 12; ++notch) {
            wheelOnMap(map, centre, 1);
            driver.pump(0.25);
        }
        for (int drag = 0; drag < 6; ++drag) {
            dragOnMap(driver, map, {w * 3 / 4, h / 3}, {w / 4, h * 2 / 3});
            driver.pump(0.4);
        }
        for (int notch = 0; notch < 6; ++notch) {
            wheelOnMap(map, centre, -1);
            driver.pump(0.25);
        }
        for (int drag = 0; drag < 6; ++drag) {
            dragOnMap(driver, map, {w / 4 + (round % 3) * w / 8, h * 2 / 3}, {w * 3 / 4, h / 3});
            driver.pump(0.4);
        }
        const double resident = memoryFigures(driver.map()).value("residentBytes", 0.0);
        driver.note("round " + std::to_string(round + 1) + ": resident " +
                    std::to_string(static_cast<int>(resident / (1024 * 1024))) + " MB");
    }
}

// The use the program's memory is measured after: a long press that stores a point, about a minute of
// zooming and panning over the world, the point list, a point's details screen (from the list's
// choice and its callout), and a search that stores a place. The figures at the start and after go to
// "memory.json" in the run's folder and into the output.
void ordinaryUse(const PhaseSettings& settings, PhaseDriver& driver) {
    // Settled: the first frame's cells drawn, the stored points on the map.
    if (!seededPinsShown(driver)) return;
    auto* map = driver.map();
    auto* screen = driver.mapScreen();
    nlohmann::json figures;
    map->waitForCells(10000);
    driver.pump(2.0);
    figures["start"] = memoryFigures(map);
    driver.note("start: " + describeMemoryFigures(figures["start"]));

    // A long press stores a point, which the reverse geocode names.
    const size_t before = storedPoints().size();
    driver.longPress(map, map->rect().center() + QPoint(140, 90), 1.2);
    if (!driver.waitFor(
            "long-press-point", [&] { return storedPoints().size() == before + 1; }, kStepSeconds))
        return;

    zoomAndPanOverTheWorld(driver, map, settings.useSeconds);

    // The list, a point chosen there, its details from its callout.
    auto list = openPointList(driver, screen, "memory-point-list");
    if (!list) return;
    driver.pump(1.0);
    if (!clickListRow(driver, *list, "Rock Church")) return;
    platform::MKCalloutView* callout = nullptr;
    if (!driver.waitFor(
            "memory-callout",
            [&] {
                callout = map->calloutView();
                return screen->presentedViewController() == nullptr && callout != nullptr &&
                       callout->isVisible() && callout->title() == "Rock Church";
            },
            kStepSeconds)) {
        return;
    }
    driver.pump(0.5);
    driver.click(callout, QPoint(callout->width() / 2, (callout->height() - 10) / 2));
    std::shared_ptr<pointscreens::PointDetailsViewController> details;
    if (!driver.waitFor(
            "memory-point-details",
            [&] {
                return (details = shownScreen<pointscreens::PointDetailsViewController>(screen)) != nullptr;
            },
            kStepSeconds)) {
        return;
    }
    driver.pump(1.5);
    QWidget* done = nullptr;
    if (!driver.waitFor(
            "memory-details-done", [&] { return (done = readyDoneButton(*details)) != nullptr; },
            kStepSeconds)) {
        return;
    }
    driver.click(done, done->rect().center());
    if (!driver.waitFor(
            "memory-details-closed", [&] { return screen->presentedViewController() == nullptr; },
            kStepSeconds))
        return;

    // A search for a place, chosen from the results.
    driver.click(screen->searchButton(), screen->searchButton()->rect().center());
    if (!driver.waitFor(
            "memory-search-field", [&] { return screen->searchBar() && screen->searchBar()->isVisible(); },
            kStepSeconds))
        return;
    searchAndChoosePlace(settings, driver);
    if (::testing::Test::HasFatalFailure()) return;

    driver.pump(3.0);
    figures["after"] = memoryFigures(map);
    driver.note("after: " + describeMemoryFigures(figures["after"]));
    std::ofstream(settings.runFolder + "/memory.json") << figures.dump(2);
}

// ---- Phase 6: position fixes with the user's dot in view and out of view

// Adds up what the window's widgets repaint: the area of every paint event's region, in points, for
// the map and for all widgets of the window together.
class RepaintedArea : public QObject {
  public:
    explicit RepaintedArea(QWidget* map) : map_(map) {}
    double mapArea = 0;
    double windowArea = 0;
    int mapPaints = 0;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && watched->isWidgetType() &&
            static_cast<QWidget*>(watched)->window() == map_->window()) {
            double area = 0;
            for (const QRect& rect : static_cast<QPaintEvent*>(event)->region())
                area += static_cast<double>(rect.width()) * rect.height();
            windowArea += area;
            if (watched == map_) {
                mapArea += area;
                ++mapPaints;
            }
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    QWidget* map_;
};

double processCPUSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The program left alone for `seconds`: an event loop that sleeps until its next event, unlike
// PhaseDriver::pump, which polls.
void leaveAlone(double seconds) {
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
}

// One window of fixes: the process's CPU (every thread), the fixes the map took (by their times, a
// second apart) and what was repainted.
nlohmann::json fixWindow(mapscreen::QuovaMKMapView* map, double seconds) {
    RepaintedArea area(map);
    qApp->installEventFilter(&area);
    const auto first = map->userLocation()->location();
    const double cpu = processCPUSeconds();
    QElapsedTimer wall;
    wall.start();
    leaveAlone(seconds);
    const double used = processCPUSeconds() - cpu;
    const double elapsed = static_cast<double>(wall.nsecsElapsed()) * 1e-9;
    qApp->removeEventFilter(&area);
    const auto last = map->userLocation()->location();
    const double fixes =
        first && last ? std::round(last->timestamp().timeIntervalSince(first->timestamp())) : 0;
    return {{"cpuSeconds", used},
            {"wallSeconds", elapsed},
            {"fixes", fixes},
            {"mapArea", area.mapArea},
            {"windowArea", area.windowArea},
            {"mapPaints", area.mapPaints},
            {"mapSize", {map->width(), map->height()}}};
}

// The user walks east a few pixels a second at the zoom the my-location button gives. Each round the
// button brings the dot into view and the program is left alone for a window of fixes; then a drag
// takes the dot out of view and it is left alone for another. The windows' figures go to
// "fixes.json" in the run's folder.
void positionFixes(const PhaseSettings& settings, PhaseDriver& driver) {
    if (!seededPinsShown(driver)) return;
    auto* map = driver.map();
    auto* screen = driver.mapScreen();
    nlohmann::json rounds = nlohmann::json::array();
    for (int round = 0; round < settings.rounds; ++round) {
        QWidget* button = screen->myLocationButton();
        ASSERT_NE(button, nullptr);
        driver.windowClick(button, button->rect().center());
        if (!driver.waitFor(
                "dot-in-view",
                [&] { return map->isUserLocationVisible() && map->region().span.latitudeDelta < 0.01; },
                kStepSeconds))
            return;
        driver.pump(1.0);  // the camera's animation
        map->waitForCells(10000);
        if (round == 0) driver.screenshot("fixes-dot-in-view");
        leaveAlone(2.0);
        nlohmann::json inView = fixWindow(map, settings.useSeconds);
        if (!map->isUserLocationVisible()) ADD_FAILURE() << "the dot walked out of view";

        const int w = map->width();
        const int h = map->height();
        dragOnMap(driver, map, {w * 7 / 8, h / 2}, {w / 8, h / 2});
        if (!driver.waitFor(
                "dot-out-of-view", [&] { return !map->isUserLocationVisible(); }, kStepSeconds))
            return;
        driver.pump(1.0);  // the drag's inertia
        map->waitForCells(10000);
        leaveAlone(2.0);
        nlohmann::json outOfView = fixWindow(map, settings.useSeconds);
        driver.note("round " + std::to_string(round + 1) + ": in view " + inView.dump() + "; out of view " +
                    outOfView.dump());
        rounds.push_back({{"inView", inView}, {"outOfView", outOfView}});
    }
    std::ofstream(settings.runFolder + "/fixes.json") << rounds.dump(2);
}

}  // namespace

void runPhaseSteps(const PhaseSettings& settings, PhaseDriver& driver,
                   const app::FirstMapFrameQuit& firstFrame) {
    if (driver.waitFor(
            "first-map-frame", [&] { return firstFrame.hasFired(); }, kFirstFrameSeconds)) {
        driver.screenshot("first-frame");
        // The user's window is the active one, as on a desktop: the keyboard focus goes to its fields.
        if (platform::MainWindow* window = driver.window()) {
            window->activateWindow();
            if (!QTest::qWaitForWindowActive(window, 10000))
                ADD_FAILURE() << "the window never became active";
        }
        switch (settings.phase) {
            case 1:
                firstRun(settings, driver);
                break;
            case 2:
                restart(settings, driver);
                break;
            case 3:
                otherVersion(settings, driver);
                break;
            case 4:
                pointListRoads(settings, driver);
                break;
            case 5:
                ordinaryUse(settings, driver);
                break;
            case 6:
                positionFixes(settings, driver);
                break;
            default:
                ADD_FAILURE() << "no phase " << settings.phase;
        }
    }
    // Closing the window ends the program as the user does.
    if (platform::MainWindow* window = driver.window()) window->close();
}

}  // namespace tervolo::e2e
