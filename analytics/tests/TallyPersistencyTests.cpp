#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "analytics/TallyConnectionManager.hpp"
#include "analytics/TallyDeviceInfo.hpp"
#include "analytics/TallyPersistency.hpp"
#include "analytics/TallyQueueFile.hpp"
#include "analytics/TallyText.hpp"
#include "analytics/tests/AnalyticsTestSupport.hpp"
#include "platform/foundation/UserDefaults.hpp"

namespace tervolo::analytics {
namespace {

using testing::StartedAnalyticsTest;

class TallyPersistencyTest : public StartedAnalyticsTest {
  protected:
    std::shared_ptr<TallyPersistency> persistency() { return TallyPersistency::sharedInstance(); }
    // A new process on the same folder: the queue as read from disk.
    std::vector<std::string> afterRestart() {
        TallyPersistency::resetForTesting();
        return queued();
    }
    static std::string contentOf(const std::string& path) {
        std::ifstream file(path, std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
};

TEST_F(TallyPersistencyTest, QueueLimitTable) {
    const struct {
        const char* name;
        uint64_t limit;
        bool inFlight;
        int adds;
        std::vector<std::string> expected;
    } cases[] = {
        {"under the limit keeps all", 3, false, 3, {"q1", "q2", "q3"}},
        {"one over drops the oldest", 3, false, 4, {"q2", "q3", "q4"}},
        {"in flight keeps the head, drops the oldest behind it", 3, true, 5, {"q1", "q4", "q5"}},
        {"limit 0 behaves as 1", 0, false, 3, {"q3"}},
        {"limit 0 in flight keeps the head alone", 0, true, 3, {"q1"}},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        auto queue = persistency();
        queue->flushQueue();
        queue->setStoredRequestsLimit(row.limit);
        TallyConnectionManager::sharedInstance()->setRequestInFlightForTesting(row.inFlight);
        for (int i = 1; i <= row.adds; ++i) queue->addToQueue(fmt::format("q{}", i));
        EXPECT_EQ(queue->queuedRequests(), row.expected);
        TallyConnectionManager::sharedInstance()->setRequestInFlightForTesting(false);
    }
    // The default limit: the 1001st addition drops the oldest.
    auto queue = persistency();
    queue->flushQueue();
    queue->setStoredRequestsLimit(1000);
    for (int i = 1; i <= 1001; ++i) queue->addToQueue(fmt::format("q{}", i));
    EXPECT_EQ(queue->queueCount(), 1000u);
    EXPECT_EQ(queue->firstItemInQueue(), "q2");
}

TEST_F(TallyPersistencyTest, HeadRemovalAndRewrites) {
    auto queue = persistency();
    queue->addToQueue("");
    queue->addToQueue("app_key=KEY&device_id=TLYTemporaryDeviceID&timestamp=1");
    queue->addToQueue("app_key=KEY&device_id=DEV&timestamp=2");
    EXPECT_EQ(queue->queueCount(), 2u);                               // the empty one is ignored
    queue->removeFromQueue("app_key=KEY&device_id=DEV&timestamp=2");  // not the head
    EXPECT_EQ(queue->queueCount(), 2u);

    queue->replaceAllTemporaryDeviceIDsInQueueWithDeviceID("new id/1");
    EXPECT_EQ(queue->firstItemInQueue(), "app_key=KEY&device_id=new%20id%2F1&timestamp=1");

    // App keys compare in their escaped form: a key with a blank matches itself.
    queue->flushQueue();
    TallyConnectionManager::sharedInstance()->setAppKey("a b");
    queue->addToQueue("app_key=a%20b&x=1");
    queue->addToQueue("app_key=OLD&x=2");
    queue->replaceAllAppKeysInQueueWithCurrentAppKey();
    EXPECT_THAT(queue->queuedRequests(), ::testing::ElementsAre("app_key=a%20b&x=1", "app_key=a%20b&x=2"));
    EXPECT_EQ(logger_->count("Detected a request with a different app key (OLD) in queue and replaced it"),
              1u);
    queue->addToQueue("app_key=OTHER&x=3");
    queue->removeDifferentAppKeysFromQueue();
    EXPECT_THAT(queue->queuedRequests(), ::testing::ElementsAre("app_key=a%20b&x=1", "app_key=a%20b&x=2"));
    EXPECT_FALSE(queue->isQueueBeingModified());
}

TEST_F(TallyPersistencyTest, QueueSurvivesARestartInOrder) {
    auto queue = persistency();
    for (int i = 1; i <= 3; ++i) queue->addToQueue(fmt::format("q{}", i));
    queue.reset();
    EXPECT_THAT(afterRestart(), ::testing::ElementsAre("q1", "q2", "q3"));

    // A sent head stays gone once saved; additions after the save still count.
    queue = persistency();
    queue->removeFromQueue("q1");
    queue->saveToFileSync();
    queue->addToQueue("q4");
    queue.reset();
    EXPECT_THAT(afterRestart(), ::testing::ElementsAre("q2", "q3", "q4"));
    EXPECT_EQ(contentOf(TallyPersistency::storageFile()).rfind("TervoloNG analytics queue 1\n", 0), 0u);
}

TEST_F(TallyPersistencyTest, CorruptOrForeignFilesAreRefusedCleanly) {
    const std::string valid = TallyQueueFile::encodeSnapshot({7, {"q1", "q2"}});
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"torn", valid.substr(0, valid.size() / 2)},
        {"foreign archive", "bplist00\xD4\x01\x02\x03"},
        {"random bytes", std::string("\x00\xFF\x13\x37garbage", 11)},
        {"wrong types",
         "TervoloNG analytics queue 1\n{\"generation\":1,\"kTallyQueuedRequestsPersistencyKey\":[1]}"},
        {"empty", ""},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        TallyPersistency::resetForTesting();
        std::remove(TallyPersistency::journalFile().c_str());
        std::ofstream(TallyPersistency::storageFile(), std::ios::binary) << row.bytes;
        logger_->clear();
        EXPECT_TRUE(queued().empty());
        EXPECT_EQ(contentOf(TallyPersistency::storageFile() + ".corrupt"), row.bytes);
        EXPECT_EQ(logger_->count("Stored request queue can not be read and is moved aside"), 1u);
        // The client goes on working.
        persistency()->addToQueue("after");
        EXPECT_THAT(afterRestart(), ::testing::ElementsAre("after"));
    }
}

TEST_F(TallyPersistencyTest, JournalTailsAreReadSafely) {
    // A torn last line (its append never finished) and lines of generations
    // the snapshot covers are skipped.
    std::ofstream(TallyPersistency::storageFile()) << TallyQueueFile::encodeSnapshot({5, {"q1"}});
    std::ofstream(TallyPersistency::journalFile())
        << TallyQueueFile::encodeJournalLine(5, "old") << "garbage\n"
        << TallyQueueFile::encodeJournalLine(6, "q2") << "7\t\"tor";
    TallyPersistency::resetForTesting();
    EXPECT_THAT(queued(), ::testing::ElementsAre("q1", "q2"));
    EXPECT_EQ(logger_->count("1 unreadable line(s) in the request journal skipped"), 1u);
    // A new addition after a restart sorts after everything on disk.
    persistency()->addToQueue("q3");
    EXPECT_THAT(afterRestart(), ::testing::ElementsAre("q1", "q2", "q3"));
}

// The child half of the kill test: queue one request, tell the parent, wait
// to be killed. Skipped unless the parent started this binary for it.
TEST_F(TallyPersistencyTest, ChildQueuesThenWaitsToBeKilled) {
    const char* fd = std::getenv("TALLY_TEST_CHILD_FD");
    if (fd == nullptr) {
        GTEST_SKIP() << "runs only as the child of QueuedRequestSurvivesSigkill";
    }
    // The parent's folder, not this fixture's own.
    ::setenv("XDG_DATA_HOME", std::getenv("TALLY_TEST_DATA_HOME"), 1);
    TallyPersistency::resetForTesting();
    // No snapshot can be written here (its temporary name is taken by a
    // folder): what survives the kill is what addToQueue itself put on disk.
    std::filesystem::create_directory(TallyPersistency::storageFile() + ".tmp");
    persistency()->addToQueue("child=1&right=before-the-kill");
    const int out = std::atoi(fd);
    ASSERT_EQ(::write(out, "k", 1), 1);
    for (;;) ::pause();
}

TEST_F(TallyPersistencyTest, QueuedRequestSurvivesSigkill) {
    persistency()->addToQueue("parent=1");
    TallyPersistency::resetForTesting();
    int pipeFDs[2];
    ASSERT_EQ(::pipe(pipeFDs), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipeFDs[0]);
        const std::string fd = std::to_string(pipeFDs[1]);
        ::setenv("TALLY_TEST_CHILD_FD", fd.c_str(), 1);
        ::setenv("TALLY_TEST_DATA_HOME", folder_.dataHome().c_str(), 1);
        ::execl("/proc/self/exe", "child",
                "--gtest_filter=TallyPersistencyTest.ChildQueuesThenWaitsToBeKilled",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipeFDs[1]);
    char byte = 0;
    ASSERT_EQ(::read(pipeFDs[0], &byte, 1), 1);  // addToQueue has returned in the child
    ::close(pipeFDs[0]);
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_TRUE(std::filesystem::is_directory(TallyPersistency::storageFile() + ".tmp"));
    std::filesystem::remove(TallyPersistency::storageFile() + ".tmp");
    EXPECT_THAT(queued(), ::testing::ElementsAre("parent=1", "child=1&right=before-the-kill"));
}

TEST_F(TallyPersistencyTest, EventThresholdQueuesOneRequestWithAllEvents) {
    auto queue = persistency();
    for (int i = 0; i < 99; ++i) queue->recordEvent(TallyEvent{.key = fmt::format("e{}", i)});
    EXPECT_TRUE(queue->queuedRequests().empty());
    queue->recordEvent(TallyEvent{.key = "e99"});
    ASSERT_EQ(queue->queueCount(), 1u);
    EXPECT_EQ(queue->recordedEventCount(), 0u);
    const auto events = tly_valueForQueryStringKey(*queue->firstItemInQueue(), "events");
    ASSERT_TRUE(events);
    EXPECT_EQ(TallyJSON::parse(*events).size(), 100u);
}

TEST_F(TallyPersistencyTest, RecordedEventsAreCutToTheLimits) {
    auto queue = persistency();
    TallyJSON segmentation = TallyJSON::object();
    for (int i = 0; i < 31; ++i) segmentation[fmt::format("k{}", i)] = "v";
    segmentation["k0"] = std::string(300, 'v');
    queue->recordEvent(TallyEvent{.key = std::string(200, 'e'), .segmentation = segmentation});
    const auto events = TallyJSON::parse(*tly_percentDecoded(*queue->serializedRecordedEvents()));
    EXPECT_EQ(events[0]["key"], std::string(128, 'e'));
    EXPECT_EQ(events[0]["segmentation"].size(), 30u);
    EXPECT_EQ(events[0]["segmentation"]["k0"], std::string(256, 'v'));
    EXPECT_EQ(queue->serializedRecordedEvents(), std::nullopt);
}

TEST_F(TallyPersistencyTest, TimedEventsKeepTheFirstStart) {
    auto queue = persistency();
    queue->recordTimedEvent(TallyEvent{.key = "t", .timestamp = 1});
    queue->recordTimedEvent(TallyEvent{.key = "t", .timestamp = 2});
    EXPECT_EQ(logger_->count("Event with key 't' already started!"), 1u);
    auto started = queue->timedEventForKey("t");
    ASSERT_TRUE(started);
    EXPECT_EQ(started->timestamp, 1);
    EXPECT_EQ(queue->timedEventForKey("t"), std::nullopt);
    queue->recordTimedEvent(TallyEvent{.key = "u"});
    queue->clearAllTimedEvents();
    EXPECT_EQ(queue->timedEventForKey("u"), std::nullopt);
}

TEST_F(TallyPersistencyTest, BreadcrumbAppendsFromManyThreadsAreAllKept) {
    auto queue = persistency();
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) queue->writeCustomCrashLogToFile(fmt::format("crumb {} {}", t, i));
        });
    }
    for (auto& thread : threads) thread.join();
    queue->waitForPendingCrashLogWrites();
    const auto text = queue->customCrashLogsFromFile();
    ASSERT_TRUE(text);
    EXPECT_EQ(std::count(text->begin(), text->end(), '\n'), 200);
    EXPECT_THAT(*text, ::testing::HasSubstr("crumb 7 24\n"));
    queue->deleteCustomCrashLogFile();
    EXPECT_EQ(queue->customCrashLogsFromFile(), std::nullopt);
    EXPECT_EQ(logger_->count("Detected Crash Log File and deleting it."), 1u);
}

TEST_F(TallyPersistencyTest, UserDefaultValuesKeepTheirTypes) {
    EXPECT_FALSE(TallyPersistency::retrieveIsCustomDeviceID());
    TallyPersistency::storeIsCustomDeviceID(true);
    EXPECT_TRUE(TallyPersistency::retrieveIsCustomDeviceID());
    EXPECT_EQ(TallyPersistency::retrieveRemoteConfig(), TallyJSON::object());
    TallyJSON config = TallyJSON::object();
    config["a"] = 1;
    config["b"] = TallyJSON::array({"x"});
    TallyPersistency::storeRemoteConfig(config);
    EXPECT_EQ(TallyPersistency::retrieveRemoteConfig()["b"][0], "x");
    // A value of the wrong type reads as absent.
    platform::UserDefaults::standard().set("kTallyStarRatingStatusKey", "text");
    EXPECT_EQ(TallyPersistency::retrieveStarRatingStatus(), TallyJSON::object());
    platform::UserDefaults::standard().set("kTallyNotificationPermissionKey", 1);
    EXPECT_FALSE(TallyPersistency::retrieveNotificationPermission());
    TallyPersistency::storeDeviceID("D1");
    EXPECT_EQ(TallyPersistency::retrieveDeviceID(), "D1");
}

}  // namespace
}  // namespace tervolo::analytics
