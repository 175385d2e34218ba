#include <gtest/gtest.h>

#include <QApplication>
#include <QThread>

#include <atomic>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/AppDelegate.hpp"
#include "app/incoming/UserActivity.hpp"
#include "backend/DeviceInformation.hpp"
#include "backend/QuovaDeviceManager.hpp"
#include "backend/ShorturlLookupQueue.hpp"
#include "logging/LoggerMetadataValue.hpp"
#include "logging/QLAbstractLogger.hpp"
#include "logging/QLLog.hpp"
#include "logging/QLLogging.hpp"
#include "platform/dispatch/NotificationCenter.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "platform/net/URLSessionConfiguration.hpp"
#include "platform/ui/ApplicationLifecycle.hpp"
#include "platform/ui/Contrast.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/NavigationBar.hpp"
#include "platform/ui/RestorationArchive.hpp"
#include "platform/ui/ViewController.hpp"
#include "points/Shorturl.hpp"
#include "testsupport/Eventually.hpp"
#include "testsupport/LoopbackHTTPServer.hpp"
#include "testsupport/TemporaryFolder.hpp"
#include "testsupport/VirtualClockScope.hpp"
#include "testsupport/ui/ScreenshotSupport.hpp"
#include "testsupport/ui/TestApplication.hpp"

namespace {

using tervolo::app::AppDelegate;
using tervolo::logging::QLLogFlag;
using tervolo::logging::QLLogLevel;

// One ordered list of everything the delegate does: its log lines and the
// calls it makes of its services.
struct Journal {
    std::mutex mutex;
    std::vector<std::string> entries;
    void add(std::string entry) {
        std::lock_guard lock(mutex);
        entries.push_back(std::move(entry));
    }
    std::vector<std::string> take() {
        std::lock_guard lock(mutex);
        return std::exchange(entries, {});
    }
};

char letter(QLLogFlag flag) {
    switch (flag) {
        case QLLogFlag::error:
            return 'E';
        case QLLogFlag::warning:
            return 'W';
        case QLLogFlag::info:
            return 'I';
        case QLLogFlag::debug:
            return 'D';
        default:
            return 'V';
    }
}

class JournalLogger : public tervolo::logging::QLAbstractLogger {
  public:
    explicit JournalLogger(Journal& journal) : QLAbstractLogger("test.journal"), journal_(journal) {}
    void logMessage(const tervolo::logging::QLLogMessagePtr& message) override {
        // The wrapper's own lines are not the delegate's.
        if (message->message().rfind("event logged:", 0) == 0) return;
        journal_.add(std::string("log ") + letter(message->flag()) + " " + message->message());
    }

  private:
    Journal& journal_;
};

class RecordingLocation : public AppDelegate::LocationService {
  public:
    explicit RecordingLocation(Journal& journal) : journal_(journal) {}
    void initLocationServices() override { journal_.add("location initLocationServices"); }
    void locationFullSpeedAhead() override { journal_.add("location locationFullSpeedAhead"); }
    void locationStop() override { journal_.add("location locationStop"); }

  private:
    Journal& journal_;
};

std::string describe(const std::map<std::string, std::string>& properties) {
    std::string text;
    for (const auto& [key, value] : properties) text += (text.empty() ? "" : ",") + key + "=" + value;
    return text;
}

// The delegate with recording services, the log delivered synchronously into
// the same journal, and its own notification centre.
class AppDelegateTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tervolo::logging::setAsyncLoggingEnabled(false);
        logger_ = std::make_shared<JournalLogger>(journal_);
        tervolo::logging::QLLog::sharedInstance().addLogger(logger_);
        tervolo::logging::QLLog::sharedInstance().flushLog();
    }
    void TearDown() override {
        tervolo::logging::QLLog::sharedInstance().removeLogger(logger_);
        tervolo::logging::QLLog::sharedInstance().flushLog();
        tervolo::logging::setAsyncLoggingEnabled(true);
        tervolo::logging::resetDynamicLogLevel();
    }

    AppDelegate::Services services(bool withLocation = true) {
        AppDelegate::Services made;
        made.applyNavigationBarAppearance = [this] { journal_.add("appearance"); };
        made.addSystemLogger = [this] { journal_.add("addLogger system log"); };
        made.trackEvent = [this](const std::string& name) { journal_.add("event " + name); };
        made.trackEventWithProperties = [this](const std::string& name,
                                               const std::map<std::string, std::string>& properties) {
            journal_.add("event " + name + " {" + describe(properties) + "}");
        };
        made.launchProperties = [] {
            return std::map<std::string, std::string>{{"version", "2.1.0.7"},
                                                      {"platform", "ThinkPad"},
                                                      {"OS", "12"},
                                                      {"vendorID", "V-1"},
                                                      {"adID", ""}};
        };
        made.temporaryDirectoryURL = [] { return std::string("file:///tmp/"); };
        made.locationServices = [this, withLocation]() -> std::shared_ptr<AppDelegate::LocationService> {
            journal_.add("location shared");
            if (!withLocation) return nullptr;
            return std::make_shared<RecordingLocation>(journal_);
        };
        made.setApnsToken = [this](std::optional<std::string> token) {
            journal_.add("device apnsToken " + token.value_or("<absent>"));
        };
        made.registerWithBackend = [this] { journal_.add("device registerWithBackend"); };
        made.allTagsCount = [this]() {
            journal_.add("tags allTags");
            return tagCount_;
        };
        made.buildDefaultTags = [this] { journal_.add("tags buildDefaultTags"); };
        made.notificationCenter = &center_;
        return made;
    }

    Journal journal_;
    std::shared_ptr<JournalLogger> logger_;
    platform::NotificationCenter center_;
    std::optional<size_t> tagCount_ = size_t{4};
};

// The eleven steps in their order, with and without options, and with the log
// showing errors only: the other steps still run, their lines are not written.
TEST_F(AppDelegateTest, LaunchRunsItsStepsInOrder) {
    const std::vector<std::string> head = {"appearance", "addLogger system log"};
    const std::string launchEvent =
        "event didFinishLaunchingWithOptions {OS=12,adID=,platform=ThinkPad,vendorID=V-1,version=2.1.0.7}";
    const std::vector<std::string> tail = {"location shared", "location initLocationServices",
                                           "device apnsToken (none)", "device registerWithBackend",
                                           "tags allTags"};
    struct Case {
        const char* name;
        std::optional<platform::LaunchOptions> options;
        QLLogLevel level;
        std::vector<std::string> middle;
    };
    const std::vector<Case> cases = {
        {"no options",
         std::nullopt,
         QLLogLevel::all,
         {"log E This is an error.", "log W This is a warning.", "log I This is just a message.",
          "log V This is a verbose message.", "log I didFinishLaunchingWithOptions", launchEvent,
          "log I temp directory: file:///tmp/"}},
        {"a link",
         AppDelegate::launchOptions({"https://s.example/abcdefgh"}),
         QLLogLevel::all,
         {"log E This is an error.", "log W This is a warning.", "log I This is just a message.",
          "log V This is a verbose message.",
          "log I didFinishLaunchingWithOptions: [\"UIApplicationLaunchOptionsURLKey\": "
          "[\"https://s.example/abcdefgh\"]]",
          launchEvent, "log I temp directory: file:///tmp/"}},
        // Errors only (1); below info: errors and warnings (3).
        {"errors only", std::nullopt, QLLogLevel{1}, {"log E This is an error.", launchEvent}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tervolo::logging::setDynamicLogLevel(c.level);
        AppDelegate delegate(services());
        EXPECT_TRUE(delegate.application(c.options));
        tervolo::logging::resetDynamicLogLevel();
        std::vector<std::string> expected = head;
        expected.insert(expected.end(), c.middle.begin(), c.middle.end());
        expected.insert(expected.end(), tail.begin(), tail.end());
        EXPECT_EQ(journal_.take(), expected);
        ASSERT_NE(delegate.singleLocationManager(), nullptr);
    }
}

// Default tags are built only for a present, empty list.
TEST_F(AppDelegateTest, DefaultTagsOnlyForAnEmptyList) {
    const std::vector<std::pair<std::optional<size_t>, bool>> cases = {
        {size_t{6}, false}, {size_t{0}, true}, {std::nullopt, false}};
    for (const auto& [count, builds] : cases) {
        SCOPED_TRACE(count ? std::to_string(*count) : "no list");
        tagCount_ = count;
        AppDelegate delegate(services());
        delegate.application(std::nullopt);
        const auto entries = journal_.take();
        ASSERT_FALSE(entries.empty());
        EXPECT_EQ(entries.back() == "tags buildDefaultTags", builds);
        EXPECT_EQ(entries[entries.size() - (builds ? 2 : 1)], "tags allTags");
    }
}

// The push token is set to "(none)" before the first registration starts, and
// never to anything else.
TEST_F(AppDelegateTest, PushTokenIsNoneBeforeTheFirstRegistration) {
    AppDelegate delegate(services());
    delegate.application(std::nullopt);
    const auto entries = journal_.take();
    std::vector<std::string> device;
    for (const auto& entry : entries) {
        if (entry.rfind("device ", 0) == 0) device.push_back(entry);
    }
    EXPECT_EQ(device, (std::vector<std::string>{"device apnsToken (none)", "device registerWithBackend"}));
}

// With the real device manager: the first registration request the launch
// starts already carries the push token "(none)".
TEST_F(AppDelegateTest, TheFirstRegistrationRequestCarriesTheTokenNone) {
    tervolo::testsupport::VirtualClockScope time;  // the 10 s heartbeat stays still
    tervolo::testsupport::LoopbackHTTPServer server;
    server.route("POST", "/apps/api/device",
                 tervolo::testsupport::CannedReply::json(
                     R"({"deviceID":"42","updateCount":"0","testlevel":"0","pushlevel":"0"})"));
    tervolo::backend::QuovaDeviceManager::Dependencies dependencies;
    dependencies.apiBaseURL = [url = server.url()] { return url; };
    dependencies.deviceInformation = &tervolo::backend::DeviceInformation::current;
    dependencies.trackEvent = [](const std::string&, const std::map<std::string, std::string>&) {};
    dependencies.showTamperedCertAlert = [](std::string) {};
    const auto manager = tervolo::backend::QuovaDeviceManager::make(std::move(dependencies));
    EXPECT_FALSE(manager->apnsToken().has_value());

    AppDelegate::Services made = services();
    made.setApnsToken = [manager](std::optional<std::string> token) {
        manager->setApnsToken(std::move(token));
    };
    made.registerWithBackend = [manager] { manager->registerWithBackend(); };
    AppDelegate delegate(std::move(made));
    delegate.application(std::nullopt);
    ASSERT_TRUE(platform::RunLoop::runUntil([&] { return manager->deviceID().has_value(); }, 30));
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_NE(requests[0].body.find("\"push_token\":\"(none)\""), std::string::npos) << requests[0].body;
}

// Every handler: its line, its event, its further actions; without a location
// service only the location calls drop; below info level only the lines drop.
TEST_F(AppDelegateTest, LifecycleHandlersTable) {
    struct Row {
        const char* name;
        void (*call)(AppDelegate&);
        std::vector<std::string> actions;
        std::vector<std::string> actionsWithoutLocation;
    };
    const std::vector<Row> rows = {
        {"applicationWillResignActive",
         [](AppDelegate& d) { d.applicationWillResignActive(); },
         {"location locationStop"},
         {}},
        {"applicationDidEnterBackground", [](AppDelegate& d) { d.applicationDidEnterBackground(); }, {}, {}},
        {"applicationWillEnterForeground",
         [](AppDelegate& d) { d.applicationWillEnterForeground(); },
         {},
         {}},
        {"applicationDidBecomeActive",
         [](AppDelegate& d) { d.applicationDidBecomeActive(); },
         {"device registerWithBackend", "location locationFullSpeedAhead"},
         {"device registerWithBackend"}},
        {"applicationWillTerminate", [](AppDelegate& d) { d.applicationWillTerminate(); }, {}, {}},
        {"macApplicationDidResignActive", [](AppDelegate& d) { d.macApplicationDidResignActive(); }, {}, {}},
        {"macApplicationDidBecomeActive",
         [](AppDelegate& d) { d.macApplicationDidBecomeActive(); },
         {"device registerWithBackend"},
         {"device registerWithBackend"}},
    };
    for (const bool withLocation : {true, false}) {
        for (const bool belowInfo : {false, true}) {
            AppDelegate delegate(services(withLocation));
            delegate.application(std::nullopt);
            journal_.take();
            for (const Row& row : rows) {
                SCOPED_TRACE(std::string(row.name) + (withLocation ? " with location" : " without location") +
                             (belowInfo ? " below info" : ""));
                tervolo::logging::setDynamicLogLevel(belowInfo ? QLLogLevel{3} : QLLogLevel::all);
                row.call(delegate);
                tervolo::logging::resetDynamicLogLevel();
                std::vector<std::string> expected;
                if (!belowInfo) expected.push_back(std::string("log I ") + row.name);
                expected.push_back(std::string("event ") + row.name);
                const auto& actions = withLocation ? row.actions : row.actionsWithoutLocation;
                expected.insert(expected.end(), actions.begin(), actions.end());
                EXPECT_EQ(journal_.take(), expected);
            }
        }
    }
}

// The desktop's focus notices reach the two desktop handlers from the launch
// on, and no longer once the delegate is gone.
TEST_F(AppDelegateTest, FocusNoticesReachTheDesktopHandlers) {
    auto delegate = std::make_unique<AppDelegate>(services());
    center_.post(platform::kDesktopApplicationDidBecomeActiveNotification);
    EXPECT_TRUE(journal_.take().empty());
    delegate->application(std::nullopt);
    journal_.take();
    center_.post(platform::kDesktopApplicationDidResignActiveNotification);
    center_.post(platform::kDesktopApplicationDidBecomeActiveNotification);
    EXPECT_EQ(journal_.take(),
              (std::vector<std::string>{
                  "log I macApplicationDidResignActive", "event macApplicationDidResignActive",
                  "log I macApplicationDidBecomeActive", "event macApplicationDidBecomeActive",
                  "device registerWithBackend"}));
    delegate.reset();
    center_.post(platform::kDesktopApplicationDidBecomeActiveNotification);
    EXPECT_TRUE(journal_.take().empty());
}

// The program's own first step: bars made afterwards are white, with black
// titles, opaque; the launch event's values come from the device and the
// application, with no advertising identifier on a desktop; the temporary
// folder is a file URL.
TEST_F(AppDelegateTest, DefaultServicesOfTheFirstSteps) {
    tervolo::testsupport::sharedTestApplication("tervolo_app_tests");
    AppDelegate::Services made = services();
    made.applyNavigationBarAppearance = nullptr;
    made.launchProperties = nullptr;
    made.temporaryDirectoryURL = nullptr;
    std::map<std::string, std::string> properties;
    made.trackEventWithProperties =
        [&properties](const std::string&, const std::map<std::string, std::string>& p) { properties = p; };
    const auto saved = platform::NavigationBar::appearance();
    const char* savedTemporary = std::getenv("TMPDIR");
    const std::string savedTemporaryText = savedTemporary != nullptr ? savedTemporary : "";
    setenv("TMPDIR", "/tmp/with space", 1);
    {
        platform::NavigationBar before;
        AppDelegate delegate(std::move(made));
        delegate.application(std::nullopt);
        platform::NavigationBar after;
        EXPECT_EQ(after.barTintColor(), QColor(Qt::white));
        EXPECT_EQ(after.titleTextAttributes().foregroundColor, QColor(Qt::black));
        EXPECT_FALSE(after.isTranslucent());
        EXPECT_FALSE(before.barTintColor().has_value());
        EXPECT_TRUE(before.isTranslucent());
    }
    platform::NavigationBar::appearance() = saved;
    if (savedTemporary != nullptr) {
        setenv("TMPDIR", savedTemporaryText.c_str(), 1);
    } else {
        unsetenv("TMPDIR");
    }
    std::vector<std::string> keys;
    for (const auto& [key, value] : properties) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"OS", "adID", "platform", "vendorID", "version"}));
    EXPECT_EQ(properties["adID"], "");
    const auto entries = journal_.take();
    EXPECT_NE(std::find(entries.begin(), entries.end(), "log I temp directory: file:///tmp/with%20space/"),
              entries.end());
}

// On a dark desktop theme the program's bars take the theme's window colour and light titles instead
// of white with black: a sheet's header must not glare white over a dark screen. The title reads on
// the bar.
TEST_F(AppDelegateTest, BarsFollowADarkDesktopTheme) {
    tervolo::testsupport::sharedTestApplication("tervolo_app_tests");
    const QPalette previous = QApplication::palette();
    const auto saved = platform::NavigationBar::appearance();
    QApplication::setPalette(tervolo::testsupport::darkDesktopPalette());
    {
        AppDelegate::Services made = services();
        made.applyNavigationBarAppearance = nullptr;
        AppDelegate delegate(std::move(made));
        delegate.application(std::nullopt);
        platform::NavigationBar bar;
        ASSERT_TRUE(bar.barTintColor().has_value());
        EXPECT_EQ(*bar.barTintColor(), QApplication::palette().color(QPalette::Window));
        ASSERT_TRUE(bar.titleTextAttributes().foregroundColor.has_value());
        EXPECT_GE(
            platform::contrastRatio(*bar.titleTextAttributes().foregroundColor, bar.paintedBackground()),
            4.5);
    }
    platform::NavigationBar::appearance() = saved;
    QApplication::setPalette(previous);
    journal_.take();
}

// The map screen as the hand-over sees it, writing its calls into the
// journal and remembering on which thread they came.
class RecordingMapScreen : public AppDelegate::MapScreen {
  public:
    explicit RecordingMapScreen(Journal& journal) : journal_(journal) {}
    bool hasMapView() const override { return mapView; }
    void handleIncomingShorturl(const tervolo::points::Shorturl& shorturl) override {
        onMainThread = onMainThread && QThread::currentThread() == QCoreApplication::instance()->thread();
        journal_.add("screen handleIncomingShorturl " + shorturl.title);
    }
    void handleIncomingUUID(const std::string& uuid) override {
        onMainThread = onMainThread && QThread::currentThread() == QCoreApplication::instance()->thread();
        journal_.add("screen handleIncomingUUID " + uuid);
    }
    bool mapView = true;
    std::atomic<bool> onMainThread{true};

  private:
    Journal& journal_;
};

// The delegate with a window whose root is (or is not) the map screen, the
// short-link host "s.example", the web host "web.example", the API server on
// the loopback, and standard output captured.
class IncomingActivityTest : public AppDelegateTest {
  protected:
    void SetUp() override {
        AppDelegateTest::SetUp();
        tervolo::testsupport::sharedTestApplication("tervolo_app_tests");
        window_ = std::make_unique<platform::MainWindow>();
        window_->setRootViewController(mapScreenRoot_);
    }

    AppDelegate::Services incomingServices() {
        auto made = services();
        made.mapScreenOf = [this](const std::shared_ptr<platform::ViewController>& root)
            -> std::shared_ptr<AppDelegate::MapScreen> { return root == mapScreenRoot_ ? screen_ : nullptr; };
        made.shortLinkHost = [] { return std::string("s.example"); };
        made.productWebHost = [] { return std::string("web.example"); };
        made.apiBaseURL = [this] { return apiBaseURL_; };
        made.applicationVersion = [this] { return version_; };
        made.writeStandardOutput = [this](const std::string& text) {
            std::lock_guard lock(outputMutex_);
            output_ += text;
        };
        return made;
    }

    std::string output() {
        std::lock_guard lock(outputMutex_);
        return output_;
    }

    // Waits for a line the lookup's completion writes on its own queue.
    bool journalReaches(const std::string& entry) {
        return tervolo::testsupport::eventually(
            [&] {
                std::lock_guard lock(journal_.mutex);
                return std::find(journal_.entries.begin(), journal_.entries.end(), entry) !=
                       journal_.entries.end();
            },
            std::chrono::seconds(10));
    }

    tervolo::testsupport::LoopbackHTTPServer server_;
    std::string apiBaseURL_ = server_.url();
    std::optional<std::string> version_ = "2.0.1";
    std::shared_ptr<platform::ViewController> mapScreenRoot_ = std::make_shared<platform::ViewController>();
    std::shared_ptr<RecordingMapScreen> screen_ = std::make_shared<RecordingMapScreen>(journal_);
    std::unique_ptr<platform::MainWindow> window_;
    std::mutex outputMutex_;
    std::string output_;
};

tervolo::app::UserActivity webActivity(const std::string& link) {
    return {tervolo::app::NSUserActivityTypeBrowsingWeb, link, std::nullopt};
}

tervolo::app::UserActivity itemActivity(std::optional<platform::PropertyValue::Dictionary> userInfo) {
    return {tervolo::app::kSearchableItemActivityType, std::nullopt, std::move(userInfo)};
}

// Routing by activity type and the web-link rules, with their log lines and
// the analytics event every link past the split records.
TEST_F(IncomingActivityTest, RoutesActivitiesAndAppliesTheWebLinkRules) {
    AppDelegate delegate(incomingServices());
    delegate.setWindow(window_.get());
    const auto seen = [](const std::string& link) {
        return std::vector<std::string>{"log D universal link detected; URL: \"" + link + "\"",
                                        "event continueUserActivityForURL {URL=" + link + "}"};
    };
    const auto plus = [](std::vector<std::string> head, const std::vector<std::string>& tail) {
        head.insert(head.end(), tail.begin(), tail.end());
        return head;
    };
    const std::string longLink = "https://s.example/shared-location/" + std::string(2048, 'a');
    const std::string item =
        "log I received userActivity from CoreSpotlight: <UserActivity: type \"com.apple.corespotlightitem\"";
    struct Case {
        const char* name;
        tervolo::app::UserActivity activity;
        bool answer;
        std::vector<std::string> journal;
    };
    const std::vector<Case> cases = {
        {"short link", webActivity("https://s.example/abcdefgh"), true,
         plus(seen("https://s.example/abcdefgh"),
              {"log D hostname s.example passed to app; analyzing", "log D path: \"/abcdefgh\"",
               "log D decoding shorturl key \"abcdefgh\""})},
        {"shared location, upper-case host", webActivity("https://S.EXAMPLE/x/shared-location/zz/abcdefgh"),
         true,
         plus(
             seen("https://S.EXAMPLE/x/shared-location/zz/abcdefgh"),
             {"log D hostname s.example passed to app; analyzing",
              "log D path: \"/x/shared-location/zz/abcdefgh\"", "log D decoding shorturl key \"abcdefgh\""})},
        {"no key", webActivity("https://s.example/abcdefg"), false,
         plus(seen("https://s.example/abcdefg"),
              {"log D hostname s.example passed to app; analyzing", "log D path: \"/abcdefg\""})},
        {"web host", webActivity("https://web.example/shared-location/abcdefgh"), false,
         plus(seen("https://web.example/shared-location/abcdefgh"),
              {"log D hostname web.example passed to app; analyzing",
               "log D path: \"/shared-location/abcdefgh\""})},
        {"scheme", webActivity("ftp://s.example/abcdefgh"), false,
         plus(seen("ftp://s.example/abcdefgh"),
              {"log D unknown scheme passed to app [no http(s)]; ignoring"})},
        {"other host", webActivity("https://other.example/abcdefgh"), false,
         plus(seen("https://other.example/abcdefgh"), {"log D unknown hostname passed to app; ignoring"})},
        {"no host", webActivity("https:///abcdefgh"), false,
         plus(seen("https:///abcdefgh"), {"log D unknown hostname passed to app; ignoring"})},
        {"over 2 KiB", webActivity(longLink), false, {}},
        {"not a URL", webActivity("https://s.example/a b"), false, {}},
        {"web activity without URL",
         {tervolo::app::NSUserActivityTypeBrowsingWeb, std::nullopt, std::nullopt},
         false,
         {}},
        {"another type", {"com.example.handoff", "https://s.example/abcdefgh", std::nullopt}, false, {}},
        {"search-index item",
         itemActivity(platform::PropertyValue::Dictionary{{"kCSSearchableItemActivityIdentifier", "UUID-1"}}),
         true,
         {item + ", userInfo [\"kCSSearchableItemActivityIdentifier\": \"UUID-1\"]>",
          "log I received userInfo [\"kCSSearchableItemActivityIdentifier\": \"UUID-1\"] from CoreSpotlight",
          "log I received point with UUID \"UUID-1\" from CoreSpotlight",
          "screen handleIncomingUUID UUID-1"}},
        {"item without user info", itemActivity(std::nullopt), false, {item + ">"}},
        {"item with a number",
         itemActivity(platform::PropertyValue::Dictionary{{"kCSSearchableItemActivityIdentifier", 5}}),
         false,
         {item + ", userInfo [\"kCSSearchableItemActivityIdentifier\": 5]>",
          "log I received userInfo [\"kCSSearchableItemActivityIdentifier\": 5] from CoreSpotlight"}},
        {"item without identifier",
         itemActivity(platform::PropertyValue::Dictionary{}),
         false,
         {item + ", userInfo [:]>", "log I received userInfo [:] from CoreSpotlight"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool lookup = c.answer && c.activity.webpageURL.has_value();
        const size_t requestsBefore = server_.requestCount();
        EXPECT_EQ(delegate.application(c.activity, {}), c.answer);
        if (lookup) {
            // The lookup ends (the loopback has no such route) before the next case.
            ASSERT_TRUE(server_.waitForRequests(requestsBefore + 1));
            ASSERT_TRUE(journalReaches("log I shorturl: nil"));
        }
        auto entries = journal_.take();
        if (lookup) entries.resize(std::min(entries.size(), c.journal.size()));
        EXPECT_EQ(entries, c.journal);
    }
    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const auto& request : requests) {
        EXPECT_EQ(request.method, "GET");
        EXPECT_EQ(request.target, "/apps/api/location/shorturl/abcdefgh");
        EXPECT_EQ(request.header("Content-Type"), "application/json");
        EXPECT_EQ(request.body, "");
    }
}

std::string shorturlReply(bool withModified) {
    std::string json = R"({"id":12,"device_id":3,"device_hw_details":"ThinkPad","ios_version":"12",)"
                       R"("app_version":"2.0.1","shorturl":"https://s.example/abcdefgh","title":"Harbour",)"
                       R"("longitude":"8.5","latitude":"47.25","maptype":"s","zoom":14,)"
                       R"("timestamp":"1700000000","created":"2026-01-02")";
    if (withModified) json += R"(,"modified":"2026-01-03")";
    return json + "}";
}

// The lookup on the loopback server: a record reaches the map screen on the
// main thread; an error body prints its diagnostic and hands nothing over; a
// transport error writes its two lines; the key travels as one segment.
TEST_F(IncomingActivityTest, LooksUpShortLinksOnTheAPIServer) {
    using tervolo::testsupport::CannedReply;
    server_.route("GET", "/apps/api/location/shorturl/abcdefgh", CannedReply::json(shorturlReply(true)));
    server_.route("GET", "/apps/api/location/shorturl/missing1",
                  CannedReply::json(shorturlReply(false), 500));
    server_.route("GET", "/apps/api/location/shorturl/binary12", CannedReply::text("\xFF\xFE", 200));
    server_.route("GET", "/apps/api/location/shorturl/abc%2Fdefg", CannedReply::text("{}", 404));
    AppDelegate delegate(incomingServices());
    delegate.setWindow(window_.get());

    delegate.decodeShorturlKey("abcdefgh");
    ASSERT_TRUE(platform::RunLoop::runUntil(
        [&] {
            std::lock_guard lock(journal_.mutex);
            return !journal_.entries.empty() &&
                   journal_.entries.back() == "screen handleIncomingShorturl Harbour";
        },
        10.0));
    EXPECT_TRUE(screen_->onMainThread);
    auto entries = journal_.take();
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0], "log D decoding shorturl key \"abcdefgh\"");
    EXPECT_EQ(entries[1], "log I data: " + tervolo::logging::debugQuoted(shorturlReply(true)));
    EXPECT_EQ(entries[2].rfind("log I shorturl: Shorturl(id: 12, device_id: 3, ", 0), 0u) << entries[2];
    EXPECT_NE(entries[2].find("title: \"Harbour\""), std::string::npos);
    EXPECT_NE(entries[2].find("dataSourceName: nil"), std::string::npos);
    EXPECT_EQ(output(), "");

    // A server's error reply is not a record, whatever its status.
    delegate.decodeShorturlKey("missing1");
    ASSERT_TRUE(journalReaches("log I shorturl: nil"));
    EXPECT_EQ(journal_.take(),
              (std::vector<std::string>{"log D decoding shorturl key \"missing1\"",
                                        "log I data: " + tervolo::logging::debugQuoted(shorturlReply(false)),
                                        "log I shorturl: nil"}));
    EXPECT_EQ(output().rfind("Key 'modified' not found: ", 0), 0u) << output();
    EXPECT_NE(output().find("\ncodingPath: "), std::string::npos) << output();
    EXPECT_EQ(output().back(), '\n');

    delegate.decodeShorturlKey("binary12");
    ASSERT_TRUE(journalReaches("log I shorturl: nil"));
    const auto binary = journal_.take();
    EXPECT_NE(std::find(binary.begin(), binary.end(), "log I data: none"), binary.end());

    // A key holding "/" stays one segment of the lookup.
    delegate.decodeShorturlKey("abc/defg");
    ASSERT_TRUE(journalReaches("log I shorturl: nil"));
    journal_.take();
    EXPECT_EQ(server_.requests().back().target, "/apps/api/location/shorturl/abc%2Fdefg");

    // Nobody listens: the transport error's two lines, nothing more.
    tervolo::testsupport::LoopbackHTTPServer closed;
    apiBaseURL_ = closed.url();
    closed.stop();
    delegate.decodeShorturlKey("abcdefgh");
    ASSERT_TRUE(tervolo::testsupport::eventually(
        [&] {
            std::lock_guard lock(journal_.mutex);
            return journal_.entries.size() >= 3;
        },
        std::chrono::seconds(10)));
    platform::RunLoop::runUntilIdle();
    entries = journal_.take();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[1], "log I decoding response: none");
    EXPECT_EQ(entries[2].rfind("log I decoding error: ", 0), 0u);
    EXPECT_GT(entries[2].size(), std::string("log I decoding error: ").size());
}

// The hand-over waits in 300 ms steps while the window, its root or the map
// view is missing, and reaches the screen exactly once; a root of another
// kind drops it.
TEST_F(IncomingActivityTest, HandOverWaitsForTheMapView) {
    tervolo::testsupport::VirtualClockScope time;
    AppDelegate delegate(incomingServices());
    tervolo::points::Shorturl record;
    record.title = "Harbour";
    const std::string noRoot =
        "log I no root view controller so far, will retry to pass on shorturl in a bit";
    const std::string noMap = "log I no map view so far, will retry to pass on shorturl in a bit";

    screen_->mapView = false;
    delegate.passShorturlToMainViewController(record);
    EXPECT_EQ(journal_.take(), std::vector<std::string>{noRoot});
    time.advance(0.299);
    EXPECT_TRUE(journal_.take().empty());
    time.advance(0.001);
    EXPECT_EQ(journal_.take(), std::vector<std::string>{noRoot});
    delegate.setWindow(window_.get());
    time.advance(0.3);
    time.advance(0.3);
    time.advance(0.3);
    EXPECT_EQ(journal_.take(), (std::vector<std::string>{noMap, noMap, noMap}));
    screen_->mapView = true;
    time.advance(0.3);
    time.advance(3.0);
    EXPECT_EQ(journal_.take(), std::vector<std::string>{"screen handleIncomingShorturl Harbour"});

    // The identifier's hand-over is the same.
    delegate.setWindow(nullptr);
    delegate.passPointUUIDToMainViewController("UUID-1");
    delegate.setWindow(window_.get());
    time.advance(0.3);
    time.advance(3.0);
    EXPECT_EQ(
        journal_.take(),
        (std::vector<std::string>{"log I no root view controller so far, will retry to pass on uuid in a bit",
                                  "screen handleIncomingUUID UUID-1"}));

    // Waiting cannot make another root the map screen.
    platform::MainWindow other;
    other.setRootViewController(std::make_shared<platform::ViewController>());
    delegate.setWindow(&other);
    delegate.passShorturlToMainViewController(record);
    delegate.passPointUUIDToMainViewController("UUID-1");
    time.advance(3.0);
    EXPECT_EQ(journal_.take(),
              (std::vector<std::string>{"log I root view controller is not the map screen; dropping shorturl",
                                        "log I root view controller is not the map screen; dropping uuid"}));
    EXPECT_EQ(time.clock().pendingCount(), 0u);
}

// Links that come before the launch handler ends wait for it, in order;
// later ones are continued at once; what is no link of the program is logged.
TEST_F(IncomingActivityTest, LinksBeforeTheLaunchWaitForIt) {
    AppDelegate delegate(incomingServices());
    delegate.setWindow(window_.get());
    delegate.openLinks({"tervolo://point/A", "tervolo://point/B"});
    EXPECT_TRUE(journal_.take().empty());
    delegate.application(std::nullopt);
    std::vector<std::string> calls;
    for (const auto& entry : journal_.take()) {
        if (entry.rfind("screen ", 0) == 0) calls.push_back(entry);
    }
    EXPECT_EQ(calls,
              (std::vector<std::string>{"screen handleIncomingUUID A", "screen handleIncomingUUID B"}));
    delegate.openLinks({"tervolo://point/C", "gopher://x/y"});
    const auto after = journal_.take();
    EXPECT_EQ(after.back(), "log I ignoring link the program does not open: \"gopher://x/y\"");
    EXPECT_NE(std::find(after.begin(), after.end(), "screen handleIncomingUUID C"), after.end());
}

// Links whose lookups find the queue full are dropped, and openLinks answers
// how many, so that a later start can tell its caller; a key that waits
// already is served by its lookup and not counted, nor are links that need
// no lookup.
TEST_F(IncomingActivityTest, OpenLinksCountsLookupsDroppedByAFullQueue) {
    using tervolo::backend::ShorturlLookupQueue;
    using tervolo::testsupport::CannedReply;
    std::mutex mutex;
    std::condition_variable released;
    bool open = false;
    server_.setFallback([&](const tervolo::testsupport::RecordedRequest&) {
        std::unique_lock lock(mutex);
        released.wait(lock, [&] { return open; });
        return CannedReply::text("{}", 404);
    });
    const auto release = [&] {
        {
            std::lock_guard lock(mutex);
            open = true;
        }
        released.notify_all();
    };
    ShorturlLookupQueue queue(platform::URLSessionConfiguration::defaultConfiguration(), 1, 2);
    auto replacement = platform::SharedInstance<ShorturlLookupQueue>::replaceForTesting(queue);
    AppDelegate delegate(incomingServices());
    delegate.setWindow(window_.get());
    delegate.application(std::nullopt);

    // One runs, one waits.
    EXPECT_EQ(
        delegate.openLinks({"https://s.example/aaaaaaaa", "https://s.example/bbbbbbbb", "tervolo://point/A"}),
        0u);
    // One more waits, "bbbbbbbb" waits already, two find no place.
    EXPECT_EQ(delegate.openLinks({"https://s.example/cccccccc", "https://s.example/bbbbbbbb",
                                  "https://s.example/dddddddd", "https://s.example/eeeeeeee"}),
              2u);
    EXPECT_EQ(queue.waiting(), 2u);
    const auto entries = journal_.take();
    for (const char* key : {"dddddddd", "eeeeeeee"}) {
        EXPECT_NE(std::find(entries.begin(), entries.end(),
                            std::string("log I short-link lookup of \"") + key +
                                "\" dropped: too many lookups wait already"),
                  entries.end())
            << key;
    }
    release();
    EXPECT_TRUE(tervolo::testsupport::eventually(
        [&] { return queue.inFlight() == 0 && queue.waiting() == 0; }, std::chrono::seconds(30)));
    EXPECT_EQ(server_.requestCount(), 3u);
}

// The gate: both save operations stamp the version; both restore operations
// agree only on an equal string stamp, and give the same answer.
TEST_F(IncomingActivityTest, RestorationGateTable) {
    struct Case {
        const char* name;
        std::optional<platform::PropertyValue> stamp;
        std::optional<std::string> running;
        bool restores;
    };
    const std::vector<Case> cases = {
        {"equal", platform::PropertyValue("2.0.1"), "2.0.1", true},
        {"other version", platform::PropertyValue("2.0.1"), "2.0.2", false},
        {"trailing blank", platform::PropertyValue("2.0.1 "), "2.0.1", false},
        {"fewer components", platform::PropertyValue("2.0"), "2.0.0", false},
        {"no stamp", std::nullopt, "2.0.1", false},
        {"not a string", platform::PropertyValue(201), "201", false},
        {"version absent", platform::PropertyValue("2.0.1"), std::nullopt, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        version_ = c.running;
        AppDelegate delegate(incomingServices());
        platform::RestorationCoder coder;
        if (c.stamp) coder.encode("appVersion", *c.stamp);
        EXPECT_EQ(delegate.applicationShouldRestoreSecureApplicationState(coder), c.restores);
        EXPECT_EQ(delegate.applicationShouldRestoreApplicationState(coder), c.restores);
        EXPECT_EQ(delegate.shouldRestoreApplicationState(coder), c.restores);
        EXPECT_EQ(journal_.take(),
                  (std::vector<std::string>{"log I application(_:shouldRestoreSecureApplicationState:)",
                                            "log I application(_:shouldRestoreApplicationState:)",
                                            "log I application(_:shouldRestoreSecureApplicationState:)"}));
    }
    for (const std::optional<std::string>& running :
         {std::optional<std::string>("2.0.1"), std::optional<std::string>()}) {
        SCOPED_TRACE(running.value_or("no version"));
        version_ = running;
        AppDelegate delegate(incomingServices());
        platform::RestorationCoder plain;
        platform::RestorationCoder secure;
        EXPECT_TRUE(delegate.applicationShouldSaveApplicationState(plain));
        EXPECT_TRUE(delegate.applicationShouldSaveSecureApplicationState(secure));
        EXPECT_EQ(plain.values(), secure.values());
        EXPECT_EQ(plain.decode<std::string>("appVersion"), running);
        EXPECT_EQ(plain.values().size(), running ? 1u : 0u);
        EXPECT_EQ(journal_.take(),
                  (std::vector<std::string>{
                      "log I application(_:shouldSaveApplicationState:)", "log I saveWithCoder(_:)",
                      "log I application(_:shouldSaveSecureApplicationState:)", "log I saveWithCoder(_:)"}));
    }
}

// A controller that keeps one value across a restart.
class RestorableScreen : public platform::ViewController {
  public:
    RestorableScreen() { setRestorationIdentifier("Map"); }
    void encodeRestorableState(platform::RestorationCoder& coder) override {
        coder.encode("mapStyle", style);
    }
    void decodeRestorableState(const platform::RestorationCoder& coder) override {
        restored = coder.decode<int64_t>("mapStyle");
    }
    int64_t style = 0;
    std::optional<int64_t> restored;
};

// Saved when the program loses the focus, restored by the next run of the
// same version, not by another version's.
TEST_F(IncomingActivityTest, SaveRestartRestoreRoundTrip) {
    tervolo::testsupport::TemporaryFolder home;
    const std::string file = home.file("RestorationState.json");
    {
        auto delegate = std::make_shared<AppDelegate>(incomingServices());
        auto screen = std::make_shared<RestorableScreen>();
        screen->style = 3;
        platform::MainWindow window;
        window.setRootViewController(screen);
        platform::RestorationArchive archive(file);
        archive.setDelegate(delegate);
        archive.saveOnResignActiveAndQuit();
        platform::NotificationCenter::defaultCenter().post(
            platform::kDesktopApplicationDidResignActiveNotification, nullptr, {});
    }
    EXPECT_EQ(journal_.take(),
              (std::vector<std::string>{"log I application(_:shouldSaveSecureApplicationState:)",
                                        "log I saveWithCoder(_:)"}));
    for (const std::string running : {"2.0.2", "2.0.1"}) {
        SCOPED_TRACE(running);
        version_ = running;
        auto delegate = std::make_shared<AppDelegate>(incomingServices());
        auto screen = std::make_shared<RestorableScreen>();
        platform::RestorationArchive archive(file);
        archive.setDelegate(delegate);
        EXPECT_EQ(archive.restore({screen}), running == "2.0.1");
        EXPECT_EQ(screen->restored, running == "2.0.1" ? std::optional<int64_t>(3) : std::nullopt);
        // Once per run.
        EXPECT_FALSE(archive.restore({screen}));
        EXPECT_EQ(journal_.take(),
                  std::vector<std::string>{"log I application(_:shouldRestoreSecureApplicationState:)"});
    }
}

}  // namespace
