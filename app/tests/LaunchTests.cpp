#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QPalette>
#include <QPixmap>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/AppDelegate.hpp"
#include "app/Program.hpp"
#include "app/startup/FirstMapFrameQuit.hpp"
#include "logging/QLLog.hpp"
#include "platform/foundation/OSLog.hpp"
#include "platform/ui/ApplicationMain.hpp"
#include "platform/ui/MainWindow.hpp"
#include "testsupport/TemporaryFolder.hpp"
#include "testsupport/logging/LogRecorder.hpp"

namespace {

QPalette darkPalette() {
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(0x1e, 0x1e, 0x1e));
    palette.setColor(QPalette::WindowText, QColor(0xe8, 0xe8, 0xe8));
    palette.setColor(QPalette::Base, QColor(0x2b, 0x2b, 0x2b));
    palette.setColor(QPalette::Text, QColor(0xf0, 0xf0, 0xf0));
    palette.setColor(QPalette::Button, QColor(0x35, 0x35, 0x35));
    palette.setColor(QPalette::ButtonText, QColor(0xf0, 0xf0, 0xf0));
    return palette;
}

bool save(QWidget& window, const std::string& name) {
    QDir().mkpath(TERVOLO_SCREENSHOT_DIR);
    return window.grab().toImage().save(
        QString::fromStdString(std::string(TERVOLO_SCREENSHOT_DIR) + "/" + name));
}

// Runs the application main as the program does (the real delegate and the
// map screen), with the system log replaced by a recorder. At the first
// complete map frame the window is photographed and the loop is left; after
// the application main returns, every record logged while it ran must have
// reached the recorder. Ends the process: 0 when all went well.
[[noreturn]] void launchPhotographAndQuit(int scale) {
    tervolo::testsupport::TemporaryFolder home;
    setenv("XDG_DATA_HOME", (home.path() + "/data").c_str(), 1);
    setenv("XDG_CACHE_HOME", (home.path() + "/cache").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home.path() + "/config").c_str(), 1);
    setenv("XDG_STATE_HOME", (home.path() + "/state").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("QT_SCALE_FACTOR", std::to_string(scale).c_str(), 1);
    unsetenv("TERVOLO_QUIT_AFTER_FIRST_FRAME");
    const auto recorder = std::make_shared<tervolo::testsupport::LogRecorder>();
    const std::string suffix = scale == 1 ? "" : "@2x";  // the runs are at 1 and 2
    bool photographed = false;

    platform::ApplicationMainConfiguration configuration;
    platform::MainWindow* shownWindow = nullptr;
    configuration.makeDelegate = [recorder] {
        tervolo::app::AppDelegate::Services services;
        services.addSystemLogger = [recorder] {
            tervolo::logging::QLLog::sharedInstance().addLogger(recorder);
        };
        return std::make_shared<tervolo::app::AppDelegate>(std::move(services));
    };
    configuration.makeRootViewController = [] { return tervolo::app::makeMapScreen(); };
    // Where the program restores its saved state: after the launch handler,
    // while the window is still hidden.
    bool beforeShowing = false;
    configuration.willShowWindow = [&beforeShowing, recorder](platform::MainWindow& window) {
        tervolo::logging::QLLog::sharedInstance().flushLog();
        const auto messages = recorder->messages();
        const bool launched =
            std::find(messages.begin(), messages.end(), "This is a verbose message.") != messages.end();
        beforeShowing = launched && !window.isVisible() && window.rootViewController() != nullptr;
    };
    configuration.configureWindow = [&shownWindow](platform::MainWindow& window) {
        tervolo::app::configureMainWindow(window);
        shownWindow = &window;
    };
    configuration.applicationCreated = [&](QApplication& application) {
        auto* watcher = new tervolo::app::FirstMapFrameQuit(
            [](const std::string&) {},
            [&] {
                if (shownWindow != nullptr) {
                    photographed = save(*shownWindow, "window-after-launch" + suffix + ".png");
                    if (scale == 1) {
                        QApplication::setPalette(darkPalette());
                        // The palette reaches the widgets through posted events.
                        QCoreApplication::processEvents();
                        photographed = save(*shownWindow, "window-after-launch-dark.png") && photographed;
                    }
                }
                QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                          Qt::QueuedConnection);
            },
            &application);
        application.installEventFilter(watcher);
    };
    // Flushing in afterRun is what the program does; without it the
    // asynchronous records logged at the end could still be queued.
    configuration.afterRun = [] { tervolo::logging::QLLog::sharedInstance().flushLog(); };
    int argc = 1;
    char name[] = "tervolo_app_tests";
    char* argv[] = {name, nullptr};
    const int status = platform::applicationMain(argc, argv, std::move(configuration));

    // The handlers' lines in the order they came: launch, activation at the
    // first focus, and at the end the window closing, then the end itself.
    std::vector<std::string> lifecycle;
    bool sawLaunch = false;
    for (const auto& text : recorder->messages()) {
        sawLaunch = sawLaunch || text == "This is a verbose message.";
        if (text.rfind("application", 0) == 0 || text.rfind("macApplication", 0) == 0)
            lifecycle.push_back(text);
    }
    std::string order;
    for (const auto& text : lifecycle) order += text + " ";
    const std::string start = "applicationDidBecomeActive macApplicationDidBecomeActive ";
    const std::string end =
        "applicationWillResignActive applicationDidEnterBackground applicationWillTerminate ";
    const bool lifecycleInOrder = order.size() >= start.size() + end.size() && order.rfind(start, 0) == 0 &&
                                  order.compare(order.size() - end.size(), end.size(), end) == 0;
    std::fprintf(
        stderr,
        "status %d, photographed %d, launch lines %d, before showing %d, lifecycle in order %d (%s)\n",
        status, photographed, sawLaunch, beforeShowing, lifecycleInOrder, order.c_str());
    std::fflush(stderr);
    std::_Exit(status == 0 && photographed && sawLaunch && beforeShowing && lifecycleInOrder ? 0 : 1);
}

// The program itself, from the first line of main, over a data folder whose
// point files do not all decode, with the system log captured in memory:
// each skipped file must reach it with its name (escaped, as any outside
// text) and why. Ends the process: 0 when both lines arrived.
[[noreturn]] void startWithUndecodablePointFiles() {
    tervolo::testsupport::TemporaryFolder home;
    setenv("XDG_DATA_HOME", (home.path() + "/data").c_str(), 1);
    setenv("XDG_CACHE_HOME", (home.path() + "/cache").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home.path() + "/config").c_str(), 1);
    setenv("XDG_STATE_HOME", (home.path() + "/state").c_str(), 1);
    const std::string runtime = home.path() + "/run";
    mkdir(runtime.c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("TERVOLO_QUIT_AFTER_FIRST_FRAME", "1", 1);
    const std::string folder = home.path() + "/data/TervoloNG/points/";
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "cut \"short\".QuovaMapPoint") << R"({"title":"Harbour","coordin)";
    std::ofstream(folder + "undated.QuovaMapPoint")
        << R"({"title":"Pier","coordinate":[9.99,53.55],"uuid":"undated","hasHandcraftedTitle":false})";
    const auto capture = platform::OSLogCapture::install();

    char name[] = "TervoloNG";
    char* argv[] = {name, nullptr};
    const int status = tervolo::app::runProgram(1, argv);
    tervolo::logging::QLLog::sharedInstance().flushLog();

    bool cutShort = false;
    bool undated = false;
    for (const auto& text : capture->texts()) {
        cutShort =
            cutShort ||
            text.rfind("Can't decode file \"" + folder + "cut \\\"short\\\".QuovaMapPoint\": ", 0) == 0;
        undated =
            undated || (text.rfind("Can't decode file \"" + folder + "undated.QuovaMapPoint\": ", 0) == 0 &&
                        text.find("createdAt") != std::string::npos);
    }
    std::fprintf(stderr, "status %d, cut short logged %d, undated logged %d\n", status, cutShort, undated);
    std::fflush(stderr);
    std::_Exit(status == 0 && cutShort && undated ? 0 : 1);
}

TEST(Launch, SkippedPointFilesReachTheSystemLogFromTheStart) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(startWithUndecodablePointFiles(), ::testing::ExitedWithCode(0),
                "status 0, cut short logged 1, undated logged 1");
}

// A process of its own for each run: the application main makes the one
// QApplication of its process.
TEST(Launch, ShowsTheMapScreenAndDeliversEveryRecord) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(launchPhotographAndQuit(1), ::testing::ExitedWithCode(0),
                "status 0, photographed 1, launch lines 1, before showing 1, lifecycle in order 1");
    EXPECT_EXIT(launchPhotographAndQuit(2), ::testing::ExitedWithCode(0),
                "status 0, photographed 1, launch lines 1, before showing 1, lifecycle in order 1");
}

}  // namespace
