#include "app/Program.hpp"

#include <QApplication>

#include <any>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "analytics/ui/TallyQtBridge.hpp"
#include "app/AppDelegate.hpp"
#include "app/CommandLine.hpp"
#include "app/MapScreenAlertPresenter.hpp"
#include "app/startup/DesktopIdentity.hpp"
#include "app/startup/FirstMapFrameQuit.hpp"
#include "app/startup/VersionOption.hpp"
#include "backend/QuovaIssueDisplayManager.hpp"
#include "backend/QuovaShorturlUploader.hpp"
#include "logging/QLLog.hpp"
#include "mapscreen/MainViewController.hpp"
#include "platform/dispatch/NotificationCenter.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/location/CLLocation.hpp"
#include "platform/location/qt/QtPositionSource.hpp"
#include "platform/mapkit/qt/MKMapView.hpp"
#include "platform/ui/ApplicationMain.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/ViewController.hpp"
#include "pointscreens/PointTableViewController.hpp"
#include "search/ui/QuovaLocationSearchController.hpp"

namespace tervolo::app {

namespace {

// Qt aborts with a terse message when no display is reachable; tell the user
// what to do instead.
bool displayAvailable() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && *platform != '\0') return true;
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

// Shows the user's position the location services accept on `map`, opening
// on it at the first fix (until the map screen follows the user itself).
std::unique_ptr<platform::NotificationCenter::Token> followUserPosition(QPointer<platform::MKMapView> map) {
    map->setShowsUserLocation(true);
    auto openedOnUser = std::make_shared<bool>(false);
    return platform::NotificationCenter::defaultCenter().addObserver(
        "QuovaLocationUpdate", nullptr,
        [map, openedOnUser](const platform::NotificationCenter::Notification& notification) {
            const auto found = notification.userInfo.find("CLLocation");
            if (found == notification.userInfo.end() || map.isNull()) return;
            const auto* fix = std::any_cast<platform::CLLocation>(&found->second);
            if (fix == nullptr) return;
            map->updateUserLocation(*fix);
            if (!*openedOnUser) {
                *openedOnUser = true;
                map->setRegion(platform::MKCoordinateRegionMakeWithDistance(fix->coordinate(), 20000, 20000));
            }
        });
}

}  // namespace

std::shared_ptr<platform::ViewController> makeMapScreen() {
    // The map screen fills its own toolbar, plug-in binding and About screen;
    // the composition adds what lies above it: the location search and the
    // point list.
    mapscreen::MainViewController::Services services;
    services.makeSearchController = [] { return search::QuovaLocationSearchController::make(); };
    services.makePointList = []() -> std::shared_ptr<platform::ViewController> {
        return std::make_shared<pointscreens::PointTableViewController>();
    };
    return std::make_shared<mapscreen::MainViewController>(std::move(services));
}

std::shared_ptr<platform::ViewController> currentMapScreen() {
    // The first window, in the application's window order, whose root is the map screen.
    for (platform::MainWindow* window : platform::MainWindow::windows()) {
        if (auto root =
                std::dynamic_pointer_cast<mapscreen::MainViewController>(window->rootViewController())) {
            return root;
        }
    }
    return nullptr;
}

std::unique_ptr<platform::NotificationCenter::Token> configureMainWindow(platform::MainWindow& window) {
    const std::string name = platform::Bundle::main().infoString("CFBundleName").value_or("TervoloNG");
    window.setWindowTitle(QString::fromStdString(name));
    window.resize(1280, 800);
    // The map opens on the whole world, then on the user at the first fix.
    if (auto screen = std::dynamic_pointer_cast<mapscreen::MainViewController>(window.rootViewController())) {
        if (platform::MKMapView* map = screen->mapView()) {
            map->setVisibleMapRect(platform::MKMapRectWorld);
            return followUserPosition(map);
        }
    }
    return nullptr;
}

void installServicePorts() {
    // Positions come from the desktop's position service, or from the recorded
    // track that TERVOLO_NMEA_FILE names.
    platform::QtPositionSource::installAsDefault();
    // Shared points get their short links from the backend.
    backend::QuovaShorturlUploader::installInPointStore();
    // A failed secure connection is told to the user on the map screen.
    backend::QuovaIssueDisplayManager::shared().setPresenter(
        std::make_shared<MapScreenAlertPresenter>([] { return currentMapScreen(); }));
    // The analytics client sees the screens and the screen's size through Qt
    // for the whole run (held, never released: the client keeps asking).
    static auto* analyticsBridge =
        new std::shared_ptr<analytics::TallyQtBridge>(analytics::TallyQtBridge::install());
    (void)analyticsBridge;
}

platform::ApplicationMainConfiguration programConfiguration(const CommandLine& line) {
    platform::ApplicationMainConfiguration configuration;
    configuration.desktopFileName = desktopFileName();
    configuration.applicationCreated = [](QApplication&) {
        QApplication::setApplicationName(QStringLiteral("TervoloNG"));
        applyDesktopIdentity();
        FirstMapFrameQuit::installIfRequested();
        installServicePorts();
    };
    configuration.makeDelegate = [] { return std::make_shared<AppDelegate>(); };
    configuration.makeRootViewController = [] { return makeMapScreen(); };
    // The observation lives as long as the configuration's copies do.
    auto userPosition = std::make_shared<std::unique_ptr<platform::NotificationCenter::Token>>();
    configuration.configureWindow = [userPosition](platform::MainWindow& window) {
        *userPosition = configureMainWindow(window);
    };
    configuration.launchOptions = AppDelegate::launchOptions(line.links);
    // Records logged asynchronously before the end still reach the system log.
    configuration.afterRun = [] { logging::QLLog::sharedInstance().flushLog(); };
    return configuration;
}

int runProgram(int argc, char** argv) {
    const CommandLine line = CommandLine::parse(argc, argv);
    if (line.help) {
        std::fputs(CommandLine::helpText().c_str(), stdout);
        std::fflush(stdout);
        return 0;
    }
    if (const auto status = answerVersionOption(argc, argv)) return *status;
    if (!displayAvailable()) {
        std::fprintf(stderr,
                     "TervoloNG: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                     "Run it inside a desktop session, or without a screen as:\n"
                     "  QT_QPA_PLATFORM=offscreen ./TervoloNG\n");
        return 1;
    }

    int mutableArgc = argc;
    return platform::applicationMain(mutableArgc, argv, programConfiguration(line));
}

}  // namespace tervolo::app
