#include "app/AppDelegate.hpp"

#include <QColor>
#include <QUrl>

#include "app/info/QuovaApplicationAdditions.hpp"
#include "app/info/UIDevice_QuovaAdditions.hpp"
#include "backend/QuovaAnalytics.hpp"
#include "backend/QuovaDeviceManager.hpp"
#include "location/QuovaLocationServices.hpp"
#include "logging/QLLog.hpp"
#include "logging/QLLogging.hpp"
#include "logging/QLOSLogger.hpp"
#include "platform/foundation/FileManager.hpp"
#include "platform/ui/ApplicationLifecycle.hpp"
#include "platform/ui/NavigationBar.hpp"
#include "points/QuovaPointTagStore.hpp"

namespace tervolo::app {

namespace {

// The shared location service as the delegate drives it.
class SharedLocationService : public AppDelegate::LocationService {
  public:
    explicit SharedLocationService(location::QuovaLocationServices& services) : services_(services) {}
    void initLocationServices() override { services_.initLocationServices(); }
    void locationFullSpeedAhead() override { services_.locationFullSpeedAhead(); }
    void locationStop() override { services_.locationStop(); }

  private:
    location::QuovaLocationServices& services_;
};

void fillDefaults(AppDelegate::Services& services) {
    if (!services.applyNavigationBarAppearance) {
        services.applyNavigationBarAppearance = [] {
            auto& proxy = platform::NavigationBar::appearance();
            proxy.barTintColor = QColor(Qt::white);
            platform::NavigationBar::TitleTextAttributes attributes;
            attributes.foregroundColor = QColor(Qt::black);
            proxy.titleTextAttributes = attributes;
            proxy.translucent = false;
        };
    }
    if (!services.addSystemLogger) {
        services.addSystemLogger = [] {
            logging::QLLog::sharedInstance().addLogger(logging::QLOSLogger::sharedInstance());
        };
    }
    if (!services.trackEvent) {
        services.trackEvent = [](const std::string& name) {
            backend::QuovaAnalytics::shared().trackEvent(name);
        };
    }
    if (!services.trackEventWithProperties) {
        services.trackEventWithProperties = [](const std::string& name,
                                               const std::map<std::string, std::string>& properties) {
            backend::QuovaAnalytics::shared().trackEvent(name, properties);
        };
    }
    if (!services.launchProperties) {
        services.launchProperties = [] {
            return std::map<std::string, std::string>{
                {"version", QuovaApplicationAdditions::quovaAppVersion()},
                {"platform", UIDevice_QuovaAdditions::quovaHardwareDescription()},
                {"OS", UIDevice_QuovaAdditions::systemVersion()},
                {"vendorID", UIDevice_QuovaAdditions::quovaVendorID()},
                {"adID", UIDevice_QuovaAdditions::quovaAdvertisingID()},
            };
        };
    }
    if (!services.temporaryDirectoryURL) {
        services.temporaryDirectoryURL = [] {
            std::string path = platform::FileManager::defaultManager().temporaryDirectory();
            if (path.empty() || path.back() != '/') path += '/';
            return QUrl::fromLocalFile(QString::fromStdString(path))
                .toString(QUrl::FullyEncoded)
                .toStdString();
        };
    }
    if (!services.locationServices) {
        services.locationServices = []() -> std::shared_ptr<AppDelegate::LocationService> {
            return std::make_shared<SharedLocationService>(location::QuovaLocationServices::shared());
        };
    }
    if (!services.setApnsToken) {
        services.setApnsToken = [](std::optional<std::string> token) {
            backend::QuovaDeviceManager::shared().setApnsToken(std::move(token));
        };
    }
    if (!services.registerWithBackend) {
        services.registerWithBackend = [] { backend::QuovaDeviceManager::shared().registerWithBackend(); };
    }
    if (!services.allTagsCount) {
        services.allTagsCount = []() -> std::optional<size_t> {
            const auto& tags = points::QuovaPointTagStore::shared().allTags();
            if (!tags) return std::nullopt;
            return tags->size();
        };
    }
    if (!services.buildDefaultTags) {
        services.buildDefaultTags = [] { points::QuovaPointTagStore::shared().buildDefaultTags(); };
    }
    if (services.notificationCenter == nullptr) {
        services.notificationCenter = &platform::NotificationCenter::defaultCenter();
    }
}

}  // namespace

AppDelegate::AppDelegate() : AppDelegate(Services{}) {}

AppDelegate::AppDelegate(Services services) : services_(std::move(services)) {
    fillDefaults(services_);
}

AppDelegate::~AppDelegate() = default;

bool AppDelegate::application(const std::optional<platform::LaunchOptions>& didFinishLaunchingWithOptions) {
    // 1. The bars made from now on: white, black titles, opaque.
    services_.applyNavigationBarAppearance();
    // 2. The only logger the program installs.
    services_.addSystemLogger();
    // 3. One line at each level the log shows, so a reader sees which reach it.
    QLLogError("This is an error.");
    QLLogWarn("This is a warning.");
    QLLogInfo("This is just a message.");
    QLLogVerbose("This is a verbose message.");
    // 4.
    if (didFinishLaunchingWithOptions) {
        QLLogInfo("didFinishLaunchingWithOptions: " + platform::describe(*didFinishLaunchingWithOptions));
    } else {
        QLLogInfo("didFinishLaunchingWithOptions");
    }
    // 5. The first use of the analytics wrapper starts the client.
    services_.trackEventWithProperties("didFinishLaunchingWithOptions", services_.launchProperties());
    // 6.
    QLLogInfo("temp directory: " + services_.temporaryDirectoryURL());
    // 7. The desktop's focus changes, for the whole run. The tokens live in
    // the delegate, so no notice reaches a destroyed one.
    observations_.push_back(services_.notificationCenter->addObserver(
        platform::kDesktopApplicationDidResignActiveNotification, nullptr,
        [this](const auto&) { macApplicationDidResignActive(); }));
    observations_.push_back(services_.notificationCenter->addObserver(
        platform::kDesktopApplicationDidBecomeActiveNotification, nullptr,
        [this](const auto&) { macApplicationDidBecomeActive(); }));
    // 8.
    singleLocationManager_ = services_.locationServices();
    if (singleLocationManager_) singleLocationManager_->initLocationServices();
    // 9. The program has no push notifications: this is the only token it sets.
    services_.setApnsToken(std::string(kNoPushToken));
    services_.registerWithBackend();
    // 10. A present but empty list is a first run; an absent one is left alone.
    if (const auto count = services_.allTagsCount(); count && *count == 0) services_.buildDefaultTags();
    // 11.
    return true;
}

void AppDelegate::logAndTrack(const char* event) {
    QLLogInfo(event);
    services_.trackEvent(event);
}

void AppDelegate::applicationWillResignActive() {
    logAndTrack("applicationWillResignActive");
    if (singleLocationManager_) singleLocationManager_->locationStop();
}

void AppDelegate::applicationDidEnterBackground() {
    logAndTrack("applicationDidEnterBackground");
}

void AppDelegate::applicationWillEnterForeground() {
    logAndTrack("applicationWillEnterForeground");
}

void AppDelegate::applicationDidBecomeActive() {
    logAndTrack("applicationDidBecomeActive");
    services_.registerWithBackend();
    if (singleLocationManager_) singleLocationManager_->locationFullSpeedAhead();
}

void AppDelegate::applicationWillTerminate() {
    logAndTrack("applicationWillTerminate");
}

void AppDelegate::macApplicationDidResignActive() {
    logAndTrack("macApplicationDidResignActive");
}

void AppDelegate::macApplicationDidBecomeActive() {
    logAndTrack("macApplicationDidBecomeActive");
    services_.registerWithBackend();
}

std::optional<platform::LaunchOptions> AppDelegate::launchOptions(const std::vector<std::string>& links) {
    if (links.empty()) return std::nullopt;
    return platform::LaunchOptions{{platform::kLaunchOptionsURLKey, links}};
}

}  // namespace tervolo::app
