#include "app/Program.hpp"

#include <QApplication>
#include <QScreen>

#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "analytics/ui/TallyQtBridge.hpp"
#include "app/AppDelegate.hpp"
#include "app/CommandLine.hpp"
#include "app/MapScreenAlertPresenter.hpp"
#include "app/incoming/InstanceChannel.hpp"
#include "app/incoming/InstanceServer.hpp"
#include "app/startup/DesktopIdentity.hpp"
#include "app/startup/FirstMapFrameQuit.hpp"
#include "app/startup/VersionOption.hpp"
#include "backend/QuovaIssueDisplayManager.hpp"
#include "backend/QuovaShorturlUploader.hpp"
#include "logging/QLLog.hpp"
#include "logging/QLOSLogger.hpp"
#include "mapscreen/MainViewController.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/location/qt/QtPositionSource.hpp"
#include "platform/mapkit/qt/MKMapView.hpp"
#include "platform/ui/ApplicationMain.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/RestorationArchive.hpp"
#include "platform/ui/ViewController.hpp"
#include "pointscreens/PointDetailsViewController.hpp"
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

}  // namespace

std::shared_ptr<platform::ViewController> makeMapScreen() {
    // The map screen fills its own toolbar, plug-in binding and About screen;
    // the composition adds what lies above it: the location search (which
    // puts a chosen result on the screen through the screen's own point
    // operations) and the point list.
    mapscreen::MainViewController::Services services;
    services.makeSearchController = [] { return search::QuovaLocationSearchController::make(); };
    services.makePointList =
        [](std::weak_ptr<mapscreen::MainMapPort> mainVC) -> std::shared_ptr<platform::ViewController> {
        auto list = std::make_shared<pointscreens::PointTableViewController>();
        list->setMainViewController(std::move(mainVC));
        return list;
    };
    services.makePointDetails =
        [](const std::shared_ptr<points::QuovaMapPoint>& point,
           std::weak_ptr<mapscreen::MainMapPort> mainVC) -> std::shared_ptr<platform::ViewController> {
        auto details = std::make_shared<pointscreens::PointDetailsViewController>(
            std::string(pointscreens::PointDetailsViewController::kViewName));
        details->setPoint(point);
        details->setMainVC(std::move(mainVC));
        return details;
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

QRect firstWindowGeometry(const QRect& available) {
    if (available.isEmpty()) return QRect(QPoint(0, 0), kFirstWindowSize);
    // 1280 × 800 where the screen has room; on a smaller one a tenth of its free area is left
    // around the window, so a window manager's frame and panels leave its bottom (the scale bar,
    // the map's credit) on the screen.
    const QSize room(available.width() * 9 / 10, available.height() * 9 / 10);
    QRect frame(QPoint(0, 0), kFirstWindowSize.boundedTo(room).expandedTo(QSize(1, 1)));
    frame.moveCenter(available.center());
    return frame;
}

void configureMainWindow(platform::MainWindow& window) {
    const std::string name = platform::Bundle::main().infoString("CFBundleName").value_or("TervoloNG");
    window.setWindowTitle(QString::fromStdString(name));
    // Nothing saves the window's frame between runs: every start sizes it to the screen it opens on.
    if (const QScreen* screen = window.screen()) {
        window.setGeometry(firstWindowGeometry(screen->availableGeometry()));
    } else {
        window.resize(kFirstWindowSize);
    }
    // The map opens on the whole world. The screen's restored state, applied
    // after this, replaces it; a stored tracking mode then follows the user.
    if (auto screen = std::dynamic_pointer_cast<mapscreen::MainViewController>(window.rootViewController())) {
        if (platform::MKMapView* map = screen->mapView()) {
            map->setVisibleMapRect(platform::MKMapRectWorld);
            // The desktop answers whether positions may be used only with the
            // first fix, after the screen has loaded: the map shows the user's
            // position from the start rather than after a press of the button.
            map->setShowsUserLocation(true);
        }
    }
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

InstanceStart claimInstance(const CommandLine& line, bool mayListen) {
    InstanceStart start;
    start.socketPath = InstanceChannel::socketPath();
    InstanceChannel::Claim claim;
    claim.error = "no folder for the socket";
    if (!start.socketPath.empty()) {
        claim = InstanceChannel::claim(start.socketPath, InstanceChannel::kAnswerTimeout, mayListen);
    }
    switch (claim.kind) {
        case InstanceChannel::Claim::Kind::absent:
            break;
        case InstanceChannel::Claim::Kind::running:
            start.running = true;
            if (const auto failure = InstanceChannel::handOver(claim.fd, line.links)) {
                std::fprintf(stderr, "TervoloNG: %s\n", failure->c_str());
                start.exitStatus = 1;
            } else {
                start.exitStatus = 0;
            }
            break;
        case InstanceChannel::Claim::Kind::first:
            start.listeningFd = claim.fd;
            break;
        case InstanceChannel::Claim::Kind::undecided:
            // A window now might be a second one on the same data, both
            // saving over each other's points and state.
            std::fprintf(stderr,
                         "TervoloNG: not starting: %s, so it cannot be told whether TervoloNG already runs "
                         "on this data, and a second window on the same data is never opened. Try again once "
                         "that start has ended.\n",
                         claim.error.c_str());
            start.exitStatus = 1;
            break;
        case InstanceChannel::Claim::Kind::failed:
            if (mayListen) {
                std::fprintf(stderr, "TervoloNG: later starts cannot reach this one (%s)\n",
                             claim.error.c_str());
            }
            break;
    }
    return start;
}

platform::ApplicationMainConfiguration programConfiguration(const CommandLine& line,
                                                            const InstanceStart& instance) {
    auto delegate = std::make_shared<AppDelegate>();
    // The links on the command line wait for the launch handler's end.
    delegate->openLinks(line.links);
    auto archive = std::make_shared<platform::RestorationArchive>();

    platform::ApplicationMainConfiguration configuration;
    configuration.desktopFileName = desktopFileName();
    configuration.applicationCreated = [delegate, listeningFd = instance.listeningFd,
                                        socketPath = instance.socketPath](QApplication& application) {
        QApplication::setApplicationName(QStringLiteral("TervoloNG"));
        applyDesktopIdentity();
        FirstMapFrameQuit::installIfRequested();
        installServicePorts();
        if (listeningFd) {
            // Parented to the application: it ends, and removes its socket,
            // with it.
            new InstanceServer(
                *listeningFd, socketPath,
                [weak =
                     std::weak_ptr<AppDelegate>(delegate)](const std::vector<std::string>& links) -> size_t {
                    const auto delegate = weak.lock();
                    if (!delegate) return links.size();
                    const size_t dropped = delegate->openLinks(links);
                    if (platform::MainWindow* window = delegate->window()) {
                        window->show();
                        window->raise();
                        window->activateWindow();
                    }
                    return dropped;
                },
                &application);
        }
    };
    configuration.makeDelegate = [delegate] { return delegate; };
    configuration.makeRootViewController = [] { return makeMapScreen(); };
    configuration.configureWindow = [](platform::MainWindow& window) { configureMainWindow(window); };
    // The state saved by the last run is restored once, after the launch and
    // before the window shows; it is saved whenever the program loses the
    // focus and at the end.
    configuration.willShowWindow = [archive, delegate](platform::MainWindow& window) {
        archive->setDelegate(delegate);
        archive->restore({window.rootViewController()});
        archive->saveOnResignActiveAndQuit();
    };
    configuration.launchOptions = AppDelegate::launchOptions(line.links);
    // Records logged asynchronously before the end still reach the system log.
    configuration.afterRun = [] { logging::QLLog::sharedInstance().flushLog(); };
    return configuration;
}

void startLogging() {
    // Records logged while no logger is installed are dropped: the system log
    // goes in before anything is loaded, or a point file skipped at start-up
    // would vanish without its line. The launch adds the same logger again,
    // which changes nothing.
    logging::QLLog::sharedInstance().addLogger(logging::QLOSLogger::sharedInstance());
}

void configureMemory() {
    // The map's cells are images of 256 KB and more, made on its drawing threads and freed as the
    // cache evicts them. With glibc's sliding threshold every freed one raised the bar for mapping
    // memory of its own, so later cells came from the threads' heaps, which keep what was freed: the
    // resident size grew far past the cache's budget. A fixed threshold gives each such image its own
    // mapping, returned to the system when the image goes.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
}

int runProgram(int argc, char** argv) {
    configureMemory();
    startLogging();
    const CommandLine line = CommandLine::parse(argc, argv);
    // The name the program was called by, for the lines that tell the user
    // what to type.
    const std::string called = argc > 0 && argv[0] != nullptr && *argv[0] != '\0' ? argv[0] : "TervoloNG";
    if (line.unknownOption) {
        std::fputs(CommandLine::unknownOptionText(*line.unknownOption, called).c_str(), stderr);
        return CommandLine::kUsageStatus;
    }
    if (line.help) {
        std::fputs(CommandLine::helpText().c_str(), stdout);
        std::fflush(stdout);
        return 0;
    }
    if (const auto status = answerVersionOption(argc, argv)) return *status;
    if (!displayAvailable()) {
        // Handing links to a running program needs no display (a terminal
        // over ssh, a link handler without a session): only a window does.
        const InstanceStart handed = claimInstance(line, false);
        // Handed over, refused, or not started for a reason already told.
        if (handed.exitStatus) return *handed.exitStatus;
        std::fprintf(stderr,
                     "TervoloNG: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                     "Run it inside a desktop session, or without a screen as:\n"
                     "  QT_QPA_PLATFORM=offscreen %s\n",
                     called.c_str());
        return 1;
    }

    const InstanceStart instance = claimInstance(line);
    if (instance.exitStatus) return *instance.exitStatus;
    int mutableArgc = argc;
    return platform::applicationMain(mutableArgc, argv, programConfiguration(line, instance));
}

}  // namespace tervolo::app
