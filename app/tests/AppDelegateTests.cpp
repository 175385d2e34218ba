#include <gtest/gtest.h>

#include <QApplication>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/AppDelegate.hpp"
#include "backend/DeviceInformation.hpp"
#include "backend/QuovaDeviceManager.hpp"
#include "logging/QLAbstractLogger.hpp"
#include "logging/QLLog.hpp"
#include "logging/QLLogging.hpp"
#include "platform/dispatch/NotificationCenter.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/ui/ApplicationLifecycle.hpp"
#include "platform/ui/NavigationBar.hpp"
#include "testsupport/LoopbackHTTPServer.hpp"
#include "testsupport/VirtualClockScope.hpp"

namespace {

using tervolo::app::AppDelegate;
using tervolo::logging::QLLogFlag;
using tervolo::logging::QLLogLevel;

QApplication& application() {
    static int argc = 1;
    static char name[] = "tervolo_app_tests";
    static char* argv[] = {name, nullptr};
    // One application object for the whole binary, whichever test asks first.
    static auto* app = QApplication::instance() != nullptr
                           ? static_cast<QApplication*>(QCoreApplication::instance())
                           : new QApplication(argc, argv);
    return *app;
}

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
    application();
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

}  // namespace
