#include "app/AppDelegate.hpp"

#include <QApplication>
#include <QColor>
#include <QPalette>
#include <QUrl>

#include <cstdio>
#include <exception>

#include "app/incoming/IncomingLink.hpp"
#include "backend/BackendHosts.hpp"
#include "backend/ShorturlCoding.hpp"
#include "backend/ShorturlLookupQueue.hpp"
#include "mapscreen/MainViewController.hpp"
#include "platform/coding/DecodingError.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/net/URLSession.hpp"
#include "platform/text/Unicode.hpp"
#include "platform/ui/MainWindow.hpp"

#include "appinfo/QuovaApplicationAdditions.hpp"
#include "appinfo/UIDevice_QuovaAdditions.hpp"
#include "backend/QuovaAnalytics.hpp"
#include "backend/QuovaDeviceManager.hpp"
#include "location/QuovaLocationServices.hpp"
#include "logging/LoggerMetadataValue.hpp"
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

// The program's map screen behind the hand-over's view of it.
class MainViewControllerScreen : public AppDelegate::MapScreen {
  public:
    explicit MainViewControllerScreen(std::shared_ptr<mapscreen::MainViewController> screen)
        : screen_(std::move(screen)) {}
    bool hasMapView() const override { return screen_->mapView() != nullptr; }
    void handleIncomingShorturl(const points::Shorturl& shorturl) override {
        screen_->handleIncomingShorturl(shorturl);
    }
    void handleIncomingUUID(const std::string& uuid) override { screen_->handleIncomingUUID(uuid); }

  private:
    std::shared_ptr<mapscreen::MainViewController> screen_;
};

std::string logQuoted(const std::string& text) {
    return logging::debugQuoted(text);
}

std::string describeOptional(const std::optional<std::string>& text) {
    return text ? logQuoted(*text) : "nil";
}

// The record's text for the log, every field by its name.
std::string describeShorturl(const points::Shorturl& record) {
    return "Shorturl(id: " + std::to_string(record.id) + ", device_id: " + std::to_string(record.device_id) +
           ", device_hw_details: " + logQuoted(record.device_hw_details) +
           ", ios_version: " + logQuoted(record.ios_version) +
           ", app_version: " + logQuoted(record.app_version) + ", shorturl: " + logQuoted(record.shorturl) +
           ", title: " + logQuoted(record.title) + ", longitude: " + logQuoted(record.longitude) +
           ", latitude: " + logQuoted(record.latitude) + ", maptype: " + logQuoted(record.maptype) +
           ", zoom: " + std::to_string(record.zoom) + ", timestamp: " + logQuoted(record.timestamp) +
           ", created: " + logQuoted(record.created) + ", modified: " + logQuoted(record.modified) +
           ", dataSourceName: " + describeOptional(record.dataSourceName) +
           ", dataSourceUniqueID: " + describeOptional(record.dataSourceUniqueID) +
           ", dataSourceURL: " + describeOptional(record.dataSourceURL) +
           ", dataSourceImageURL: " + describeOptional(record.dataSourceImageURL) + ")";
}

// "https://host:port/path" → "host".
std::string hostOf(const std::string& baseURL) {
    return QUrl(QString::fromStdString(baseURL)).host().toStdString();
}

// The reply file is a backend record: far below this.
constexpr size_t kMaximumReplyBytes = 1024 * 1024;

void fillDefaults(AppDelegate::Services& services) {
    if (!services.applyNavigationBarAppearance) {
        services.applyNavigationBarAppearance = [] {
            auto& proxy = platform::NavigationBar::appearance();
            // White bars with black titles on a light desktop; a dark desktop theme keeps its own
            // dark window colour and light text for them, or every sheet would open with a glaring
            // white header whose light-palette items do not read on it.
            const QPalette palette = QApplication::palette();
            const bool dark = palette.color(QPalette::Window).lightness() < 128;
            proxy.barTintColor = dark ? palette.color(QPalette::Window) : QColor(Qt::white);
            platform::NavigationBar::TitleTextAttributes attributes;
            attributes.foregroundColor = dark ? palette.color(QPalette::WindowText) : QColor(Qt::black);
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
                {"version", appinfo::QuovaApplicationAdditions::quovaAppVersion()},
                {"platform", appinfo::UIDevice_QuovaAdditions::quovaHardwareDescription()},
                {"OS", appinfo::UIDevice_QuovaAdditions::systemVersion()},
                {"vendorID", appinfo::UIDevice_QuovaAdditions::quovaVendorID()},
                {"adID", appinfo::UIDevice_QuovaAdditions::quovaAdvertisingID()},
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
    if (!services.mapScreenOf) {
        services.mapScreenOf = [](const std::shared_ptr<platform::ViewController>& root)
            -> std::shared_ptr<AppDelegate::MapScreen> {
            auto screen = std::dynamic_pointer_cast<mapscreen::MainViewController>(root);
            if (!screen) return nullptr;
            return std::make_shared<MainViewControllerScreen>(std::move(screen));
        };
    }
    if (!services.shortLinkHost)
        services.shortLinkHost = [] { return backend::BackendHosts::shortLinkHost(); };
    if (!services.productWebHost) {
        services.productWebHost = [] { return hostOf(backend::BackendHosts::productWebBaseURL()); };
    }
    if (!services.apiBaseURL) services.apiBaseURL = [] { return backend::BackendHosts::apiBaseURL(); };
    if (!services.applicationVersion) {
        services.applicationVersion = [] { return platform::Bundle::main().infoString("CFBundleVersion"); };
    }
    if (!services.writeStandardOutput) {
        services.writeStandardOutput = [](const std::string& text) {
            std::fputs(text.c_str(), stdout);
            std::fflush(stdout);
        };
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
    // 11. Links that came during the launch are continued now, in their order.
    launched_ = true;
    for (const auto& link : std::exchange(pendingLinks_, {})) continueLink(link);
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

bool AppDelegate::application(const UserActivity& continueUserActivity, const RestorationHandler&) {
    if (continueUserActivity.activityType == NSUserActivityTypeBrowsingWeb) {
        return handleUserActivityBrowsingWeb(continueUserActivity);
    }
    if (continueUserActivity.activityType == kSearchableItemActivityType) {
        return handleUserActivityCoreSpotlight(continueUserActivity);
    }
    return false;
}

bool AppDelegate::handleUserActivityCoreSpotlight(const UserActivity& userActivity) {
    QLLogInfo("received userActivity from CoreSpotlight: " + userActivity.debugDescription());
    if (!userActivity.userInfo) return false;
    QLLogInfo("received userInfo " + describeUserInfo(*userActivity.userInfo) + " from CoreSpotlight");
    const auto found = userActivity.userInfo->find(CSSearchableItemActivityIdentifier);
    if (found == userActivity.userInfo->end()) return false;
    const auto identifier = found->second.asString();
    if (!identifier) return false;
    QLLogInfo("received point with UUID " + logQuoted(*identifier) + " from CoreSpotlight");
    passPointUUIDToMainViewController(*identifier);
    return true;
}

bool AppDelegate::handleUserActivityBrowsingWeb(const UserActivity& userActivity) {
    if (!userActivity.webpageURL) return false;
    const std::string& absoluteString = *userActivity.webpageURL;
    // Splitting also refuses links over the size every link is held to.
    const auto components = IncomingLink::split(absoluteString);
    if (!components) return false;
    QLLogDebug("universal link detected; URL: " + logQuoted(absoluteString));
    // Every link that gets this far is counted, also those refused below.
    services_.trackEventWithProperties("continueUserActivityForURL", {{"URL", absoluteString}});
    const std::string shortLinkHost = services_.shortLinkHost();
    const std::string productWebHost = services_.productWebHost();
    const auto analysis = IncomingLink::analyse(*components, shortLinkHost, productWebHost);
    using Outcome = IncomingLink::Analysis::Outcome;
    switch (analysis.outcome) {
        case Outcome::unknownScheme:
            QLLogDebug("unknown scheme passed to app [no http(s)]; ignoring");
            return false;
        case Outcome::unknownHost:
            QLLogDebug("unknown hostname passed to app; ignoring");
            return false;
        case Outcome::shortLinkKey:
        case Outcome::noKey:
        case Outcome::productWebHost:
            break;
    }
    QLLogDebug("hostname " + components->host + " passed to app; analyzing");
    QLLogDebug("path: " + logQuoted(components->path));
    if (analysis.outcome != Outcome::shortLinkKey) return false;
    decodeShorturlKey(analysis.key);
    return true;
}

void AppDelegate::decodeShorturlKey(const std::string& key) {
    QLLogDebug("decoding shorturl key " + logQuoted(key));
    auto request = platform::URLRequest::make(services_.apiBaseURL() + IncomingLink::lookupPath(key));
    if (!request) return;
    request->httpMethod = "GET";
    request->timeoutInterval = 60.0;
    request->setValue("application/json", "Content-Type");
    auto writeStandardOutput = services_.writeStandardOutput;
    auto self = std::weak_ptr<AppDelegate*>(self_);
    // One session serves every lookup, a few at a time: links handed over
    // by the thousand wait their turn instead of each taking a thread.
    const auto outcome = backend::ShorturlLookupQueue::shared().lookUp(
        key, std::move(*request),
        [writeStandardOutput, self](std::optional<std::string> location,
                                    std::optional<platform::HTTPURLResponse> response,
                                    std::optional<platform::Error> error) {
            if (error) {
                QLLogInfo("decoding response: " +
                          (response ? logQuoted(response->description()) : std::string("none")));
                QLLogInfo("decoding error: " + logQuoted(error->description));
                return;
            }
            if (!location) {
                QLLogDebug("no file URL retrieved; nothing to do");
                return;
            }
            auto bytes =
                platform::FileManager::defaultManager().readFileSafely(*location, kMaximumReplyBytes);
            if (!bytes) {
                QLLogDebug("can't read decoding result from file URL; nothing to do");
                return;
            }
            const std::string raw(bytes->begin(), bytes->end());
            const std::string text = platform::text::isValidUTF8(raw) ? logQuoted(raw) : std::string("none");
            std::optional<points::Shorturl> box;
            try {
                box = backend::decodeShorturl(*bytes);
            } catch (const platform::DecodingError& decodingError) {
                writeStandardOutput(decodingError.diagnostic());
            } catch (const std::exception& other) {
                writeStandardOutput(std::string("error: ") + other.what() + "\n");
            }
            QLLogInfo("data: " + text);
            QLLogInfo("shorturl: " + (box ? describeShorturl(*box) : std::string("nil")));
            if (!box) return;
            platform::DispatchQueue::main()->async([self, record = std::move(*box)] {
                if (auto delegate = self.lock()) (*delegate)->passShorturlToMainViewController(record);
            });
        });
    if (outcome == backend::ShorturlLookupQueue::Outcome::dropped) ++droppedLookups_;
}

std::shared_ptr<AppDelegate::MapScreen> AppDelegate::readyMapScreen(const char* what, bool& retry) {
    retry = false;
    const auto root = window_ != nullptr ? window_->rootViewController() : nullptr;
    if (!root) {
        QLLogInfo(std::string("no root view controller so far, will retry to pass on ") + what + " in a bit");
        retry = true;
        return nullptr;
    }
    auto screen = services_.mapScreenOf(root);
    if (!screen) {
        // Waiting cannot turn another kind of root into the map screen.
        QLLogInfo(std::string("root view controller is not the map screen; dropping ") + what);
        return nullptr;
    }
    if (!screen->hasMapView()) {
        QLLogInfo(std::string("no map view so far, will retry to pass on ") + what + " in a bit");
        retry = true;
        return nullptr;
    }
    return screen;
}

void AppDelegate::passShorturlToMainViewController(const points::Shorturl& shorturl) {
    bool retry = false;
    if (auto screen = readyMapScreen("shorturl", retry)) {
        screen->handleIncomingShorturl(shorturl);
        return;
    }
    if (!retry) return;
    platform::DispatchQueue::main()->asyncAfter(
        kHandOverRetryDelay, [self = std::weak_ptr<AppDelegate*>(self_), shorturl] {
            if (auto delegate = self.lock()) (*delegate)->passShorturlToMainViewController(shorturl);
        });
}

void AppDelegate::passPointUUIDToMainViewController(const std::string& uuid) {
    bool retry = false;
    if (auto screen = readyMapScreen("uuid", retry)) {
        screen->handleIncomingUUID(uuid);
        return;
    }
    if (!retry) return;
    platform::DispatchQueue::main()->asyncAfter(kHandOverRetryDelay,
                                                [self = std::weak_ptr<AppDelegate*>(self_), uuid] {
                                                    if (auto delegate = self.lock())
                                                        (*delegate)->passPointUUIDToMainViewController(uuid);
                                                });
}

size_t AppDelegate::openLinks(const std::vector<std::string>& links) {
    if (!launched_) {
        pendingLinks_.insert(pendingLinks_.end(), links.begin(), links.end());
        return 0;
    }
    const size_t droppedBefore = droppedLookups_;
    for (const auto& link : links) continueLink(link);
    return droppedLookups_ - droppedBefore;
}

void AppDelegate::continueLink(const std::string& link) {
    const auto activity = IncomingLink::userActivity(link);
    if (!activity) {
        QLLogInfo("ignoring link the program does not open: " +
                  logQuoted(link.size() > IncomingLink::kMaximumLinkBytes ? link.substr(0, 64) + "…" : link));
        return;
    }
    application(*activity, RestorationHandler{});
}

bool AppDelegate::applicationShouldSaveApplicationState(platform::RestorationCoder& coder) {
    QLLogInfo("application(_:shouldSaveApplicationState:)");
    return saveWithCoder(coder);
}

bool AppDelegate::applicationShouldSaveSecureApplicationState(platform::RestorationCoder& coder) {
    QLLogInfo("application(_:shouldSaveSecureApplicationState:)");
    return saveWithCoder(coder);
}

bool AppDelegate::applicationShouldRestoreSecureApplicationState(const platform::RestorationCoder& coder) {
    QLLogInfo("application(_:shouldRestoreSecureApplicationState:)");
    return shouldRestoreWithCoder(coder);
}

bool AppDelegate::applicationShouldRestoreApplicationState(const platform::RestorationCoder& coder) {
    QLLogInfo("application(_:shouldRestoreApplicationState:)");
    return shouldRestoreWithCoder(coder);
}

bool AppDelegate::saveWithCoder(platform::RestorationCoder& coder) {
    QLLogInfo("saveWithCoder(_:)");
    if (const auto version = services_.applicationVersion()) {
        coder.encode(platform::AppVersionRestorationGate::kAppVersionKey, *version);
    }
    return true;
}

bool AppDelegate::shouldRestoreWithCoder(const platform::RestorationCoder& coder) {
    const auto running = services_.applicationVersion();
    const auto saved = coder.decode<std::string>(platform::AppVersionRestorationGate::kAppVersionKey);
    if (!saved || !running) return false;
    // Exact equality: "2.0.1 " and "2.0" are other versions than "2.0.1".
    return *saved == *running;
}

bool AppDelegate::shouldSaveApplicationState(platform::RestorationCoder& coder) {
    return applicationShouldSaveSecureApplicationState(coder);
}

bool AppDelegate::shouldRestoreApplicationState(const platform::RestorationCoder& coder) {
    return applicationShouldRestoreSecureApplicationState(coder);
}

std::optional<platform::LaunchOptions> AppDelegate::launchOptions(const std::vector<std::string>& links) {
    if (links.empty()) return std::nullopt;
    return platform::LaunchOptions{{platform::kLaunchOptionsURLKey, links}};
}

}  // namespace tervolo::app
