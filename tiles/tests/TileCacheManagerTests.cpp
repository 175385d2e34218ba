#include <filesystem>

#include <gtest/gtest.h>

#include "platform/dispatch/NotificationCenter.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/foundation/Bundle.hpp"
#include "testsupport/UDPListener.hpp"
#include "testsupport/tiles/FakeTileDownloadSession.hpp"
#include "testsupport/tiles/LoopbackTileServer.hpp"
#include "tiles/tests/TilesTestSupport.hpp"

namespace tervolo::tiles {
namespace {

using tervolo::testsupport::errorReply;
using tervolo::testsupport::FakeTileSessions;
using tervolo::testsupport::httpReply;
using tervolo::testsupport::LoopbackTileServer;
using Task = tervolo::testsupport::FakeTileDownloadSession::Task;
using testing::FixedViewDelegate;
using testing::RecordingRenderer;
using testing::TilesTest;

const std::string kPattern = "https://tiles.example/osm/%1$@/%2$@/%3$@.png";

class TileCacheManagerTest : public TilesTest {
  protected:
    void SetUp() override {
        TilesTest::SetUp();
        TileCacheManager::setSessionFactory(sessions_.factory());
    }
    void TearDown() override {
        sessions_.finishAllCancelled();
        TilesTest::TearDown();
    }
    std::shared_ptr<TileCacheManager> make(std::vector<std::string> prefixes,
                                           const std::string& map = "OSM") {
        auto manager =
            TileCacheManager::initWithMap(map, kPattern, std::move(prefixes), map + "Tiles", view_);
        EXPECT_TRUE(manager);
        return manager;
    }
    void ask(TileCacheManager& manager, uint64_t x, uint64_t y = 0, uint64_t z = 5) {
        manager.downloadTileAsync(tile(z, x, y), renderer_, {0, 0, 256, 256}, 1.0);
    }
    std::string png(int x) { return LoopbackTileServer::tilePNG(5, x, 0, 8); }
    // Tasks whose URL is the tile's, in creation order.
    std::vector<std::shared_ptr<Task>> tasksFor(const std::string& suffix) {
        std::vector<std::shared_ptr<Task>> found;
        for (auto& task : sessions_.allTasks()) {
            if (task->url.ends_with(suffix)) found.push_back(task);
        }
        return found;
    }

    FakeTileSessions sessions_;
    std::shared_ptr<FixedViewDelegate> view_ =
        std::make_shared<FixedViewDelegate>(5, QuovaTileRect(0, 3, 0, 0));
    std::shared_ptr<RecordingRenderer> renderer_ = std::make_shared<RecordingRenderer>();
};

TEST_F(TileCacheManagerTest, LimitsByPrefixCount) {
    struct Case {
        size_t prefixes;
        int32_t start;
        int32_t ceiling;
    } cases[] = {{0, 6, 0}, {1, 1, 8}, {4, 4, 32}, {5, 5, 40}, {6, 6, 48}, {7, 7, 48}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.prefixes);
        std::vector<std::string> prefixes;
        for (size_t i = 0; i < c.prefixes; ++i) prefixes.push_back(std::string(1, char('a' + i)));
        auto manager = make(prefixes, "Limits" + std::to_string(c.prefixes));
        EXPECT_EQ(manager->concurrentDLs(), c.start);
        EXPECT_EQ(manager->maxRunningTileConnections(), c.ceiling);
        EXPECT_EQ(manager->tileDownloadPrefixCount(), c.prefixes);
    }
}

TEST_F(TileCacheManagerTest, ThrottleStepsBetweenTheFloorAndTheCeiling) {
    auto four = make({"a", "b", "d", "e"});
    four->throttle();
    EXPECT_EQ(four->concurrentDLs(), 4) << "a start below the floor is never lowered";
    four->unthrottle();
    four->unthrottle();
    EXPECT_EQ(four->concurrentDLs(), 4);
    four->unthrottle();
    EXPECT_EQ(four->concurrentDLs(), 5);
    auto lines = systemLines();
    EXPECT_EQ(countSystemLines("not yet unthrottling; stepper value is 2"), 1u);
    EXPECT_EQ(countSystemLines("not yet unthrottling; stepper value is 1"), 1u);
    EXPECT_EQ(countSystemLines("unthrottling downloads; concurrent DLs limited to 5"), 1u);
    for (int i = 0; i < 200; ++i) four->unthrottle();
    EXPECT_EQ(four->concurrentDLs(), 32);

    // The stepper is shared: two managers' fast downloads count together.
    auto none = make({}, "Plain");
    EXPECT_EQ(none->concurrentDLs(), 6);
    for (int i = 0; i < 9; ++i) none->unthrottle();
    EXPECT_EQ(none->concurrentDLs(), 6) << "no prefixes: the ceiling is 0";
    none->reset();
    EXPECT_EQ(none->concurrentDLs(), 12);
    EXPECT_EQ(countSystemLines("throttling reset to default; concurrent DLs now reset to default 12"), 1u);
    for (int i = 0; i < 10; ++i) none->throttle();
    EXPECT_EQ(none->concurrentDLs(), 6);
}

TEST_F(TileCacheManagerTest, OneRecordPerTilePrefixedURLAndTheStatusText) {
    auto manager = make({"a", "b", "d", "e"});
    ask(*manager, 1);
    ask(*manager, 1);
    ASSERT_EQ(sessions_.allTasks().size(), 1u);
    EXPECT_EQ(countSystemLines("tile 5-1-0 is already being downloaded; skipping ... "), 1u);
    const std::string url = sessions_.allTasks()[0]->url;
    EXPECT_TRUE(
        url == "https://a.tiles.example/osm/5/1/0.png" || url == "https://b.tiles.example/osm/5/1/0.png" ||
        url == "https://d.tiles.example/osm/5/1/0.png" || url == "https://e.tiles.example/osm/5/1/0.png")
        << url;
    EXPECT_EQ(manager->tileStateForTile(*tile(5, 1, 0)), 3u);

    for (uint64_t x = 2; x <= 6; ++x) ask(*manager, x);
    EXPECT_EQ(manager->connectionCountForState(ConnectionInfo::kRunning), 4u);
    EXPECT_EQ(manager->connectionCountForState(ConnectionInfo::kWaiting), 2u);
    EXPECT_EQ(manager->tileStateForTile(*tile(5, 6, 0)), 2u);
    ask(*manager, 6);
    EXPECT_EQ(countSystemLines("tile 5-6-0 is already in download queue; skipping ... "), 1u);
    EXPECT_EQ(manager->statusString(), "Waiting for 4 map tiles to download, 2 more in queue");
    EXPECT_EQ(countSystemLines("connection not started yet - no slot. 2 connections in DL queue."), 1u);
}

TEST_F(TileCacheManagerTest, WithoutPrefixesTheDefaultSessionGetsThePlainURL) {
    auto manager = make({});
    ask(*manager, 3);
    ASSERT_EQ(sessions_.session("default")->tasks().size(), 1u);
    EXPECT_EQ(sessions_.session("default")->tasks()[0]->url, "https://tiles.example/osm/5/3/0.png");
    EXPECT_EQ(TileCacheManager::addPrefix("b", "http://x://y"), "http://b.x://b.y");
    EXPECT_EQ(TileCacheManager::addPrefix(std::nullopt, "http://x"), "http://x");
}

TEST_F(TileCacheManagerTest, StoragePathLevelsPrefixRemovalAndRecordRemoval) {
    EXPECT_EQ(TileCacheManager::zoomLevelFromStoragePath("12-2200-1343"), 12);
    EXPECT_EQ(TileCacheManager::zoomLevelFromStoragePath(std::nullopt), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(TileCacheManager::zoomLevelFromStoragePath("x-1-2"), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(countSystemLines("extracted zoomLevel 12 from 12-2200-1343"), 1u);
    auto manager = make({"a", "b"});
    EXPECT_EQ(manager->removeDownloadPrefixFromURLString("https://b.tiles.example/osm/1/2/3.png"),
              "https://tiles.example/osm/1/2/3.png");
    EXPECT_EQ(countSystemLines("eliminating ://b."), 1u);
    ask(*manager, 4);
    EXPECT_TRUE(manager->removeConnectionFromDownloadQueueForStoragePath("5-4-0"));
    EXPECT_FALSE(manager->removeConnectionFromDownloadQueueForStoragePath("5-4-0"));
    EXPECT_EQ(manager->connectionCount(), 0u);
    EXPECT_EQ(manager->statusString(), std::nullopt);
}

TEST_F(TileCacheManagerTest, OverflowURLsGoToThePreloaderWithoutPrefix) {
    tervolo::testsupport::UDPListener listener;
    platform::Bundle::main().setInfoDictionaryForTesting(platform::PropertyValue::Dictionary{
        {"QuovaTilePreloadHost", "127.0.0.1"}, {"QuovaTilePreloadPort", std::to_string(listener.port())}});
    auto manager = make({"a", "b", "d", "e"});
    for (uint64_t x = 0; x < 4; ++x) ask(*manager, x);
    EXPECT_FALSE(listener.waitForDatagrams(1, 0.2)) << "no datagram while slots are free";
    for (uint64_t x = 4; x < 7; ++x) ask(*manager, x);
    ASSERT_TRUE(listener.waitForDatagrams(3));
    EXPECT_EQ(listener.datagrams(), (std::vector<std::string>{"https://tiles.example/osm/5/4/0.png",
                                                              "https://tiles.example/osm/5/5/0.png",
                                                              "https://tiles.example/osm/5/6/0.png"}));
}

struct ReplyCase {
    const char* name;
    std::function<TileDownloadReply(const std::string& url)> reply;
    const char* line;  // a system line the reply logs
    bool retried;
    bool stored;
};

TEST_F(TileCacheManagerTest, ReplyTable) {
    const std::string image = png(1);
    const ReplyCase cases[] = {
        {"200 image", [&](const std::string& u) { return httpReply(u, 200, image); },
         "fast download (0.0 s), unthrottling", false, true},
        {"200 no image", [](const std::string& u) { return httpReply(u, 200, "<html>log in</html>"); },
         "Error downloading tile 5-1-0 - no valid image data", true, false},
        {"404", [](const std::string& u) { return httpReply(u, 404, ""); }, "- giving up.", false, false},
        {"410", [](const std::string& u) { return httpReply(u, 410, ""); }, "- giving up.", false, false},
        {"403", [](const std::string& u) { return httpReply(u, 403, ""); }, "- giving up.", false, false},
        {"503", [](const std::string& u) { return httpReply(u, 503, ""); }, "- enqueueing tile again", true,
         false},
        {"429", [](const std::string& u) { return httpReply(u, 429, ""); }, "UPSTREAM timeout for", true,
         false},
        {"error 429", [](const std::string& u) { return errorReply(u, 429); }, "UPSTREAM timeout for", true,
         false},
        {"error 400", [](const std::string& u) { return errorReply(u, 400); },
         "no such tile (illegal parameters)", false, false},
        {"time-out", [](const std::string& u) { return errorReply(u, -1001); },
         "request timed out downloading", true, false},
        {"refused", [](const std::string& u) { return errorReply(u, -1004); }, "General error downloading",
         true, false},
        {"reset", [](const std::string& u) { return errorReply(u, -1005); }, "General error downloading",
         true, false},
        {"over the size cap", [](const std::string& u) { return errorReply(u, -1103); },
         "General error downloading", true, false},
        {"cancelled", [](const std::string& u) { return errorReply(u, -999); }, "General error downloading",
         false, false},
        {"not http", [](const std::string&) { return TileDownloadReply{}; }, "dunno what to do!", true,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TileCacheManager::resetForTesting();
        systemLog_->clear();
        auto manager = make({"a"}, std::string("Reply") + c.name);
        ask(*manager, 1);
        auto first = tasksFor("/5/1/0.png").back();
        const size_t before = tasksFor("/5/1/0.png").size();
        tervolo::testsupport::FakeTileDownloadSession::finish(first, c.reply(first->url));
        EXPECT_TRUE(hasSystemLineContaining(c.line));
        EXPECT_EQ(manager->connectionCount(), 0u);
        time_->advance(1.0);  // the first retry waits a second
        EXPECT_EQ(tasksFor("/5/1/0.png").size(), before + (c.retried ? 1 : 0));
        EXPECT_EQ(manager->tileStateForTile(*tile(5, 1, 0)), c.stored ? 1u : (c.retried ? 3u : 0u));
        if (c.stored) {
            EXPECT_EQ(renderer_->storedTiles().back(), "5-1-0");
        }
    }
}

// Two requests, then a rest of a minute: the third request of the minute is
// kept for the moment the server looks back.
TEST_F(TileCacheManagerTest, ACaptivePortalIsAskedTwiceThenRestsForAMinute) {
    auto manager = make({"a"});
    ask(*manager, 2);
    for (int attempt = 0; attempt < 5; ++attempt) {
        for (auto& task : sessions_.runningTasks()) {
            tervolo::testsupport::FakeTileDownloadSession::finish(
                task, httpReply(task->url, 200, "<html>portal</html>"));
        }
        time_->advance(5.0);
        platform::RunLoop::runUntilIdle();
    }
    // Given up at 5 s, when the second request failed.
    EXPECT_EQ(tasksFor("/5/2/0.png").size(), 2u);
    EXPECT_EQ(countSystemLines("tile 5-2-0 giving up after 2 attempts"), 1u);
    EXPECT_TRUE(manager->tilesCannotBeLoaded());
    // The map asking again does not start the loop anew within the cool-down...
    ask(*manager, 2);
    time_->advance(30.0);
    ask(*manager, 2);
    platform::RunLoop::runUntilIdle();
    EXPECT_EQ(tasksFor("/5/2/0.png").size(), 2u);
    EXPECT_EQ(countSystemLines("tile 5-2-0 was given up on; skipping ... "), 2u);
    // ...which ends a minute after the tile was given up: in view, it is asked once more.
    time_->advance(10.0);
    platform::RunLoop::runUntilIdle();
    EXPECT_EQ(tasksFor("/5/2/0.png").size(), 3u);
    EXPECT_EQ(countSystemLines("tile 5-2-0 asked for again after its cool-down"), 1u);
    // Coming to the foreground starts every tile afresh; the tile is still
    // missing, so the source still says so.
    platform::NotificationCenter::defaultCenter().post(TileCacheManager::kForegroundNotification, nullptr,
                                                       {});
    EXPECT_TRUE(manager->tilesCannotBeLoaded());
    ask(*manager, 2);
    EXPECT_EQ(tasksFor("/5/2/0.png").size(), 4u);
    // It loads: nothing is missing any more.
    auto last = tasksFor("/5/2/0.png").back();
    tervolo::testsupport::FakeTileDownloadSession::finish(last, httpReply(last->url, 200, png(2)));
    EXPECT_FALSE(manager->tilesCannotBeLoaded());
}

// However often the map asks (every redraw posts a download for a missing
// tile), no kind of failure brings a tile more than two requests in its first
// minute (the bound allows three; the third waits for the server to look
// back): a minute of redraws every 0.1 s against a server that always fails
// the same way.
TEST_F(TileCacheManagerTest, NoFailureAsksForATileMoreThanThreeTimesAMinute) {
    struct Case {
        const char* name;
        std::function<TileDownloadReply(const std::string& url)> reply;
        size_t requests;
    };
    const Case cases[] = {
        {"time-out", [](const std::string& u) { return errorReply(u, -1001); }, 2},
        {"reset", [](const std::string& u) { return errorReply(u, -1005); }, 2},
        {"body over the size cap", [](const std::string& u) { return errorReply(u, -1103); }, 2},
        {"refused", [](const std::string& u) { return errorReply(u, -1004); }, 2},
        {"host not found", [](const std::string& u) { return errorReply(u, -1003); }, 2},
        {"429", [](const std::string& u) { return httpReply(u, 429, ""); }, 2},
        {"503", [](const std::string& u) { return httpReply(u, 503, ""); }, 2},
        {"captive portal", [](const std::string& u) { return httpReply(u, 200, "<html>sign in</html>"); }, 2},
        {"not http", [](const std::string&) { return TileDownloadReply{}; }, 2},
        {"404", [](const std::string& u) { return httpReply(u, 404, ""); }, 1},
        {"error 400", [](const std::string& u) { return errorReply(u, 400); }, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TileCacheManager::resetForTesting();
        systemLog_->clear();
        auto manager = make({"a"}, std::string("Failing ") + c.name);
        const size_t before = tasksFor("/5/1/0.png").size();
        for (int redraw = 0; redraw < 600; ++redraw) {
            ask(*manager, 1);
            for (auto& task : sessions_.runningTasks()) {
                if (task->url.ends_with("/5/1/0.png"))
                    tervolo::testsupport::FakeTileDownloadSession::finish(task, c.reply(task->url));
            }
            time_->advance(0.1);
        }
        EXPECT_EQ(tasksFor("/5/1/0.png").size() - before, c.requests);
        EXPECT_EQ(countSystemLines("tile 5-1-0 giving up after 2 attempts"), c.requests == 2 ? 1u : 0u);
        EXPECT_EQ(manager->connectionCount(), 0u);
    }
}

// A download posted before its tile landed (the renderer posts one per
// missing tile it draws) may run after the tile was stored: it asks nothing.
TEST_F(TileCacheManagerTest, ATileFreshOnDiskIsNeverDownloadedAgain) {
    auto manager = make({"a"});
    ask(*manager, 1);
    auto task = tasksFor("/5/1/0.png").back();
    tervolo::testsupport::FakeTileDownloadSession::finish(task, httpReply(task->url, 200, png(1)));
    ASSERT_EQ(manager->tileStateForTile(*tile(5, 1, 0)), 1u);
    ask(*manager, 1);  // the late posted download
    EXPECT_EQ(tasksFor("/5/1/0.png").size(), 1u);
    EXPECT_EQ(countSystemLines("tile 5-1-0 is already cached; skipping ... "), 1u);
    // An outdated file is downloaded again.
    age(manager->tempDir() + "/5-1-0.image", TileDiskCache::kExpirySeconds + 1);
    ASSERT_EQ(manager->tileStateForTile(*tile(5, 1, 0)), 4u);
    ask(*manager, 1);
    EXPECT_EQ(tasksFor("/5/1/0.png").size(), 2u);
}

TEST_F(TileCacheManagerTest, RetryAfterStretchesTheBackOff) {
    auto manager = make({"a"});
    ask(*manager, 3);
    auto task = tasksFor("/5/3/0.png").back();
    tervolo::testsupport::FakeTileDownloadSession::finish(
        task, httpReply(task->url, 429, "", {{"Retry-After", "5"}}));
    time_->advance(4.9);
    EXPECT_EQ(tasksFor("/5/3/0.png").size(), 1u);
    ask(*manager, 3);  // the renderer's own ask waits as well
    EXPECT_EQ(tasksFor("/5/3/0.png").size(), 1u);
    time_->advance(0.2);
    EXPECT_EQ(tasksFor("/5/3/0.png").size(), 2u);
}

TEST_F(TileCacheManagerTest, AReplyIsFiledUnderTheTileThatAskedForIt) {
    auto manager = make({"a"});
    ask(*manager, 1);
    ask(*manager, 2);
    auto one = tasksFor("/5/1/0.png").back();
    auto two = tasksFor("/5/2/0.png").back();
    // The server redirected tile 1 to tile 2's URL.
    tervolo::testsupport::FakeTileDownloadSession::finish(one, httpReply(two->url, 200, png(2)));
    EXPECT_EQ(manager->tileStateForTile(*tile(5, 1, 0)), 1u);
    EXPECT_EQ(manager->tileStateForTile(*tile(5, 2, 0)), 3u) << "tile 2's record and file are untouched";
    EXPECT_TRUE(manager->runningConnectionInfoForStoragePath("5-2-0"));
}

TEST_F(TileCacheManagerTest, ResetCancelsEverythingAndLateRepliesQueueNothing) {
    auto manager = make({"a"});
    for (uint64_t x = 0; x < 3; ++x) ask(*manager, x);
    manager->enqueueTile(tile(5, 0, 0), renderer_, 1.0);
    auto before = sessions_.allTasks();
    ASSERT_EQ(before.size(), 3u);
    platform::NotificationCenter::defaultCenter().post(TileCacheManager::kForegroundNotification, nullptr,
                                                       {});
    EXPECT_EQ(manager->connectionCount(), 0u);
    EXPECT_TRUE(manager->dirtyTiles().empty());
    EXPECT_EQ(manager->concurrentDLs(), 12);
    EXPECT_TRUE(hasSystemLineContaining("TilecacheManager: received notification " +
                                        std::string(TileCacheManager::kForegroundNotification)));
    for (auto& task : before) EXPECT_TRUE(task->cancelled);

    // A cancelled download answers with -999; a good reply that raced the reset is still stored.
    tervolo::testsupport::FakeTileDownloadSession::finishCancelled(before[0]);
    tervolo::testsupport::FakeTileDownloadSession::finish(before[1], httpReply(before[1]->url, 200, png(1)));
    tervolo::testsupport::FakeTileDownloadSession::finishCancelled(before[2]);
    time_->advance(5.0);
    EXPECT_EQ(sessions_.allTasks().size(), 3u);
    EXPECT_EQ(
        countSystemLines("General error downloading https://a.tiles.example/osm/5/0/0.png (NSURLErrorDomain "
                         "-999: cancelled)"),
        1u)
        << ::testing::PrintToString(systemLines());
    EXPECT_TRUE(hasSystemLineContaining("Data integrity issue"));
    EXPECT_EQ(manager->tileStateForTile(*tile(5, 1, 0)), 1u);
}

TEST_F(TileCacheManagerTest, WaitingDownloadsStartVisibleFirstThenNewestFirst) {
    // In view: x 0..3 at level 5. Five slots' worth of tiles queue behind one running.
    auto manager = make({"a"});
    ASSERT_EQ(manager->concurrentDLs(), 1);
    ask(*manager, 9);  // runs
    ask(*manager, 7);
    time_->advance(0.1);
    ask(*manager, 2);  // visible, older
    time_->advance(0.1);
    ask(*manager, 8);  // newest invisible
    time_->advance(0.1);
    ask(*manager, 3);  // visible, newest
    std::vector<std::string> order;
    for (int i = 0; i < 4; ++i) {
        auto running = sessions_.runningTasks();
        ASSERT_EQ(running.size(), 1u);
        tervolo::testsupport::FakeTileDownloadSession::finish(running[0],
                                                              httpReply(running[0]->url, 404, ""));
        auto next = sessions_.runningTasks();
        ASSERT_EQ(next.size(), 1u);
        order.push_back(next[0]->url.substr(next[0]->url.size() - 9));
    }
    EXPECT_EQ(order, (std::vector<std::string>{"5/3/0.png", "5/2/0.png", "5/8/0.png", "5/7/0.png"}));
}

TEST_F(TileCacheManagerTest, AReplacedManagerLivesOnUntilItsRunningDownloadsAnswer) {
    auto first = make({"a"}, "Same");
    ask(*first, 1);  // running
    ask(*first, 2);  // waiting
    std::weak_ptr<TileCacheManager> weakFirst = first;
    auto tasks = sessions_.allTasks();
    first.reset();
    auto second = make({"a"}, "Same");
    EXPECT_EQ(TileCacheManager::sharedInstanceForMap("Same"), second);
    EXPECT_TRUE(tasks[1]->cancelled) << "its waiting download would never start";
    tervolo::testsupport::FakeTileDownloadSession::finishCancelled(tasks[1]);
    ASSERT_FALSE(weakFirst.expired());
    tervolo::testsupport::FakeTileDownloadSession::finish(tasks[0], httpReply(tasks[0]->url, 200, png(1)));
    // The last owner may be a download thread: the weak pointer expires before
    // the destructor has written its line there, so wait for both.
    const std::string dealloc = "TilecacheManager: dealloc for downloads from " + kPattern;
    platform::RunLoop::runUntil([&] { return weakFirst.expired() && hasSystemLineContaining(dealloc); }, 30);
    EXPECT_TRUE(weakFirst.expired());
    EXPECT_TRUE(hasSystemLineContaining(dealloc));
    EXPECT_EQ(second->tileStateForTile(*tile(5, 1, 0)), 1u) << "both share the cache folder";
}

TEST_F(TileCacheManagerTest, ArrivalsRedrawTheRendererAndTheWholeOverlayWhenTheQueueRunsDry) {
    auto manager = make({"a"});
    ask(*manager, 1);
    manager->enqueueTile(tile(5, 1, 0), renderer_, 1.0);
    auto task = sessions_.allTasks()[0];
    tervolo::testsupport::FakeTileDownloadSession::finish(task, httpReply(task->url, 200, png(1)));
    platform::RunLoop::runUntilIdle();
    // The queue ran dry: the waiting tile is flushed at once, and the whole overlay a second later.
    EXPECT_EQ(renderer_->redraws().size(), 1u);
    EXPECT_EQ(view_->redrawsOfWholeOverlay.load(), 0);
    time_->advance(1.0);
    EXPECT_EQ(view_->redrawsOfWholeOverlay.load(), 1);
}

}  // namespace
}  // namespace tervolo::tiles
