#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTimer>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/CommandLine.hpp"
#include "app/MapScreenAlertPresenter.hpp"
#include "app/Program.hpp"
#include "mapscreen/MainViewController.hpp"
#include "mapscreen/QuovaMapPointAnnotation.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/PresentationRecorder.hpp"
#include "platform/ui/ViewController.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "search/ui/QuovaLocationSearchController.hpp"
#include "testsupport/TemporaryFolder.hpp"
#include "testsupport/TestEnvironment.hpp"

namespace {

QApplication& application() {
    static int argc = 1;
    static char name[] = "tervolo_app_tests";
    static char* argv[] = {name, nullptr};
    // One application object for the whole binary, whichever test asks first.
    static auto* app = QApplication::instance() != nullptr
                           ? static_cast<QApplication*>(QCoreApplication::instance())
                           : new QApplication(argc, argv);
    return *app;
}

// The secure-connection alert goes to the map screen once the window has it:
// none before the window, then the program's map screen (and not another root).
TEST(MapScreenAlertPresenter, PresentsOnTheMapScreenOfTheWindow) {
    application();
    platform::ImmediateAnimationsScope immediate;
    platform::PresentationRecorder recorder;
    tervolo::app::MapScreenAlertPresenter presenter([] { return tervolo::app::currentMapScreen(); });
    EXPECT_FALSE(presenter.hasMapScreen());
    platform::MainWindow other;
    other.setRootViewController(std::make_shared<platform::ViewController>());
    EXPECT_FALSE(presenter.hasMapScreen());
    platform::MainWindow window;
    const auto screen = tervolo::app::makeMapScreen();
    window.setRootViewController(screen);
    window.show();
    ASSERT_TRUE(presenter.hasMapScreen());
    int chosen = 0;
    presenter.presentOnMapScreen({"api.example", "Secure connections fail.", "OK", [&chosen] { ++chosen; }});
    const auto alert = recorder.topAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->title(), "api.example");
    EXPECT_EQ(alert->message(), "Secure connections fail.");
    EXPECT_EQ(recorder.actionTitles(), std::vector<std::string>{"OK"});
    EXPECT_EQ(screen->presentedViewController(), alert);
    EXPECT_TRUE(recorder.entries().back().animated);
    EXPECT_TRUE(recorder.chooseAction("OK"));
    EXPECT_EQ(chosen, 1);
}

// The program's map screen gets a search that works on the screen itself:
// choosing one of the user's own points among the results selects that
// point's annotation on the screen's map, and stores nothing new.
TEST(MakeMapScreen, AChosenOwnPointIsSelectedOnTheScreensMap) {
    application();
    tervolo::testsupport::TestEnvironment environment;
    tervolo::points::QuovaMapPointStore::resetSharedForTesting();
    auto& store = tervolo::points::QuovaMapPointStore::shared();
    platform::MainWindow window;
    const auto screen =
        std::dynamic_pointer_cast<tervolo::mapscreen::MainViewController>(tervolo::app::makeMapScreen());
    ASSERT_NE(screen, nullptr);
    window.setRootViewController(screen);
    window.show();
    const auto search =
        std::dynamic_pointer_cast<tervolo::search::QuovaLocationSearchController>(screen->searchController());
    ASSERT_NE(search, nullptr);
    platform::MKMapViewModel* map = screen->mainMapView();
    ASSERT_NE(map, nullptr);

    auto own = tervolo::points::QuovaMapPoint::make(std::string("Harbour office"));
    own->setCoordinate({60.17, 24.94});
    store.addPoint(own);
    const auto annotation = tervolo::mapscreen::QuovaMapPointAnnotation::forPoint(own);
    map->addAnnotation(annotation);
    screen->searchBar()->setText(QStringLiteral("harbour"));
    tervolo::points::QuovaPlacemark other;
    other.title = "Harbour museum";
    other.latitude = 60.16;
    other.longitude = 24.95;
    search->backendHandler(std::vector<tervolo::points::QuovaPlacemark>{other}, true, std::nullopt);
    const auto& results = search->allResults();
    const auto chosen = std::find_if(results.begin(), results.end(),
                                     [](const auto& result) { return result.title == "Harbour office"; });
    ASSERT_NE(chosen, results.end());
    search->didSelectRow(*screen->searchTable(), {0, static_cast<int>(chosen - results.begin())});

    EXPECT_EQ(map->selectedAnnotations(), std::vector<std::shared_ptr<platform::MKAnnotation>>{annotation});
    EXPECT_EQ(store.points().size(), 1u);
    window.setRootViewController(nullptr);
}

// The command line: --help, --version, links among Qt's own options.
TEST(CommandLine, ParsesHelpVersionAndLinks) {
    const char* argv[] = {"TervoloNG", "-platform", "offscreen", "https://s.example/abcdefgh",
                          "--version", "notalink",  "-h",        "tervolo://x"};
    const auto line = tervolo::app::CommandLine::parse(8, argv);
    EXPECT_TRUE(line.help);
    EXPECT_TRUE(line.version);
    EXPECT_EQ(line.links, (std::vector<std::string>{"https://s.example/abcdefgh", "tervolo://x"}));
    const char* plain[] = {"TervoloNG"};
    const auto none = tervolo::app::CommandLine::parse(1, plain);
    EXPECT_FALSE(none.help || none.version);
    EXPECT_TRUE(none.links.empty());
}

QProcessEnvironment programEnvironment(const std::string& home) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("XDG_DATA_HOME", QString::fromStdString(home + "/data"));
    environment.insert("XDG_CACHE_HOME", QString::fromStdString(home + "/cache"));
    environment.insert("XDG_CONFIG_HOME", QString::fromStdString(home + "/config"));
    environment.insert("XDG_STATE_HOME", QString::fromStdString(home + "/state"));
    return environment;
}

// The real program, started offscreen with the first-frame quit: it launches,
// draws its map, writes the line and ends normally.
TEST(Program, QuitsAfterTheFirstMapFrame) {
    tervolo::testsupport::TemporaryFolder home;
    QProcess program;
    auto environment = programEnvironment(home.path());
    environment.insert("TERVOLO_QUIT_AFTER_FIRST_FRAME", "1");
    program.setProcessEnvironment(environment);
    program.start(TERVOLO_PROGRAM_PATH, {"https://s.example/abcdefgh"});
    ASSERT_TRUE(program.waitForStarted());
    ASSERT_TRUE(program.waitForFinished(120000));
    const QString errors = QString::fromUtf8(program.readAllStandardError());
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0) << errors.toStdString();
    EXPECT_TRUE(errors.contains(QRegularExpression("first map frame after \\d+ ms\n")))
        << errors.toStdString();
}

// --help and --version answer without a display and end at once.
TEST(Program, AnswersHelpAndVersion) {
    tervolo::testsupport::TemporaryFolder home;
    for (const char* option : {"--help", "--version"}) {
        SCOPED_TRACE(option);
        QProcess program;
        auto environment = programEnvironment(home.path());
        environment.remove("QT_QPA_PLATFORM");
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        program.setProcessEnvironment(environment);
        program.start(TERVOLO_PROGRAM_PATH, {option});
        ASSERT_TRUE(program.waitForFinished(60000));
        EXPECT_EQ(program.exitCode(), 0);
        const QString output = QString::fromUtf8(program.readAllStandardOutput());
        EXPECT_TRUE(output.startsWith(std::string(option) == "--help" ? "Usage: TervoloNG" : "TervoloNG "))
            << output.toStdString();
    }
}

}  // namespace
