#include <gtest/gtest.h>

#include <QApplication>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "WidgetKitTestSupport.hpp"
#include "platform/dispatch/NotificationCenter.hpp"
#include "platform/ui/ApplicationDelegate.hpp"
#include "platform/ui/ApplicationLifecycle.hpp"
#include "platform/ui/MainWindow.hpp"

namespace {

class ApplicationLifecycleTest : public widgetkit_test::WidgetTest {};

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
TEST_F(ApplicationLifecycleTest, MapsWindowStatesAndFocusInOrder) {
    auto& app = *QCoreApplication::instance();
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

}  // namespace
