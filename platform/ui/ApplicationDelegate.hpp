#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace platform {

class MainWindow;

// What the program was started with: each key names one kind of option and
// holds its values in the order given (the links on the command line under
// kLaunchOptionsURLKey).
using LaunchOptions = std::map<std::string, std::vector<std::string>>;
inline constexpr const char* kLaunchOptionsURLKey = "UIApplicationLaunchOptionsURLKey";

// The options' text as the platform describes a dictionary:
// ["key": ["value", ...], ...] in key order, "[:]" when empty. Keys and values
// are links from the command line, anybody's text: each is quoted for the
// log (platform::text::logQuoted), so the text is one line and a long link is
// cut after 4 KiB.
std::string describe(const LaunchOptions& options);

// The application object's delegate: the program's answers to its launch and
// to the application's activity changes. The application main makes one,
// gives it the main window, runs the launch handler once, and the lifecycle
// source calls the activity handlers. Every call arrives on the main thread.
class ApplicationDelegate {
  public:
    virtual ~ApplicationDelegate() = default;

    // The main window, set by the application main before the launch handler runs.
    virtual MainWindow* window() const = 0;
    virtual void setWindow(MainWindow* window) = 0;

    // The launch handler: options as the program was started (none when there
    // were none). The answer says whether the launch may go on.
    virtual bool application(const std::optional<LaunchOptions>& didFinishLaunchingWithOptions) = 0;

    virtual void applicationWillResignActive() {}
    virtual void applicationDidEnterBackground() {}
    virtual void applicationWillEnterForeground() {}
    virtual void applicationDidBecomeActive() {}
    virtual void applicationWillTerminate() {}
};

}  // namespace platform
