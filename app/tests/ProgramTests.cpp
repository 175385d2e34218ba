#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QScreen>
#include <QTimer>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/CommandLine.hpp"
#include "app/MapScreenAlertPresenter.hpp"
#include "app/Program.hpp"
#include "app/incoming/InstanceChannel.hpp"
#include "app/incoming/InstanceServer.hpp"
#include "mapscreen/MainViewController.hpp"
#include "mapscreen/QuovaMapPointAnnotation.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/PresentationRecorder.hpp"
#include "platform/ui/ViewController.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "search/ui/QuovaLocationSearchController.hpp"
#include "testsupport/Eventually.hpp"
#include "testsupport/ScopedEnvironment.hpp"
#include "testsupport/TemporaryFolder.hpp"
#include "testsupport/TestEnvironment.hpp"
#include "testsupport/incoming/InstanceSocketSupport.hpp"
#include "testsupport/ui/TestApplication.hpp"

namespace {

// The secure-connection alert goes to the map screen once the window has it:
// none before the window, then the program's map screen (and not another root).
TEST(MapScreenAlertPresenter, PresentsOnTheMapScreenOfTheWindow) {
    tervolo::testsupport::sharedTestApplication("tervolo_app_tests");
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
    tervolo::testsupport::sharedTestApplication("tervolo_app_tests");
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

// The first window takes 1280 × 800 where the screen has room and nine tenths of a smaller screen's
// free area each way, centred in it: on an 800-point-high screen the bottom (scale bar, credit)
// stays on the screen.
TEST(FirstWindow, FollowsTheScreensFreeArea) {
    struct Case {
        const char* name;
        QRect available;
        QRect expected;
    };
    const Case cases[] = {
        {"large screen", {0, 0, 1920, 1080}, {320, 140, 1280, 800}},
        {"1280 x 800 laptop, panel on top", {0, 27, 1280, 773}, {64, 66, 1152, 695}},
        {"1366 x 768", {0, 0, 1366, 768}, {68, 38, 1229, 691}},
        {"second screen to the right", {1920, 0, 1600, 900}, {2080, 50, 1280, 800}},
        {"tiny screen", {0, 0, 640, 480}, {32, 24, 576, 432}},
        {"no screen size", {}, {0, 0, 1280, 800}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const QRect frame = tervolo::app::firstWindowGeometry(test.available);
        EXPECT_EQ(frame, test.expected);
        if (!test.available.isEmpty()) {
            EXPECT_TRUE(test.available.contains(frame));
        }
    }
}

// The composed window on the test's screen (800 × 800 under the offscreen platform): it opens
// inside the screen's free area, not at 1280 × 800 reaching past its edges.
TEST(FirstWindow, TheProgramsWindowOpensInsideTheScreen) {
    tervolo::testsupport::sharedTestApplication("tervolo_app_tests");
    tervolo::testsupport::TestEnvironment environment;
    platform::MainWindow window;
    window.setRootViewController(tervolo::app::makeMapScreen());
    tervolo::app::configureMainWindow(window);
    const QRect available = window.screen()->availableGeometry();
    ASSERT_FALSE(available.isEmpty());
    EXPECT_TRUE(available.contains(window.geometry()))
        << window.geometry().width() << "x" << window.geometry().height() << " on " << available.width()
        << "x" << available.height();
    EXPECT_EQ(window.geometry(), tervolo::app::firstWindowGeometry(available));
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
    EXPECT_EQ(line.unknownOption, std::nullopt);
    const char* plain[] = {"TervoloNG"};
    const auto none = tervolo::app::CommandLine::parse(1, plain);
    EXPECT_FALSE(none.help || none.version);
    EXPECT_TRUE(none.links.empty());
    // Qt's own options with one dash or two, and with their values, are no
    // unknown options; after "--" a link may start with anything.
    const char* qt[] = {"TervoloNG", "--platform", "offscreen", "-reverse",
                        "-style",    "--bogus",    "--",        "tervolo://y"};
    const auto withQt = tervolo::app::CommandLine::parse(8, qt);
    EXPECT_EQ(withQt.unknownOption, std::nullopt);
    EXPECT_EQ(withQt.links, std::vector<std::string>{"tervolo://y"});
    const char* mistyped[] = {"TervoloNG", "tervolo://x", "--verison", "-v"};
    EXPECT_EQ(tervolo::app::CommandLine::parse(4, mistyped).unknownOption, "--verison");
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
    // Standard error is for errors: the toolbar's plug-in reports its calls to
    // the log, not there.
    EXPECT_FALSE(errors.contains("searchFieldToolbarItem")) << errors.toStdString();
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

// Unknown options: one line on standard error naming the option and the way
// to --help, status 2, no window (no display is needed to say so).
TEST(Program, RefusesUnknownOptions) {
    tervolo::testsupport::TemporaryFolder home;
    const std::string program = TERVOLO_PROGRAM_PATH;
    for (const char* option : {"--verison", "-v", "--bogus", "-x", "--help=all"}) {
        SCOPED_TRACE(option);
        QProcess run;
        auto environment = programEnvironment(home.path());
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        run.setProcessEnvironment(environment);
        run.start(QString::fromStdString(program), {"tervolo://point/A", option, "--version"});
        ASSERT_TRUE(run.waitForFinished(60000));
        EXPECT_EQ(run.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(run.exitCode(), 2);
        EXPECT_EQ(run.readAllStandardError().toStdString(),
                  program + ": unknown option '" + option + "' (see '" + program + " --help')\n");
        EXPECT_EQ(run.readAllStandardOutput().toStdString(), "");
    }
}

// The real program as a later start, beside a running one: the test is the
// running program (or starts a second real one), in a runtime folder of its
// own so that parallel tests never meet.
class SingleInstanceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tervolo::testsupport::sharedTestApplication("tervolo_app_tests");
        runtime_ = home_.path() + "/run";
        ASSERT_EQ(mkdir(runtime_.c_str(), 0700), 0);
        runtimeEnvironment_.emplace("XDG_RUNTIME_DIR", runtime_.c_str());
        path_ = tervolo::app::InstanceChannel::socketPath();
        ASSERT_FALSE(path_.empty());
    }
    void TearDown() override {
        for (auto& program : programs_) {
            if (program->state() != QProcess::NotRunning) {
                program->kill();
                program->waitForFinished(10000);
            }
        }
        runtimeEnvironment_.reset();
    }

    QProcess& start(const QStringList& arguments, bool quitAfterFirstFrame = false) {
        auto environment = startEnvironment();
        if (quitAfterFirstFrame) environment.insert("TERVOLO_QUIT_AFTER_FIRST_FRAME", "1");
        QProcess& program = launch(arguments, environment);
        EXPECT_TRUE(program.waitForStarted());
        return program;
    }
    // A start with no display to show a window on (a terminal over ssh, a link handler outside
    // the session); the caller waits for it to have started.
    QProcess& launchWithoutDisplay(const QStringList& arguments) {
        auto environment = startEnvironment();
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) environment.remove(name);
        return launch(arguments, environment);
    }
    // The program's environment beside this test: the test's home and runtime folder.
    QProcessEnvironment startEnvironment() const {
        auto environment = programEnvironment(home_.path());
        environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime_));
        return environment;
    }
    // Starts the program, ended with the test if it still runs then.
    QProcess& launch(const QStringList& arguments, const QProcessEnvironment& environment) {
        programs_.push_back(std::make_unique<QProcess>());
        QProcess& program = *programs_.back();
        program.setProcessEnvironment(environment);
        program.start(TERVOLO_PROGRAM_PATH, arguments);
        return program;
    }

    // Waits for the program's end while this process answers as the running one.
    bool finishPumping(QProcess& program, int milliseconds = 60000) {
        for (int waited = 0; waited < milliseconds; waited += 10) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            platform::RunLoop::runUntilIdle();
            // The events just processed may have taken the end already, and
            // waitForFinished() is false for a program that has ended.
            if (program.state() == QProcess::NotRunning || program.waitForFinished(5)) return true;
        }
        return false;
    }

    // Processes events until `server` has read every start's commit (a
    // start ends as soon as it has sent it).
    static void drain(const tervolo::app::InstanceServer& server) {
        for (int turn = 0; turn < 500 && server.openConnections() != 0; ++turn) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            platform::RunLoop::runUntilIdle();
        }
    }

    // Whether a running program answers at the socket. The probe never
    // listens itself: a program starting in between would take the probe's
    // socket for the running one, hand over to it and end.
    bool instanceAnswers() {
        auto claim = tervolo::app::InstanceChannel::claim(
            path_, tervolo::app::InstanceChannel::kAnswerTimeout, false);
        return claim.kind == tervolo::app::InstanceChannel::Claim::Kind::running &&
               !tervolo::app::InstanceChannel::handOver(claim.fd, {}).has_value();
    }

    tervolo::testsupport::TemporaryFolder home_;
    std::string runtime_;
    std::optional<tervolo::testsupport::ScopedEnvironment> runtimeEnvironment_;
    std::string path_;
    std::vector<std::unique_ptr<QProcess>> programs_;
};

// Links reach the running program in their order; a start without links
// only asks for the window; both later starts end with 0.
TEST_F(SingleInstanceTest, LaterStartHandsItsLinksToTheRunningOne) {
    auto first = tervolo::app::InstanceChannel::claim(path_);
    ASSERT_EQ(first.kind, tervolo::app::InstanceChannel::Claim::Kind::first) << first.error;
    std::vector<std::vector<std::string>> received;
    tervolo::app::InstanceServer server =
        tervolo::testsupport::recordingInstanceServer(first.fd, path_, received);
    const QStringList links = {"https://s.example/abcdefgh", "tervolo://point/A",
                               "tervolo://open?url=https%3A%2F%2Fs.example%2Fx"};
    for (const QStringList& arguments : {links, QStringList()}) {
        QProcess& later = start(arguments);
        ASSERT_TRUE(finishPumping(later));
        drain(server);
        EXPECT_EQ(later.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(later.exitCode(), 0) << later.readAllStandardError().toStdString();
    }
    EXPECT_EQ(received,
              (std::vector<std::vector<std::string>>{{"https://s.example/abcdefgh", "tervolo://point/A",
                                                      "tervolo://open?url=https%3A%2F%2Fs.example%2Fx"},
                                                     {}}));
}

// A socket left behind by a program that ended without removing it is taken
// over; the run ends removing its own socket and with its state saved.
TEST_F(SingleInstanceTest, FirstStartTakesOverAStaleSocket) {
    ASSERT_TRUE(tervolo::testsupport::leaveStaleSocket(path_));
    QProcess& program = start({}, true);
    ASSERT_TRUE(program.waitForFinished(120000));
    const std::string errors = program.readAllStandardError().toStdString();
    EXPECT_EQ(program.exitCode(), 0) << errors;
    EXPECT_EQ(errors.find("later starts cannot reach"), std::string::npos) << errors;
    struct stat info {};
    EXPECT_NE(lstat(path_.c_str(), &info), 0) << "the socket outlived the program";
    // The state was saved at the end, stamped with the version.
    std::ifstream state(home_.path() + "/config/TervoloNG/RestorationState.json");
    const std::string text((std::istreambuf_iterator<char>(state)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("\"appVersion\""), std::string::npos) << text;
}

// Two starts at the same moment: one runs, the other hands over and ends.
TEST_F(SingleInstanceTest, SimultaneousStartsLeaveOneRunning) {
    QProcess& one = start({});
    QProcess& two = start({});
    QProcess* ended = nullptr;
    for (int waited = 0; waited < 60000 && ended == nullptr; waited += 20) {
        if (one.waitForFinished(10)) ended = &one;
        if (ended == nullptr && two.waitForFinished(10)) ended = &two;
    }
    ASSERT_NE(ended, nullptr);
    EXPECT_EQ(ended->exitCode(), 0) << ended->readAllStandardError().toStdString();
    QProcess& running = ended == &one ? two : one;
    EXPECT_EQ(running.state(), QProcess::Running);
    EXPECT_TRUE(instanceAnswers());
    EXPECT_EQ(running.state(), QProcess::Running);
}

// Hostile messages are dropped; the running program still takes a later start.
TEST_F(SingleInstanceTest, HostileMessageLeavesTheRunningOneUp) {
    QProcess& running = start({});
    ASSERT_TRUE(
        tervolo::testsupport::eventually([&] { return instanceAnswers(); }, std::chrono::seconds(60)));
    for (const std::string& bytes :
         {std::string("\x7F\xFF\xFF\xFF", 4), std::string("\x00\x00\x00\x04junk", 8),
          std::string("\x00\x00\x00\x20TervoloNG links 2\n\x01\x02\x03", 24)}) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_un address = tervolo::testsupport::unixSocketAddress(path_);
        ASSERT_EQ(connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        close(fd);
    }
    QProcess& later = start({"https://s.example/abcdefgh"});
    ASSERT_TRUE(later.waitForFinished(60000));
    EXPECT_EQ(later.exitCode(), 0) << later.readAllStandardError().toStdString();
    EXPECT_EQ(running.state(), QProcess::Running);
}

// Without a display a start still hands its links to the running program
// (a terminal over ssh, a link handler outside the session); with nobody
// running it says how to start without a screen, naming itself as called.
TEST_F(SingleInstanceTest, LinksAreHandedOverWithoutADisplay) {
    const auto withoutDisplay = [&](const QStringList& arguments) -> QProcess& {
        QProcess& program = launchWithoutDisplay(arguments);
        EXPECT_TRUE(program.waitForStarted());
        return program;
    };
    QProcess& alone = withoutDisplay({"tervolo://point/A"});
    ASSERT_TRUE(alone.waitForFinished(60000));
    EXPECT_EQ(alone.exitCode(), 1);
    const std::string told = alone.readAllStandardError().toStdString();
    EXPECT_NE(told.find("no display found"), std::string::npos) << told;
    EXPECT_NE(told.find(std::string("QT_QPA_PLATFORM=offscreen ") + TERVOLO_PROGRAM_PATH + "\n"),
              std::string::npos)
        << told;
    struct stat info {};
    EXPECT_NE(lstat(path_.c_str(), &info), 0) << "a start without a display listens";

    auto first = tervolo::app::InstanceChannel::claim(path_);
    ASSERT_EQ(first.kind, tervolo::app::InstanceChannel::Claim::Kind::first) << first.error;
    std::vector<std::vector<std::string>> received;
    tervolo::app::InstanceServer server =
        tervolo::testsupport::recordingInstanceServer(first.fd, path_, received);
    QProcess& handing = withoutDisplay({"tervolo://point/A", "https://s.example/abcdefgh"});
    ASSERT_TRUE(finishPumping(handing));
    drain(server);
    EXPECT_EQ(handing.exitCode(), 0) << handing.readAllStandardError().toStdString();
    EXPECT_EQ(received,
              (std::vector<std::vector<std::string>>{{"tervolo://point/A", "https://s.example/abcdefgh"}}));
}

// A running program that never answers: the later start says so and fails.
TEST_F(SingleInstanceTest, SilentRunningProgramIsReported) {
    auto first = tervolo::app::InstanceChannel::claim(path_);
    ASSERT_EQ(first.kind, tervolo::app::InstanceChannel::Claim::Kind::first);
    QProcess& later = start({"https://s.example/abcdefgh"});
    ASSERT_TRUE(later.waitForFinished(60000));
    EXPECT_EQ(later.exitStatus(), QProcess::NormalExit);
    EXPECT_NE(later.exitCode(), 0);
    EXPECT_EQ(later.readAllStandardError().toStdString(),
              "TervoloNG: the running TervoloNG did not answer within 5 s\n");
    close(first.fd);
}

// Links the running program had to drop (too many short links wait to be
// looked up): the later start says how many and ends with status 1.
TEST_F(SingleInstanceTest, LaterStartSaysHowManyLinksWereDropped) {
    auto first = tervolo::app::InstanceChannel::claim(path_);
    ASSERT_EQ(first.kind, tervolo::app::InstanceChannel::Claim::Kind::first) << first.error;
    std::vector<std::vector<std::string>> received;
    tervolo::app::InstanceServer server =
        tervolo::testsupport::recordingInstanceServer(first.fd, path_, received, 2);
    QProcess& later =
        start({"https://s.example/abcdefgh", "https://s.example/bcdefghi", "tervolo://point/A"});
    ASSERT_TRUE(finishPumping(later));
    EXPECT_EQ(later.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(later.exitCode(), 1);
    EXPECT_EQ(
        later.readAllStandardError().toStdString(),
        "TervoloNG: 2 links were not opened: the running TervoloNG has too many short links waiting to be "
        "looked up; try again later\n");
    EXPECT_EQ(received.size(), 1u);
}

// Another start holds the claim's lock (it hangs): whether a program runs
// on this data cannot be told, so a start neither opens a window nor, without
// a display, blames the display; it says why it ends, naming the lock and
// the process holding it, and ends with status 1. Both starts run at once.
TEST_F(SingleInstanceTest, HeldClaimLockEndsTheStartWithoutASecondWindow) {
    const std::string lockPath = path_ + ".lock";
    const int holder = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    QProcess& withDisplay = start({"tervolo://point/A"});
    QProcess& withoutDisplay = launchWithoutDisplay({"tervolo://point/A"});
    ASSERT_TRUE(withoutDisplay.waitForStarted());

    const std::string told =
        "TervoloNG: not starting: another start of TervoloNG (process " + std::to_string(getpid()) +
        ") has held " + lockPath +
        " for 5 s, so it cannot be told whether TervoloNG already runs on this data, and a "
        "second window on the same data is never opened. Try again once that start has "
        "ended.\n";
    for (QProcess* program : {&withDisplay, &withoutDisplay}) {
        ASSERT_TRUE(program->waitForFinished(60000));
        EXPECT_EQ(program->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program->exitCode(), 1);
        EXPECT_EQ(program->readAllStandardError().toStdString(), told);
    }
    struct stat info {};
    EXPECT_NE(lstat(path_.c_str(), &info), 0) << "a start listens beside the lock's holder";
    close(holder);
}

}  // namespace
