#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/incoming/UserActivity.hpp"
#include "platform/dispatch/NotificationCenter.hpp"
#include "platform/ui/ApplicationDelegate.hpp"
#include "platform/ui/RestorationArchive.hpp"
#include "points/Shorturl.hpp"

namespace tervolo::app {

// The application's delegate: its launch handler puts the program's
// long-lived services into operation in a fixed order, and its activity
// handlers log, record an analytics event and drive the location services and
// the device registration. It takes the links the program is opened with
// (search-index items and shared short links) to the map screen, and gates
// the restorable state on the application version. Every call on the main
// thread, except the short-link lookup's completion (its session's queue).
class AppDelegate : public platform::ApplicationDelegate, public platform::RestorationArchive::Delegate {
  public:
    // What the hand-over needs of the map screen.
    class MapScreen {
      public:
        virtual ~MapScreen() = default;
        // Whether the screen's map view exists (its view has loaded).
        virtual bool hasMapView() const = 0;
        virtual void handleIncomingShorturl(const points::Shorturl& shorturl) = 0;
        virtual void handleIncomingUUID(const std::string& uuid) = 0;
    };

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
        // The map screen a window root is, none for a root of another kind
        // (default: the root as mapscreen::MainViewController).
        std::function<std::shared_ptr<MapScreen>(const std::shared_ptr<platform::ViewController>& root)>
            mapScreenOf;
        // The host names of shared short links and of the product's web site.
        std::function<std::string()> shortLinkHost;
        std::function<std::string()> productWebHost;
        // The API server's base URL ("https://<host>").
        std::function<std::string()> apiBaseURL;
        // The running application version; none when unknown.
        std::function<std::optional<std::string>()> applicationVersion;
        // Where the lookup's decoding diagnostics go (default: standard output).
        std::function<void(const std::string& text)> writeStandardOutput;
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

    // Continuing an activity: a web link or a search-index item. True when a
    // lookup or a hand-over was started; the restoration handler is never
    // called.
    using RestorationHandler =
        std::function<void(const std::vector<std::shared_ptr<platform::ViewController>>&)>;
    bool application(const UserActivity& continueUserActivity, const RestorationHandler& restorationHandler);
    bool handleUserActivityCoreSpotlight(const UserActivity& userActivity);
    bool handleUserActivityBrowsingWeb(const UserActivity& userActivity);
    // Starts the lookup of a short-link key on the API server and returns at once.
    void decodeShorturlKey(const std::string& key);
    // Hand the record or the identifier to the map screen, on the main queue
    // every 300 ms until the window, its root and the map view exist.
    void passShorturlToMainViewController(const points::Shorturl& shorturl);
    void passPointUUIDToMainViewController(const std::string& uuid);
    static constexpr double kHandOverRetryDelay = 0.3;

    // The program's links (IncomingLink): each becomes an activity and is
    // continued. Links that come before the launch handler has ended wait
    // for it, in their order. Answers how many of the links were dropped
    // because too many short-link lookups wait already (said in the log).
    size_t openLinks(const std::vector<std::string>& links);

    // The restorable state's gate: saving stamps "appVersion"; restoring
    // agrees only when the stamp equals the running version.
    bool applicationShouldSaveApplicationState(platform::RestorationCoder& coder);
    bool applicationShouldSaveSecureApplicationState(platform::RestorationCoder& coder);
    bool applicationShouldRestoreSecureApplicationState(const platform::RestorationCoder& coder);
    bool applicationShouldRestoreApplicationState(const platform::RestorationCoder& coder);
    bool saveWithCoder(platform::RestorationCoder& coder);
    bool shouldRestoreWithCoder(const platform::RestorationCoder& coder);
    // The archive asks through these (the secure pair).
    bool shouldSaveApplicationState(platform::RestorationCoder& coder) override;
    bool shouldRestoreApplicationState(const platform::RestorationCoder& coder) override;

    // The launch options of a command line: the links among the arguments
    // under the URL key; none without links.
    static std::optional<platform::LaunchOptions> launchOptions(const std::vector<std::string>& links);

    // The push token the program sets: it has no push notifications.
    static constexpr const char* kNoPushToken = "(none)";

  private:
    // The activity handlers' common part: the info line, then the event.
    void logAndTrack(const char* event);
    // The map screen when the window, its root and the map view all exist;
    // otherwise none, and `retry` says whether waiting can help.
    std::shared_ptr<MapScreen> readyMapScreen(const char* what, bool& retry);
    void continueLink(const std::string& link);

    Services services_;
    platform::MainWindow* window_ = nullptr;
    std::shared_ptr<LocationService> singleLocationManager_;
    std::vector<std::unique_ptr<platform::NotificationCenter::Token>> observations_;
    bool launched_ = false;
    std::vector<std::string> pendingLinks_;
    // Short-link lookups dropped so far: the lookup queue was full.
    size_t droppedLookups_ = 0;
    // Retries hold this weakly: none runs on a destroyed delegate.
    std::shared_ptr<AppDelegate*> self_ = std::make_shared<AppDelegate*>(this);
};

}  // namespace tervolo::app
