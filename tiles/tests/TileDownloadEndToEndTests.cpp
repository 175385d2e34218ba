// The cache manager against a real tile server on 127.0.0.1 through URL
// sessions, and many threads asking for overlapping tiles at once.
#include <algorithm>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "platform/dispatch/NotificationCenter.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/foundation/Bundle.hpp"
#include "testsupport/UDPListener.hpp"
#include "testsupport/tiles/LoopbackTileServer.hpp"
#include "tiles/QuovaTileRect.hpp"
#include "tiles/tests/TilesTestSupport.hpp"

namespace tervolo::tiles {
namespace {

using tervolo::testsupport::CannedReply;
using tervolo::testsupport::LoopbackTileServer;
using testing::TilesTest;

class TileDownloadEndToEndTest : public TilesTest {
  protected:
    void SetUp() override {
        TilesTest::SetUp();
        TileCacheManager::setSessionFactory(
            [](const std::string&, platform::URLSessionConfiguration configuration) {
                configuration.resolveHook = LoopbackTileServer::resolveHook();
                return makeURLTileSession(configuration);
            });
    }
    std::shared_ptr<TileCacheManager> make() {
        return TileCacheManager::initWithMap("Loopback", server_.pattern(), {"a", "b", "d", "e"},
                                             "LoopbackTiles", {});
    }
    void ask(TileCacheManager& manager, uint64_t z, uint64_t x, uint64_t y) {
        manager.downloadTileAsync(tile(z, x, y), renderer_, {0, 0, 256, 256}, 1.0);
    }
    bool waitForRequests(size_t count) {
        return platform::RunLoop::runUntil([&] { return server_.requestCount() >= count; }, 10);
    }
    // Every failed reply so far handled to its end: another attempt scheduled or given up.
    bool handled(size_t replies) {
        return platform::RunLoop::runUntil(
            [&] {
                size_t count = 0;
                for (const auto& line : systemLines()) {
                    count += line.find(" asked for again in ") != std::string::npos ||
                                     line.find(" giving up after ") != std::string::npos
                                 ? 1
                                 : 0;
                }
                return count >= replies;
            },
            10);
    }
    std::string cached(TileCacheManager& manager, const std::string& storagePath) {
        auto data = manager.tileDataForStoragePath(storagePath, true);
        return data ? std::string(data->begin(), data->end()) : std::string();
    }

    LoopbackTileServer server_;
    std::shared_ptr<testing::RecordingRenderer> renderer_ = std::make_shared<testing::RecordingRenderer>();
};

TEST_F(TileDownloadEndToEndTest, DownloadsSpreadOverThePrefixesWithinTheLimits) {
    tervolo::testsupport::UDPListener listener;
    platform::Bundle::main().setInfoDictionaryForTesting(platform::PropertyValue::Dictionary{
        {"QuovaTilePreloadHost", "127.0.0.1"}, {"QuovaTilePreloadPort", std::to_string(listener.port())}});
    server_.setLatency(0.03);
    auto manager = make();
    constexpr uint64_t kTiles = 120;
    for (uint64_t x = 0; x < kTiles; ++x) ask(*manager, 10, x, 7);
    ASSERT_TRUE(platform::RunLoop::runUntil(
        [&] {
            for (uint64_t x = 0; x < kTiles; ++x) {
                if (manager->tileStateForTile(*tile(10, x, 7)) != 1) return false;
            }
            return true;
        },
        20));
    EXPECT_EQ(server_.requestCount(), kTiles) << "one request per tile";
    auto hosts = server_.requestsByHost();
    for (const char* host : {"a.tiles.test", "b.tiles.test", "d.tiles.test", "e.tiles.test"}) {
        EXPECT_GT(hosts[host], 0u) << host;
        EXPECT_LE(server_.peakInFlightForHost(host), 8) << host;
    }
    EXPECT_EQ(hosts.size(), 4u);
    EXPECT_LE(server_.peakInFlight(), manager->maxRunningTileConnections());
    EXPECT_EQ(cached(*manager, "10-5-7"), LoopbackTileServer::tilePNG(10, 5, 7));

    // Every tile that found no slot went to the preloader once, without prefix.
    size_t overflow = 0;
    for (const auto& line : systemLines())
        overflow += line.starts_with("connection not started yet - no slot.") ? 1 : 0;
    ASSERT_GT(overflow, 0u);
    ASSERT_TRUE(listener.waitForDatagrams(overflow));
    auto datagrams = listener.datagrams();
    EXPECT_EQ(datagrams.size(), overflow);
    for (const auto& datagram : datagrams)
        EXPECT_TRUE(datagram.starts_with("http://tiles.test:")) << datagram;
}

TEST_F(TileDownloadEndToEndTest, ACaptivePortalAndARateLimitEndAfterTheBoundedAttempts) {
    struct Case {
        const char* name;
        CannedReply reply;
        double firstWait;  // seconds before the second attempt
    } cases[] = {
        {"portal", CannedReply::text("<html><body>Please sign in</body></html>"), 1.0},
        {"429", CannedReply::text("slow down", 429).withHeader("Retry-After", "2"), 2.0},
        {"503", CannedReply::text("busy", 503), 1.0},
    };
    uint64_t z = 3;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server_.scriptAll(c.reply);
        auto manager = make();
        systemLog_->clear();
        const size_t base = server_.requestCount();
        for (uint64_t x = 0; x < 3; ++x) ask(*manager, z, x, 0);
        ASSERT_TRUE(waitForRequests(base + 3));
        ASSERT_TRUE(handled(3));
        time_->advance(c.firstWait - 0.1);
        EXPECT_EQ(server_.requestCount(), base + 3) << "no attempt before the back-off ends";
        time_->advance(0.1);
        ASSERT_TRUE(waitForRequests(base + 6));
        ASSERT_TRUE(handled(6));
        time_->advance(30.0);
        for (uint64_t x = 0; x < 3; ++x) ask(*manager, z, x, 0);  // the map asking again
        platform::RunLoop::runUntil([] { return false; }, 0.3);
        EXPECT_EQ(server_.requestCount(), base + 6);
        for (uint64_t x = 0; x < 3; ++x) {
            EXPECT_EQ(countSystemLines("tile " + tileStoragePath(z, x, 0) + " giving up after 2 attempts"),
                      1u);
            EXPECT_EQ(manager->tileStateForTile(*tile(z, x, 0)), 0u);
        }
        ++z;
    }
}

// A body over the size cap, a connection reset and a body cut short are
// failed attempts like an HTTP error: two requests per tile, however often
// the map asks in between, then the tile is given up for its cool-down.
TEST_F(TileDownloadEndToEndTest, OversizeResetAndTruncatedTilesEndAfterTheBoundedAttempts) {
    const std::string png = LoopbackTileServer::tilePNG(7, 0, 0);
    auto withMode = [](CannedReply reply, CannedReply::Mode mode) {
        reply.mode = mode;
        return reply;
    };
    struct Case {
        const char* name;
        CannedReply reply;
    } cases[] = {
        {"oversize", CannedReply::text(std::string(TileDiskCache::kMaximumTileBytes + 4096, 'x'))},
        {"reset before the reply", CannedReply::ofMode(CannedReply::Mode::resetBeforeReply)},
        {"reset in the body", withMode(CannedReply::text(png), CannedReply::Mode::resetAfterHeaders)},
        {"closed in the body", withMode(CannedReply::text(png), CannedReply::Mode::closeMidBody)},
    };
    uint64_t z = 7;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server_.scriptAll(c.reply);
        auto manager = make();
        systemLog_->clear();
        auto requests = [&](uint64_t x) {
            return server_.requestCount("/tiles/osm/" + std::to_string(z) + "/" + std::to_string(x) +
                                        "/0.png");
        };
        auto requestsOfBoth = [&](size_t count) {
            return platform::RunLoop::runUntil([&] { return requests(0) >= count && requests(1) >= count; },
                                               10);
        };
        // The map redrawing: every drawn blank cell asks for its tile again.
        auto hammer = [&] {
            for (int redraw = 0; redraw < 50; ++redraw) {
                for (uint64_t x = 0; x < 2; ++x) ask(*manager, z, x, 0);
            }
            platform::RunLoop::runUntil([] { return false; }, 0.1);
        };
        for (uint64_t x = 0; x < 2; ++x) ask(*manager, z, x, 0);
        ASSERT_TRUE(requestsOfBoth(1));
        ASSERT_TRUE(handled(2));
        hammer();
        EXPECT_EQ(requests(0) + requests(1), 2u) << "nothing during the back-off";
        time_->advance(1.0);
        ASSERT_TRUE(requestsOfBoth(2));
        ASSERT_TRUE(handled(4));
        for (int seconds = 0; seconds < 50; seconds += 10) {
            hammer();
            time_->advance(10.0);
        }
        hammer();
        for (uint64_t x = 0; x < 2; ++x) {
            EXPECT_EQ(requests(x), 2u) << "two requests per tile before the cool-down";
            EXPECT_EQ(countSystemLines("tile " + tileStoragePath(z, x, 0) + " giving up after 2 attempts"),
                      1u);
        }
        EXPECT_EQ(manager->connectionCount(), 0u);
        // Coming to the foreground starts every tile afresh.
        platform::NotificationCenter::defaultCenter().post(TileCacheManager::kForegroundNotification, nullptr,
                                                           {});
        ask(*manager, z, 0, 0);
        ASSERT_TRUE(platform::RunLoop::runUntil([&] { return requests(0) == 3; }, 10));
        ASSERT_TRUE(handled(5));
        ++z;
    }
}

// The tile server goes down (every connection reset) while the map shows
// four tiles and comes back later. The tiles given up meanwhile are asked
// again when their cool-down of a minute ends, without the map asking, and
// load; out of view a tile waits until the map draws it. No tile is asked
// more than twice before its cool-down, however often the map redraws, and
// the source says that tiles cannot be loaded exactly until they load again.
TEST_F(TileDownloadEndToEndTest, TilesGivenUpWhileTheServerWasDownLoadOnceItIsBack) {
    auto view = std::make_shared<testing::FixedViewDelegate>(4, QuovaTileRect(0, 3, 0, 0));
    auto manager =
        TileCacheManager::initWithMap("Loopback", server_.pattern(), {"a", "b"}, "LoopbackTiles", view);
    const uint64_t z = 4;
    auto requests = [&](uint64_t x) {
        return server_.requestCount("/tiles/osm/4/" + std::to_string(x) + "/0.png");
    };
    auto allRequested = [&](uint64_t tiles, size_t count) {
        return platform::RunLoop::runUntil(
            [&] {
                for (uint64_t x = 0; x < tiles; ++x) {
                    if (requests(x) < count) return false;
                }
                return true;
            },
            10);
    };
    // The map redraws every half second for `seconds`, asking for the tiles in view.
    auto redraw = [&](double seconds) {
        for (double t = 0; t < seconds; t += 0.5) {
            for (uint64_t x = 0; x < 4; ++x) ask(*manager, z, x, 0);
            platform::RunLoop::runUntil([] { return false; }, 0.01);
            time_->advance(0.5);
        }
    };
    // Tiles 0 to 3 are in view, tile 5 is not.
    const uint64_t shown = 4, hidden = 5;

    server_.scriptAll(CannedReply::ofMode(CannedReply::Mode::resetBeforeReply));
    for (uint64_t x = 0; x < shown; ++x) ask(*manager, z, x, 0);
    ask(*manager, z, hidden, 0);
    ASSERT_TRUE(allRequested(shown, 1));
    ASSERT_TRUE(handled(5));
    time_->advance(1.0);
    ASSERT_TRUE(allRequested(shown, 2));
    ASSERT_TRUE(handled(10));
    EXPECT_TRUE(manager->tilesCannotBeLoaded());

    // Down for a while longer, then back; the map keeps redrawing.
    redraw(30.0);
    server_.clearScriptAll();
    redraw(29.5);  // 59.5 s since the tiles were given up
    for (uint64_t x = 0; x <= hidden; ++x) {
        if (x == shown) continue;
        EXPECT_EQ(requests(x), 2u) << "tile " << x << ": two requests in the first minute";
    }
    EXPECT_TRUE(manager->tilesCannotBeLoaded());

    time_->advance(1.0);  // the cool-downs end
    ASSERT_TRUE(platform::RunLoop::runUntil(
        [&] {
            for (uint64_t x = 0; x < shown; ++x) {
                if (manager->tileStateForTile(*tile(z, x, 0)) != 1) return false;
            }
            return manager->connectionCount() == 0;
        },
        10));
    for (uint64_t x = 0; x < shown; ++x) EXPECT_EQ(requests(x), 3u) << "tile " << x;
    EXPECT_FALSE(manager->tilesCannotBeLoaded());
    EXPECT_EQ(requests(hidden), 2u) << "out of view, not asked";
    EXPECT_EQ(manager->tileStateForTile(*tile(z, hidden, 0)), 0u);

    // Drawn later, the hidden tile is asked at once and loads.
    ask(*manager, z, hidden, 0);
    ASSERT_TRUE(
        platform::RunLoop::runUntil([&] { return manager->tileStateForTile(*tile(z, hidden, 0)) == 1; }, 10));
    EXPECT_EQ(requests(hidden), 3u);
    redraw(5.0);
    for (uint64_t x = 0; x <= hidden; ++x) {
        if (x == shown) continue;
        EXPECT_EQ(requests(x), 3u) << "tile " << x << " loaded: asked no more";
    }
}

// A cool-down's attempt that fails too begins a longer one: one minute,
// then two, four, eight, and fifteen at most. Becoming active again asks
// every given-up tile in view at once, yet never a fourth time within a
// minute of its first request.
TEST_F(TileDownloadEndToEndTest, CoolDownsGrowToFifteenMinutesAndActivationAsksAtOnceWithinTheBound) {
    auto view = std::make_shared<testing::FixedViewDelegate>(6, QuovaTileRect(0, 0, 0, 0));
    auto manager = TileCacheManager::initWithMap("Loopback", server_.pattern(), {"a"}, "LoopbackTiles", view);
    const std::string path = "/tiles/osm/6/0/0.png";
    auto requestsReach = [&](size_t count) {
        return platform::RunLoop::runUntil([&] { return server_.requestCount(path) >= count; }, 10);
    };
    auto failuresHandled = [&](size_t count) {
        return platform::RunLoop::runUntil(
            [&] {
                size_t lines = 0;
                for (const auto& line : systemLines())
                    lines += line.find(" rests for ") != std::string::npos ? 1 : 0;
                return lines >= count;
            },
            10);
    };
    server_.scriptAll(CannedReply::ofMode(CannedReply::Mode::resetBeforeReply));
    ask(*manager, 6, 0, 0);
    ASSERT_TRUE(requestsReach(1) && handled(1));
    time_->advance(1.0);
    ASSERT_TRUE(requestsReach(2) && failuresHandled(1));
    // Given up after two requests; becoming active asks at once: the third request of the minute...
    platform::NotificationCenter::defaultCenter().post(TileCacheManager::kActiveNotification, nullptr, {});
    ASSERT_TRUE(requestsReach(3) && failuresHandled(2));
    // ...and a second activation waits for the bound: a minute after the first request.
    platform::NotificationCenter::defaultCenter().post(TileCacheManager::kActiveNotification, nullptr, {});
    time_->advance(58.9);
    platform::RunLoop::runUntil([] { return false; }, 0.2);
    EXPECT_EQ(server_.requestCount(path), 3u);
    time_->advance(0.2);
    ASSERT_TRUE(requestsReach(4) && failuresHandled(3));

    // Each failed attempt doubles the rest, up to fifteen minutes.
    for (const double minutes : {4.0, 8.0, 15.0, 15.0}) {
        SCOPED_TRACE(minutes);
        const size_t before = server_.requestCount(path);
        time_->advance(minutes * 60 - 1.0);
        platform::RunLoop::runUntil([] { return false; }, 0.1);
        EXPECT_EQ(server_.requestCount(path), before);
        time_->advance(2.0);
        ASSERT_TRUE(requestsReach(before + 1));
        ASSERT_TRUE(failuresHandled(before + 1 - 1));
    }
    EXPECT_TRUE(manager->tilesCannotBeLoaded());

    // Back up; becoming active asks at once, long before the cool-down ends.
    server_.clearScriptAll();
    time_->advance(90.0);
    platform::NotificationCenter::defaultCenter().post(TileCacheManager::kActiveNotification, nullptr, {});
    ASSERT_TRUE(platform::RunLoop::runUntil(
        [&] { return manager->tileStateForTile(*tile(6, 0, 0)) == 1 && manager->connectionCount() == 0; },
        10));
    EXPECT_FALSE(manager->tilesCannotBeLoaded());
}

// A download posted before its tile landed runs after it: no second request.
TEST_F(TileDownloadEndToEndTest, ATileFreshOnDiskCostsNoSecondRequest) {
    auto manager = make();
    ask(*manager, 6, 3, 4);
    ASSERT_TRUE(platform::RunLoop::runUntil(
        [&] { return manager->tileStateForTile(*tile(6, 3, 4)) == 1 && manager->connectionCount() == 0; },
        10));
    for (int redraw = 0; redraw < 20; ++redraw) ask(*manager, 6, 3, 4);
    platform::RunLoop::runUntil([] { return false; }, 0.2);
    EXPECT_EQ(server_.requestCount(), 1u);
}

TEST_F(TileDownloadEndToEndTest, ARedirectNeverStoresOneTilesBytesUnderAnotherTilesPath) {
    server_.script("/tiles/osm/5/1/1.png", CannedReply::redirect("/tiles/osm/5/2/2.png"));
    auto manager = make();
    ask(*manager, 5, 1, 1);
    ASSERT_TRUE(waitForRequests(2));
    ASSERT_TRUE(platform::RunLoop::runUntil([&] { return manager->connectionCount() == 0; }, 10));
    EXPECT_EQ(cached(*manager, "5-1-1"), LoopbackTileServer::tilePNG(5, 2, 2));
    EXPECT_EQ(manager->tileStateForTile(*tile(5, 2, 2)), 0u);
}

TEST_F(TileDownloadEndToEndTest, EightThreadsAskingForOverlappingTilesNeverDownloadOneTileTwiceAtOnce) {
    server_.setLatency(0.002);
    auto manager = make();
    constexpr uint64_t kTiles = 40;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 random{unsigned(t)};
            std::vector<uint64_t> xs(kTiles);
            for (uint64_t i = 0; i < kTiles; ++i) xs[i] = i;
            for (int round = 0; round < 3; ++round) {
                std::shuffle(xs.begin(), xs.end(), random);
                for (uint64_t x : xs) {
                    ask(*manager, 9, x, 3);
                    (void)manager->tileStateForTile(*tile(9, x, 3));
                    (void)manager->statusString();
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    ASSERT_TRUE(platform::RunLoop::runUntil(
        [&] {
            if (manager->connectionCount() != 0) return false;
            for (uint64_t x = 0; x < kTiles; ++x) {
                if (manager->tileStateForTile(*tile(9, x, 3)) != 1) return false;
            }
            return true;
        },
        20));
    EXPECT_EQ(server_.peakInFlightForOnePath(), 1);
    EXPECT_EQ(server_.requestCount(), kTiles) << "a tile on disk is not asked for again";
    EXPECT_EQ(manager->connectionCountForState(ConnectionInfo::kRunning), 0u);
    EXPECT_EQ(manager->statusString(), std::nullopt);
}

}  // namespace
}  // namespace tervolo::tiles
