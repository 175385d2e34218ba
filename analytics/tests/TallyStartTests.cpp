#include <csignal>
#include <cstdlib>

#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "analytics/Tally.hpp"
#include "analytics/TallyApplicationState.hpp"
#include "analytics/TallyConnectionManager.hpp"
#include "analytics/TallyDeviceInfo.hpp"
#include "analytics/TallyPersistency.hpp"
#include "analytics/TallyQueueFile.hpp"
#include "analytics/TallyText.hpp"
#include "analytics/tests/AnalyticsTestSupport.hpp"
#include "platform/dispatch/NotificationCenter.hpp"
#include "platform/foundation/FileManager.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "testsupport/FakeAnalyticsServer.hpp"

namespace tervolo::analytics {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using testing::TallyFacadeTest;

class TallyStartTest : public TallyFacadeTest {
  protected:
    Tally& tally() { return Tally::sharedInstance(); }
    void post(const char* name) { platform::NotificationCenter::defaultCenter().post(name); }
    static size_t countWith(const std::vector<std::string>& queries, const std::string& fragment) {
        return static_cast<size_t>(std::count_if(
            queries.begin(), queries.end(),
            [&](const std::string& query) { return query.find(fragment) != std::string::npos; }));
    }
};

TEST_F(TallyStartTest, DefaultsOfTheConfigurationReachTheModules) {
    const TallyConfig defaults;
    EXPECT_EQ(defaults.updateSessionPeriod, 60.0);
    EXPECT_EQ(defaults.eventSendThreshold, 100u);
    EXPECT_EQ(defaults.storedRequestsLimit, 1000u);
    EXPECT_EQ(defaults.maxKeyLength, 128u);
    EXPECT_EQ(defaults.maxValueLength, 256u);
    EXPECT_EQ(defaults.maxSegmentationValues, 30u);
    EXPECT_TRUE(defaults.enableOrientationTracking);
    EXPECT_EQ(defaults.internalLogLevel, 4u);
    EXPECT_FALSE(defaults.requiresConsent);
    EXPECT_EQ(defaults.latitude, -180.0);

    TallyConfig config = systemConfig("http://127.0.0.1:9");
    config.storedRequestsLimit = 0;
    startOffline(config);
    auto& common = TallyCommon::sharedInstance();
    EXPECT_TRUE(common.hasStarted_());
    EXPECT_EQ(common.maxKeyLength(), 128u);
    EXPECT_TRUE(common.enableOrientationTracking());
    auto persistency = TallyPersistency::sharedInstance();
    EXPECT_EQ(persistency->eventSendThreshold(), 100u);
    EXPECT_EQ(persistency->storedRequestsLimit(), 1u);  // 0 is raised to 1
    EXPECT_EQ(TallyDeviceInfo::sharedInstance().deviceID(), "DEV");
    EXPECT_EQ(tally().deviceIDType(), TLYDeviceIDTypeCustom);
    EXPECT_THAT(last(), HasSubstr("&begin_session=1&metrics="));
    EXPECT_EQ(logger_->count("[Info] Initializing with tally-native-cpp SDK v21.11.2"), 1u);
}

TEST_F(TallyStartTest, MissingKeyOrHostIsRefusedBeforeTheClientCountsAsStarted) {
    const struct {
        const char* name;
        std::string appKey;
        std::string host;
        const char* error;
        const char* reason;
    } cases[] = {
        {"placeholder key", "YOUR_APP_KEY", "https://a.invalid", "TallyAppKeyNotSetException",
         "appKey property on TallyConfig object is not set"},
        {"empty key", "", "https://a.invalid", "TallyAppKeyNotSetException",
         "appKey property on TallyConfig object is not set"},
        {"empty host", "KEY", "", "TallyHostNotSetException",
         "host property on TallyConfig object is not set"},
        {"placeholder host", "KEY", "https://YOUR_TALLY_SERVER", "TallyHostNotSetException",
         "host property on TallyConfig object is not set"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        TallyConfig config = systemConfig(row.host);
        config.appKey = row.appKey;
        try {
            tally().startWithConfig(config);
            ADD_FAILURE() << "no error";
        } catch (const TallyConfigError& error) {
            EXPECT_EQ(error.name(), row.error);
            EXPECT_EQ(error.reason(), row.reason);
        }
        EXPECT_FALSE(TallyCommon::sharedInstance().hasStarted_());
        EXPECT_EQ(TallyConnectionManager::sharedInstance(), nullptr);
    }
    // A corrected start then works, and a second start changes nothing.
    startOffline();
    TallyConfig other = systemConfig("http://other.invalid");
    other.appKey = "OTHER";
    tally().startWithConfig(other);
    EXPECT_EQ(TallyConnectionManager::sharedInstance()->appKey(), "KEY");
    EXPECT_EQ(TallyConnectionManager::sharedInstance()->host(), "http://127.0.0.1:9");
}

TEST_F(TallyStartTest, ASessionArrivesAtTheServerInOrder) {
    tervolo::testsupport::FakeAnalyticsServer server;
    TallyConfig config = systemConfig(server.host());
    config.loggerDelegate = logger_;
    tally().startWithConfig(config);
    tally().recordEvent("didFinishLaunchingWithOptions");
    TallyJSON segmentation = TallyJSON::object();
    segmentation["version"] = "1.0";
    tally().recordEvent("mapOpened", segmentation);
    ASSERT_TRUE(server.waitForRequests(1));

    time_.advance(60);  // the session timer's tick
    post(kTallyApplicationDidEnterBackground);
    post(kTallyApplicationWillEnterForeground);
    ASSERT_TRUE(server.waitForRequests(5));
    ASSERT_TRUE(TallyConnectionManager::sharedInstance()->waitUntilIdle(10));

    const auto queries = server.queries();
    ASSERT_EQ(queries.size(), 5u);
    EXPECT_THAT(queries[0], HasSubstr("&begin_session=1&metrics="));
    EXPECT_THAT(queries[1], HasSubstr("&session_duration=60"));
    EXPECT_THAT(queries[2], HasSubstr("&events=%5B%7B%22key%22%3A%22didFinishLaunchingWithOptions%22"));
    EXPECT_THAT(queries[2],
                HasSubstr("%22mapOpened%22%2C%22segmentation%22%3A%7B%22version%22%3A%221.0%22%7D"));
    EXPECT_THAT(queries[3], HasSubstr("&end_session=1&session_duration=0"));
    EXPECT_THAT(queries[4], HasSubstr("&begin_session=1"));
    for (const auto& request : server.requests()) {
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.target, "/i");
    }
    EXPECT_EQ(TallyPersistency::sharedInstance()->queueCount(), 0u);
}

TEST_F(TallyStartTest, ForegroundWithoutBackgroundBeginsNoSecondSession) {
    startOffline();
    post(kTallyApplicationWillEnterForeground);
    tally().resume();
    EXPECT_EQ(countWith(queued(), "&begin_session=1"), 1u);
    // While suspended the timer's ticks do nothing; a real return begins one.
    post(kTallyApplicationDidEnterBackground);
    EXPECT_TRUE(tally().isSuspended());
    const size_t before = queued().size();
    time_.advance(120);
    EXPECT_EQ(queued().size(), before);
    post(kTallyApplicationWillEnterForeground);
    EXPECT_EQ(countWith(queued(), "&begin_session=1"), 2u);
    EXPECT_EQ(countWith(queued(), "&end_session=1"), 1u);
}

TEST_F(TallyStartTest, DesktopStatesMapToBackgroundAndForeground) {
    struct Recorder {
        std::vector<std::string> names;
        std::vector<std::unique_ptr<platform::NotificationCenter::Token>> tokens;
    } recorder;
    for (const char* name : {kTallyApplicationDidEnterBackground, kTallyApplicationWillEnterForeground,
                             kTallyApplicationWillTerminate}) {
        recorder.tokens.push_back(platform::NotificationCenter::defaultCenter().addObserver(
            name, nullptr, [&recorder](const auto& note) { recorder.names.push_back(note.name); }));
    }
    using S = TallyDesktopState;
    const struct {
        const char* name;
        std::vector<S> states;
        std::vector<std::string> expected;
    } cases[] = {
        {"focus lost and back is no background", {S::Active, S::Inactive, S::Active}, {}},
        {"minimised and restored",
         {S::Active, S::Inactive, S::Hidden, S::Active},
         {kTallyApplicationDidEnterBackground, kTallyApplicationWillEnterForeground}},
        {"hidden twice posts once",
         {S::Hidden, S::Suspended, S::Inactive, S::Active},
         {kTallyApplicationDidEnterBackground, kTallyApplicationWillEnterForeground}},
        {"active at launch posts nothing", {S::Active, S::Active}, {}},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        recorder.names.clear();
        TallyApplicationState state;
        for (auto s : row.states) state.update(s);
        EXPECT_EQ(recorder.names, row.expected);
    }
    recorder.names.clear();
    TallyApplicationState state;
    state.terminate();
    state.terminate();
    state.update(S::Hidden);
    EXPECT_THAT(recorder.names, ::testing::ElementsAre(kTallyApplicationWillTerminate));
}

TEST_F(TallyStartTest, TerminateWritesTheQueueBeforeReturning) {
    startOffline();
    tally().recordEvent("last words");
    post(kTallyApplicationWillTerminate);
    EXPECT_TRUE(TallyConnectionManager::sharedInstance()->isTerminating());
    // Read the file as the next process will, without any writer running.
    auto bytes = platform::FileManager::defaultManager().readFile(TallyPersistency::storageFile());
    ASSERT_TRUE(bytes.ok());
    auto snapshot = TallyQueueFile::decodeSnapshot(std::string(bytes.value().begin(), bytes.value().end()));
    ASSERT_TRUE(snapshot);
    ASSERT_EQ(snapshot->requests.size(), 2u);
    EXPECT_THAT(snapshot->requests[1], HasSubstr("last%20words"));
}

TEST_F(TallyStartTest, DeviceIdentifierChanges) {
    TallyConfig config = systemConfig("http://127.0.0.1:9");
    config.deviceID = TLYTemporaryDeviceID;
    startOffline(config);
    EXPECT_EQ(tally().deviceIDType(), TLYDeviceIDTypeTemporary);
    EXPECT_THAT(last(), HasSubstr("&device_id=TLYTemporaryDeviceID&"));
    tally().setNewDeviceID("user 1", true);
    EXPECT_EQ(tally().deviceID(), "user%201");
    EXPECT_THAT(queued().front(), HasSubstr("&device_id=user%201&"));
    EXPECT_EQ(logger_->count("Going out of TLYTemporaryDeviceID mode"), 1u);

    tally().setNewDeviceID("user 1", true);
    EXPECT_EQ(logger_->count("Attempted to set the same device ID again."), 1u);
    tally().setNewDeviceID("user 2", true);
    EXPECT_THAT(last(), AllOf(HasSubstr("&device_id=user%202&"), HasSubstr("&old_device_id=user%201")));
    // A new user without merging: the session ends under the old ID, begins under the new.
    tally().setNewDeviceID("user 3", false);
    const auto all = queued();
    EXPECT_THAT(all[all.size() - 2], AllOf(HasSubstr("&device_id=user%202&"), HasSubstr("&end_session=1")));
    EXPECT_THAT(all.back(), AllOf(HasSubstr("&device_id=user%203&"), HasSubstr("&begin_session=1")));
    // A restart keeps the stored ID over the configured one.
    Tally::sharedInstance().resetForTesting();
    testing::resetAnalyticsModules();
    TallyCommon::sharedInstance().setHasStarted(false);
    TallyDeviceInfo::sharedInstance().resetForTesting();
    startOffline();
    EXPECT_EQ(TallyDeviceInfo::sharedInstance().deviceID(), "user 3");
}

TEST_F(TallyStartTest, Attribution) {
    startOffline();
    tally().recordDirectAttributionWithCampaignType("tally", R"({"cid":"c&1","cuid":"u 1"})");
    EXPECT_THAT(last(), ::testing::EndsWith("&campaign_id=c%261&campaign_user=u%201"));
    const size_t before = queued().size();
    tally().recordDirectAttributionWithCampaignType("tally", R"(["not", "an object"])");
    tally().recordDirectAttributionWithCampaignType("tally", R"({"cuid":"u"})");
    tally().recordDirectAttributionWithCampaignType("other", R"({"cid":"c"})");
    tally().recordDirectAttributionWithCampaignType("", "x");
    EXPECT_EQ(queued().size(), before);
    EXPECT_EQ(logger_->count("Campaign data is not in expected format."), 1u);
    EXPECT_EQ(logger_->count("Campaign ID must be non-zero length valid string."), 1u);
    tally().recordDirectAttributionWithCampaignType("_special_test", "raw&data");
    EXPECT_THAT(last(), ::testing::EndsWith("&attribution_data=raw%26data"));

    TallyJSON indirect = TallyJSON::object();
    indirect["idfa"] = "X";
    indirect["empty"] = "";
    indirect["number"] = 5;
    tally().recordIndirectAttribution(indirect);
    EXPECT_THAT(last(), ::testing::EndsWith("&aid=%7B%22idfa%22%3A%22X%22%7D"));
}

// The child half of the kill test: a running client with queued requests,
// killed without any chance to save. Skipped unless started by the parent.
TEST_F(TallyStartTest, ChildRunsASessionThenWaitsToBeKilled) {
    const char* fd = std::getenv("TALLY_TEST_CHILD_FD");
    if (fd == nullptr) {
        GTEST_SKIP() << "runs only as the child of QueuedWorkSurvivesAKilledSession";
    }
    ::setenv("XDG_DATA_HOME", std::getenv("TALLY_TEST_DATA_HOME"), 1);
    ::setenv("XDG_CONFIG_HOME", std::getenv("TALLY_TEST_CONFIG_HOME"), 1);
    platform::UserDefaults::standard().reload();
    TallyDeviceInfo::sharedInstance().resetForTesting();
    startOffline();
    for (int i = 0; i < 100; ++i) tally().recordEvent(fmt::format("child {}", i));
    tally().recordEvent("still in memory");  // fewer than 100: lost by design
    ASSERT_EQ(::write(std::atoi(fd), "k", 1), 1);
    for (;;) ::pause();
}

TEST_F(TallyStartTest, QueuedWorkSurvivesAKilledSession) {
    int pipeFDs[2];
    ASSERT_EQ(::pipe(pipeFDs), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipeFDs[0]);
        ::setenv("TALLY_TEST_CHILD_FD", std::to_string(pipeFDs[1]).c_str(), 1);
        ::setenv("TALLY_TEST_DATA_HOME", folder_.dataHome().c_str(), 1);
        ::setenv("TALLY_TEST_CONFIG_HOME", folder_.configHome().c_str(), 1);
        ::execl("/proc/self/exe", "child",
                "--gtest_filter=TallyStartTest.ChildRunsASessionThenWaitsToBeKilled",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipeFDs[1]);
    char byte = 0;
    ASSERT_EQ(::read(pipeFDs[0], &byte, 1), 1);
    ::close(pipeFDs[0]);
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));

    // The next start on the same folders sends what the killed one queued.
    platform::UserDefaults::standard().reload();
    TallyDeviceInfo::sharedInstance().resetForTesting();
    tervolo::testsupport::FakeAnalyticsServer server;
    TallyConfig config = systemConfig(server.host());
    config.loggerDelegate = logger_;
    tally().startWithConfig(config);
    ASSERT_TRUE(server.waitForRequests(3));
    ASSERT_TRUE(TallyConnectionManager::sharedInstance()->waitUntilIdle(10));
    const auto queries = server.queries();
    ASSERT_EQ(queries.size(), 3u);
    EXPECT_THAT(queries[0], HasSubstr("&begin_session=1"));
    const auto events = tly_valueForQueryStringKey(queries[1], "events");
    ASSERT_TRUE(events);
    EXPECT_EQ(TallyJSON::parse(*events).size(), 100u);
    EXPECT_THAT(queries[2], HasSubstr("&begin_session=1"));
    EXPECT_THAT(*events, Not(HasSubstr("still in memory")));
}

}  // namespace
}  // namespace tervolo::analytics
