#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/NotificationCenter.hpp"
#include "platform/ui/ApplicationDelegate.hpp"

namespace tervolo::app {

// The application's delegate: its launch handler puts the program's
// long-lived services into operation in a fixed order, and its activity
// handlers log, record an analytics event and drive the location services and
// the device registration. Every call on the main thread.
class AppDelegate : public platform::ApplicationDelegate {
  public:
    // What the delegate drives of the location services.
    class LocationService {
      public:
        virtual ~LocationService() = default;
        virtual void initLocationServices() = 0;
        virtual void locationFullSpeedAhead() = 0;
        virtual void locationStop() = 0;
    };

    // The services the delegate reaches; each member left empty is filled
    // with the program's shared instance by the constructor. A getter is
    // called at the step that first touches its service, so that a shared
    // instance is made there.
    struct Services {
        // Step 1: the look of the navigation bars made from now on.
        std::function<void()> applyNavigationBarAppearance;
        // Step 2: the system-log logger joins the log registry at every level.
        std::function<void()> addSystemLogger;
        // The analytics wrapper, which starts the client on first use
        // (QuovaAnalytics::shared()): an event without and with properties.
        std::function<void(const std::string& name)> trackEvent;
        std::function<void(const std::string& name, const std::map<std::string, std::string>& properties)>
            trackEventWithProperties;
        // The launch event's five values, keyed "version", "platform", "OS", "vendorID", "adID".
        std::function<std::map<std::string, std::string>()> launchProperties;
        // The temporary folder as a file URL ending in "/".
        std::function<std::string()> temporaryDirectoryURL;
        // The location service; none when the program has none.
        std::function<std::shared_ptr<LocationService>()> locationServices;
        // The device manager's push token and registration.
        std::function<void(std::optional<std::string>)> setApnsToken;
        std::function<void()> registerWithBackend;
        // The tag store: the number of tags (none when no list was loaded), and the defaults.
        std::function<std::optional<size_t>()> allTagsCount;
        std::function<void()> buildDefaultTags;
        // Where the desktop's focus notices arrive (default: the default centre).
        platform::NotificationCenter* notificationCenter = nullptr;
    };

    AppDelegate();
    explicit AppDelegate(Services services);
    ~AppDelegate() override;

    platform::MainWindow* window() const override { return window_; }
    void setWindow(platform::MainWindow* window) override { window_ = window; }
    // Stored at launch; the activity handlers start and stop it through here.
    std::shared_ptr<LocationService> singleLocationManager() const { return singleLocationManager_; }

    bool application(const std::optional<platform::LaunchOptions>& didFinishLaunchingWithOptions) override;

    void applicationWillResignActive() override;
    void applicationDidEnterBackground() override;
    void applicationWillEnterForeground() override;
    void applicationDidBecomeActive() override;
    void applicationWillTerminate() override;
    void macApplicationDidResignActive();
    void macApplicationDidBecomeActive();

    // The launch options of a command line: the links among the arguments
    // under the URL key; none without links.
    static std::optional<platform::LaunchOptions> launchOptions(const std::vector<std::string>& links);

    // The push token the program sets: it has no push notifications.
    static constexpr const char* kNoPushToken = "(none)";

  private:
    // The activity handlers' common part: the info line, then the event.
    void logAndTrack(const char* event);

    Services services_;
    platform::MainWindow* window_ = nullptr;
    std::shared_ptr<LocationService> singleLocationManager_;
    std::vector<std::unique_ptr<platform::NotificationCenter::Token>> observations_;
};

}  // namespace tervolo::app
