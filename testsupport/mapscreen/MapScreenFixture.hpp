#pragma once

#include <QSize>

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
// load waits until the test delivers a document), the program's end (counted) and the tile status (set by the
// test). Shows the screen as the root of a main window like the application does. The fixture must outlive
// the screens it makes. Main thread only; use it with a QApplication (offscreen in tests).
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
    platform::MainWindow* window() const { return window_.get(); }

    // What the fakes answer.
    bool withSearchController = true;
    platform::CLAuthorizationStatus authorization = platform::CLAuthorizationStatus::authorizedWhenInUse;
    std::optional<std::string> tileStatus;
    bool newerVersion = true;
    platform::TraitCollection::UserInterfaceIdiom idiom = platform::TraitCollection::UserInterfaceIdiom::mac;
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
