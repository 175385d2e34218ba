#pragma once

#include <QSize>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "backend/VersionInfo.hpp"
#include "mapscreen/MainViewController.hpp"
#include "platform/ui/MainWindow.hpp"
#include "testsupport/mapscreen/FakeMapSearchController.hpp"

namespace tervolo::testsupport {

// The map screen built with fakes for everything it is given: the search
// controller (a FakeMapSearchController), the toolbar delegate and plug-in
// hooks (counted; the shell's real ones are not used), the location authorisation, the version check (each
// load waits until the test delivers a document), the program's end (counted), the tile status (set by the
// test), the location service (the test's own), the HUD (recorded), the user's best known location (set by the test) and the point details screens (recorded). Shows the screen as the root of a main
// window like the application does. The fixture must outlive the screens it
// makes. Main thread only; use it with a QApplication (offscreen in tests).
//
// It also records the analytics events the screen sends, and every
// TestEnvironment starts and ends with a fresh point store.
class MapScreenFixture {
  public:
    MapScreenFixture() = default;
    ~MapScreenFixture();
    MapScreenFixture(const MapScreenFixture&) = delete;
    MapScreenFixture& operator=(const MapScreenFixture&) = delete;

    // The services wired to this fixture.
    mapscreen::MainViewController::Services services();
    // A new screen over services(); its view is not loaded yet.
    std::shared_ptr<mapscreen::MainViewController> makeController();
    // A new screen as the root of a new main window of `size` (content area),
    // shown: the view loads and the screen appears.
    std::shared_ptr<mapscreen::MainViewController> showInWindow(QSize size = QSize(1280, 800));
    // The same with a screen the test made (over services()).
    std::shared_ptr<mapscreen::MainViewController> showInWindow(
        std::shared_ptr<mapscreen::MainViewController> controller, QSize size = QSize(1280, 800));
    platform::MainWindow* window() const { return window_.get(); }

    // What the fakes answer.
    bool withSearchController = true;
    platform::CLAuthorizationStatus authorization = platform::CLAuthorizationStatus::authorizedWhenInUse;
    std::optional<std::string> tileStatus;
    bool newerVersion = true;
    platform::TraitCollection::UserInterfaceIdiom idiom = platform::TraitCollection::UserInterfaceIdiom::mac;
    // The location service the screen follows; none: the shared one.
    std::shared_ptr<location::QuovaLocationServices> locationServices;
    // Also shows the HUD flashes it records (screenshots), on the active window.
    bool showHUD = false;
    // The user's best known location the screen reads (none: not known yet).
    std::optional<platform::CLLocation> bestKnownLocation;
    bool withPointDetails = true;

    // What they saw.
    std::shared_ptr<FakeMapSearchController> searchController;  // the last one made
    int versionLoads = 0;
    int terminations = 0;
    int toolbarInstalls = 0;
    int plugInBinds = 0;
    // Each point details screen made (a plain screen standing in for the real
    // one), with the point and the map it was made for.
    struct PointDetails {
        std::shared_ptr<platform::ViewController> screen;
        std::shared_ptr<points::QuovaMapPoint> point;
        std::weak_ptr<mapscreen::MainMapPort> mainVC;
    };
    std::vector<PointDetails> pointDetails;
    // In order, for the load order of the screen: "installToolbarDelegate", "bindPlugIn",
    // "authorizationStatus", "makeSearchController", then "loadVersionInfo" at each appearance.
    std::vector<std::string> steps;
    // The HUD flashes the screen asked for, in order (delay in seconds).
    struct HUDFlash {
        std::string title;
        std::string subtitle;
        double delay = 0;
    };
    std::vector<HUDFlash> hudFlashes;

    // Analytics events the screen recorded, in order: the name, then each
    // property as "key=value" in key order ("pointCount count=3").
    std::vector<std::string> events;

    // Answers every version load still waiting (on the main thread, as the
    // checker does).
    void deliverVersion(const std::optional<backend::AppVersionInfo>& info);
    size_t pendingVersionLoads() const { return pending_.size(); }

  private:
    std::vector<mapscreen::MainViewController::VersionDelivery> pending_;
    std::unique_ptr<platform::MainWindow> window_;
};

// A version document naming version 99.0.0 (build 1).
backend::AppVersionInfo makeVersionInfo(bool forceUpdate, std::string updateURL, std::string fallbackURL);

}  // namespace tervolo::testsupport
