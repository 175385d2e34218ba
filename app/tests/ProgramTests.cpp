#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTimer>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/CommandLine.hpp"
#include "app/Program.hpp"
#include "platform/dispatch/NotificationCenter.hpp"
#include "platform/ui/ApplicationDelegate.hpp"
#include "platform/ui/ApplicationLifecycle.hpp"
#include "platform/ui/MainWindow.hpp"
#include "testsupport/TemporaryFolder.hpp"

namespace {

QApplication& application() {
    static int argc = 1;
    static char name[] = "tervolo_app_tests";
    static char* argv[] = {name, nullptr};
    static auto* app = QApplication::instance() != nullptr
                           ? static_cast<QApplication*>(QApplication::instance())
                           : new QApplication(argc, argv);
    return *app;
}

// Records the handlers the lifecycle source calls and the notices it posts, in one list.
class RecordingDelegate : public platform::ApplicationDelegate {
  public:
    explicit RecordingDelegate(std::vector<std::string>& journal) : journal_(journal) {}
    platform::MainWindow* window() const override { return nullptr; }
    void setWindow(platform::MainWindow*) override {}
    bool application(const std::optional<platform::LaunchOptions>&) override { return true; }
    void applicationWillResignActive() override { journal_.push_back("willResignActive"); }
    void applicationDidEnterBackground() override { journal_.push_back("didEnterBackground"); }
    void applicationWillEnterForeground() override { journal_.push_back("willEnterForeground"); }
    void applicationDidBecomeActive() override { journal_.push_back("didBecomeActive"); }
    void applicationWillTerminate() override { journal_.push_back("willTerminate"); }

  private:
    std::vector<std::string>& journal_;
};

// Window states and focus changes as Qt reports them become the handlers and
// notices in order: focus alone never sends the program to the background,
// minimising and hiding do, and nothing follows the end.
TEST(ApplicationLifecycle, MapsWindowStatesAndFocusInOrder) {
    auto& app = application();
    std::vector<std::string> journal;
    auto delegate = std::make_shared<RecordingDelegate>(journal);
    platform::NotificationCenter center;
    const auto observation = center.addObserver(
        "", nullptr,
        [&journal](const platform::NotificationCenter::Notification& n) { journal.push_back(n.name); });
    auto* lifecycle = new platform::ApplicationLifecycle(app, delegate, center);
    platform::MainWindow window;
    lifecycle->setMainWindow(&window);
    window.resize(400, 300);

    struct Step {
        const char* what;
        std::function<void()> act;
        std::vector<std::string> expected;
    };
    const std::vector<Step> steps = {
        {"shown before the first activation", [&] { window.show(); }, {}},
        {"first activation",
         [&] { lifecycle->applicationFocusChanged(true); },
         {"didBecomeActive", "UIApplicationDidBecomeActiveNotification",
          "NSApplicationDidBecomeActiveNotification"}},
        {"focus lost",
         [&] { lifecycle->applicationFocusChanged(false); },
         {"NSApplicationDidResignActiveNotification"}},
        {"focus lost twice", [&] { lifecycle->applicationFocusChanged(false); }, {}},
        {"focus back",
         [&] { lifecycle->applicationFocusChanged(true); },
         {"NSApplicationDidBecomeActiveNotification"}},
        {"minimised",
         [&] { window.setWindowState(Qt::WindowMinimized); },
         {"willResignActive", "UIApplicationWillResignActiveNotification", "didEnterBackground",
          "UIApplicationDidEnterBackgroundNotification"}},
        {"shown again",
         [&] { window.setWindowState(Qt::WindowNoState); },
         {"willEnterForeground", "UIApplicationWillEnterForegroundNotification", "didBecomeActive",
          "UIApplicationDidBecomeActiveNotification"}},
        {"hidden",
         [&] { window.hide(); },
         {"willResignActive", "UIApplicationWillResignActiveNotification", "didEnterBackground",
          "UIApplicationDidEnterBackgroundNotification"}},
        {"hidden and minimised", [&] { window.setWindowState(Qt::WindowMinimized); }, {}},
        {"shown",
         [&] {
             window.setWindowState(Qt::WindowNoState);
             window.show();
         },
         {"willEnterForeground", "UIApplicationWillEnterForegroundNotification", "didBecomeActive",
          "UIApplicationDidBecomeActiveNotification"}},
        {"about to quit",
         [&] { lifecycle->applicationAboutToQuit(); },
         {"willTerminate", "UIApplicationWillTerminateNotification"}},
        {"window closed after the end", [&] { window.hide(); }, {}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        journal.clear();
        step.act();
        EXPECT_EQ(journal, step.expected);
    }
    delete lifecycle;
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
