// Cold fill of a 1920x1080 viewport (9x6 = 54 tiles of 256 pixels) from the
// loopback tile server at 0, 50 and 300 ms of server latency: the tile cache
// manager against a browser-style loader built here (6 connections per host,
// every tile asked at once, no throttling, no preloading) in the same run.
// The engine's figure carries "x_browser" (its time over the loader's at the
// same latency; goal at 50 ms: at most 1.5), duplicates and peak concurrency.
// The second argument 1 starts from the limit a reset leaves (12) instead of
// the fresh manager's (one per host prefix).
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

#include <benchmark/benchmark.h>

#include "platform/dispatch/RunLoop.hpp"
#include "platform/net/URLSession.hpp"
#include "testsupport/TemporaryFolder.hpp"
#include "testsupport/tiles/LoopbackTileServer.hpp"
#include "tiles/TileCacheManager.hpp"

namespace {

constexpr int kColumns = 9;
constexpr int kRows = 6;
const std::vector<std::string> kPrefixes{"a", "b", "d", "e"};
std::map<int64_t, double> browserSeconds;  // by latency in ms
std::atomic<int> zoom{4};

tervolo::testsupport::LoopbackTileServer& server() {
    static auto* instance = new tervolo::testsupport::LoopbackTileServer();
    return *instance;
}

void BM_BrowserLoader(benchmark::State& state) {
    server().setLatency(double(state.range(0)) / 1000.0);
    auto configuration = platform::URLSessionConfiguration::ephemeral();
    configuration.httpMaximumConnectionsPerHost = 6;
    configuration.resolveHook = tervolo::testsupport::LoopbackTileServer::resolveHook();
    auto session = platform::URLSession::make(configuration);
    const std::string pattern = server().pattern("browser");
    double total = 0;
    for (auto _ : state) {
        const int z = zoom++;
        std::mutex mutex;
        std::condition_variable done;
        int remaining = kColumns * kRows;
        const auto begin = std::chrono::steady_clock::now();
        for (int x = 0; x < kColumns; ++x) {
            for (int y = 0; y < kRows; ++y) {
                const std::string host = kPrefixes[size_t(x + y) % kPrefixes.size()] + ".tiles.test";
                const std::string url = "http://" + host + ":" + std::to_string(server().port()) +
                                        "/tiles/browser/" + std::to_string(z) + "/" + std::to_string(x) +
                                        "/" + std::to_string(y) + ".png";
                session
                    ->dataTask(url,
                               [&](auto, auto, auto) {
                                   std::lock_guard lock(mutex);
                                   if (--remaining == 0) done.notify_all();
                               })
                    ->resume();
            }
        }
        std::unique_lock lock(mutex);
        done.wait(lock, [&] { return remaining == 0; });
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    }
    browserSeconds[state.range(0)] = total / double(state.iterations());
    state.counters["s_viewport"] = total / double(state.iterations());
}

void BM_TileCacheManager(benchmark::State& state) {
    tervolo::testsupport::TemporaryFolder folder;
    server().setLatency(double(state.range(0)) / 1000.0);
    tervolo::tiles::TileCacheManager::setSessionFactory(
        [](const std::string&, platform::URLSessionConfiguration configuration) {
            configuration.resolveHook = tervolo::testsupport::LoopbackTileServer::resolveHook();
            return tervolo::tiles::makeURLTileSession(configuration);
        });
    double total = 0;
    server().resetPeaks();
    size_t requestsBefore = server().requestCount();
    int64_t asked = 0;
    for (auto _ : state) {
        tervolo::tiles::TileCacheManager::resetForTesting();
        auto manager = tervolo::tiles::TileCacheManager::initWithMap("Bench", server().pattern("engine"),
                                                                     kPrefixes, "BenchTiles", {});
        // range(1) = 1: the limit as a foreground notification leaves it (12).
        if (state.range(1)) manager->reset();
        const uint64_t z = uint64_t(zoom++);
        std::vector<std::shared_ptr<tervolo::tiles::QuovaImageTile>> tiles;
        for (uint64_t x = 0; x < kColumns; ++x) {
            for (uint64_t y = 0; y < kRows; ++y) {
                tiles.push_back(std::make_shared<tervolo::tiles::QuovaImageTile>(
                    tervolo::tiles::MapRect{}, x, y, z,
                    tervolo::tiles::QXTileQuadrant::QXTileQuadrantWholeTile, 0, 0));
            }
        }
        const auto begin = std::chrono::steady_clock::now();
        for (auto& tile : tiles) manager->downloadTileAsync(tile, nullptr, {}, 0.0);
        asked += int64_t(tiles.size());
        platform::RunLoop::runUntil(
            [&] {
                for (auto& tile : tiles) {
                    if (manager->tileStateForTile(*tile) != 1) return false;
                }
                return true;
            },
            120);
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    }
    const double perViewport = total / double(state.iterations());
    state.counters["s_viewport"] = perViewport;
    state.counters["duplicates"] = double(int64_t(server().requestCount() - requestsBefore) - asked);
    state.counters["peak_in_flight"] = server().peakInFlight();
    if (browserSeconds.count(state.range(0)))
        state.counters["x_browser"] = perViewport / browserSeconds[state.range(0)];
    tervolo::tiles::TileCacheManager::resetForTesting();
    tervolo::tiles::TileCacheManager::setSessionFactory(nullptr);
}

}  // namespace

BENCHMARK(BM_BrowserLoader)
    ->Arg(0)
    ->Arg(50)
    ->Arg(300)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_TileCacheManager)
    ->ArgsProduct({{0, 50, 300}, {0, 1}})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
