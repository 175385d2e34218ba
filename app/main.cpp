#include <QApplication>

#include <any>
#include <cstdio>
#include <cstdlib>

#include "app/startup/DesktopIdentity.hpp"
#include "app/startup/FirstMapFrameQuit.hpp"
#include "app/startup/VersionOption.hpp"
#include "backend/QuovaShorturlUploader.hpp"
#include "location/QuovaLocationServices.hpp"
#include "logging/QLLog.hpp"
#include "logging/QLOSLogger.hpp"
#include "mapscreen/MainViewController.hpp"
#include "platform/dispatch/NotificationCenter.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/location/qt/QtPositionSource.hpp"
#include "platform/mapkit/qt/MKMapView.hpp"
#include "platform/ui/ApplicationTermination.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/QtMainQueueExecutor.hpp"
#include "search/ui/QuovaLocationSearchController.hpp"

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

}  // namespace

int main(int argc, char** argv) {
    if (const auto status = tervolo::app::answerVersionOption(argc, argv)) return *status;
    if (!displayAvailable()) {
        std::fprintf(stderr,
                     "TervoloNG: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                     "Run it inside a desktop session, or without a screen as:\n"
                     "  QT_QPA_PLATFORM=offscreen ./TervoloNG\n");
        return 1;
    }
    // Every log line of the program goes to the system log (the journal collects it); this is
    // the only logger the application installs, at every level.
    tervolo::logging::QLLog::sharedInstance().addLogger(tervolo::logging::QLOSLogger::sharedInstance());

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("TervoloNG"));
    tervolo::app::applyDesktopIdentity();
    tervolo::app::FirstMapFrameQuit::installIfRequested();
    // Main-queue blocks and delays run on the Qt event loop from here on.
    const auto mainQueueExecutor = platform::QtMainQueueExecutor::install();
    // The log registry (and anything else that saves on it) flushes when told
    // the application is about to end.
    platform::postWillTerminateWhenQuitting(application);
    // Positions come from the desktop's position service, or from the recorded track that
    // TERVOLO_NMEA_FILE names.
    platform::QtPositionSource::installAsDefault();
    // Shared points get their short links from the backend.
    tervolo::backend::QuovaShorturlUploader::installInPointStore();

    platform::MainWindow window;
    const std::string name = platform::Bundle::main().infoString("CFBundleName").value_or("TervoloNG");
    window.setWindowTitle(QString::fromStdString(name));
    window.resize(1280, 800);
    // The map screen is the window's root for the whole run; its map opens on the whole world.
    tervolo::mapscreen::MainViewController::Services services;
    // The location search lies above the map screen, which makes it through this factory. The
    // screen's point operations reach it once the points are on the map.
    services.makeSearchController = [] { return tervolo::search::QuovaLocationSearchController::make(); };
    auto screen = std::make_shared<tervolo::mapscreen::MainViewController>(std::move(services));
    window.setRootViewController(screen);
    platform::MKMapView* map = screen->mapView();
    map->setVisibleMapRect(platform::MKMapRectWorld);
    // The location services run while the window is open, and the map shows the user's position
    // they accept, opening on it at the first fix (the map screen will take this over).
    auto& locationServices = tervolo::location::QuovaLocationServices::shared();
    bool openedOnUser = false;
    const auto userPosition = platform::NotificationCenter::defaultCenter().addObserver(
        "QuovaLocationUpdate", nullptr,
        [map, &openedOnUser](const platform::NotificationCenter::Notification& notification) {
            const auto found = notification.userInfo.find("CLLocation");
            if (found == notification.userInfo.end()) return;
            const auto* fix = std::any_cast<platform::CLLocation>(&found->second);
            if (fix == nullptr) return;
            map->updateUserLocation(*fix);
            if (!openedOnUser) {
                openedOnUser = true;
                map->setRegion(platform::MKCoordinateRegionMakeWithDistance(fix->coordinate(), 20000, 20000));
            }
        });
    map->setShowsUserLocation(true);
    locationServices.initLocationServices();
    locationServices.locationFullSpeedAhead();
    window.show();
    const int status = QApplication::exec();
    // Blocks queued after the loop ended must not be posted to a dying application.
    platform::setMainQueueExecutor(nullptr);
    // Records logged asynchronously before quitting still reach the system log.
    tervolo::logging::QLLog::sharedInstance().flushLog();
    return status;
}
