#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/ApplicationDelegate.hpp"

class QApplication;

namespace platform {

class ApplicationLifecycle;
class MainWindow;
class ViewController;

// What the application main is given by the program.
struct ApplicationMainConfiguration {
    // The desktop entry the running program belongs to (its name without ".desktop").
    std::string desktopFileName = "org.tervolo.TervoloNG";
    // Right after the application object exists, before anything else is made.
    std::function<void(QApplication&)> applicationCreated;
    // Makes the one delegate (required).
    std::function<std::shared_ptr<ApplicationDelegate>()> makeDelegate;
    // Makes the window's root view controller; none leaves the window empty.
    std::function<std::shared_ptr<ViewController>()> makeRootViewController;
    // Title, size and the like, before the window is handed to the delegate.
    std::function<void(MainWindow&)> configureWindow;
    // After the launch handler, right before the window is first shown (the
    // restorable state is handed to the screens here).
    std::function<void(MainWindow&)> willShowWindow;
    // The options the program was started with.
    std::optional<LaunchOptions> launchOptions;
    // Told once the lifecycle source exists (the services that follow the
    // application's activity subscribe here).
    std::function<void(ApplicationLifecycle&)> lifecycleCreated;
    // After the event loop has ended, while the application object still
    // exists (the log's queued records are written here).
    std::function<void()> afterRun;
};

// The program's entry into the application object, in this order: makes the
// QApplication with its desktop file name, installs the Qt event loop as the
// main queue's executor, makes the delegate, builds the main window with its
// root view controller, gives the window to the delegate, runs the launch
// handler with the options, calls `willShowWindow`, shows the window, runs the event loop, and after
// it ends stops the main queue's executor and runs `afterRun`. The lifecycle
// source turns Qt's state changes into the delegate's activity handlers from
// before the window is shown. Answers the event loop's exit status. Main
// thread; `argc` and `argv` must outlive the call (Qt keeps them).
int applicationMain(int& argc, char** argv, ApplicationMainConfiguration configuration);

}  // namespace platform
