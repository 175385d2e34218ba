#include <gtest/gtest.h>

#include "appinfo/UIDevice_QuovaAdditions.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/foundation/Bundle.hpp"
#include "tiles/QuovaNetworkActivityManager.hpp"
#include "tiles/tests/TilesTestSupport.hpp"

namespace tervolo::tiles {
namespace {

using testing::RecordingRenderer;
using testing::TilesTest;

class TileRedrawQueueTest : public TilesTest {
  protected:
    void SetUp() override {
        TilesTest::SetUp();
        a_ = TileCacheManager::initWithMap("A", "http://t.invalid/%1$@/%2$@/%3$@.png", {}, "ATiles", {});
        b_ = TileCacheManager::initWithMap("B", "http://t.invalid/%1$@/%2$@/%3$@.png", {}, "BTiles", {});
    }
    // A downloaded tile arrives on the main queue.
    void arrive(TileCacheManager& manager, uint64_t x) {
        manager.maybeRedrawTile(tile(10, x, 0, {double(x) * 256, 0, 256, 256}), renderer_, 1.0);
        platform::RunLoop::runUntilIdle();
    }
    size_t flushes() const { return countSystemLines("Redrawing dirty tiles."); }

    std::shared_ptr<TileCacheManager> a_, b_;
    std::shared_ptr<RecordingRenderer> renderer_ = std::make_shared<RecordingRenderer>();
};

TEST_F(TileRedrawQueueTest, EntriesAreUniqueByTileAndFrame) {
    a_->enqueueTile(tile(10, 1, 2, {0, 0, 256, 256}), renderer_, 1.0);
    a_->enqueueTile(tile(10, 1, 2, {0, 0, 256, 256}), renderer_, 2.0);
    EXPECT_EQ(a_->dirtyTiles().size(), 1u);
    // Another world copy of the same tile is another area to redraw.
    a_->enqueueTile(tile(10, 1, 2, {268435456, 0, 256, 256}), renderer_, 1.0);
    EXPECT_EQ(a_->dirtyTiles().size(), 2u);
    a_->removeTileFromRedrawQueue(*tile(10, 1, 2, {268435456, 0, 256, 256}));
    ASSERT_EQ(a_->dirtyTiles().size(), 1u);
    EXPECT_EQ(a_->dirtyTiles()[0].zoomScale, 1.0);

    a_->redrawAllDirtyTiles();
    EXPECT_TRUE(a_->dirtyTiles().empty());
    EXPECT_TRUE(renderer_->redraws().empty()) << "redraws are posted to the main queue";
    platform::RunLoop::runUntilIdle();
    ASSERT_EQ(renderer_->redraws().size(), 1u);
    EXPECT_EQ(renderer_->redraws()[0].rect, (MapRect{0, 0, 256, 256}));

    a_->redrawAllDirtyTiles();
    platform::RunLoop::runUntilIdle();
    EXPECT_EQ(renderer_->redraws().size(), 1u) << "an empty queue posts nothing";
}

TEST_F(TileRedrawQueueTest, FlushesAtMostOncePerSecondAcrossSourcesWithATrailingFlush) {
    arrive(*a_, 1);  // the first arrival of the run only sets the time
    EXPECT_EQ(flushes(), 0u);
    EXPECT_TRUE(a_->dirtyTiles().empty());

    time_->advance(2.0);
    a_->enqueueTile(tile(10, 7, 0), renderer_, 1.0);  // queued by the renderer earlier
    arrive(*a_, 2);
    EXPECT_EQ(flushes(), 1u);
    EXPECT_EQ(renderer_->redraws().size(), 1u);

    time_->advance(0.5);
    arrive(*b_, 3);  // another source within the second: only queued
    EXPECT_EQ(flushes(), 1u);
    EXPECT_EQ(countSystemLines("Skipping map redraw this time but enqueuing tile for redraw."), 1u);
    EXPECT_EQ(b_->dirtyTiles().size(), 1u);

    // No further arrival: the trailing flush draws it one second after the last flush.
    time_->advance(0.49);
    EXPECT_EQ(flushes(), 1u);
    time_->advance(0.02);
    EXPECT_EQ(flushes(), 2u);
    EXPECT_TRUE(b_->dirtyTiles().empty());
    platform::RunLoop::runUntilIdle();
    EXPECT_EQ(renderer_->redraws().size(), 2u);
}

TEST_F(TileRedrawQueueTest, FiveHundredArrivalsOverTwoSecondsFlushAtMostOncePerSecond) {
    std::vector<double> flushTimes;
    size_t seen = 0;
    auto note = [&] {
        for (size_t n = flushes(); seen < n; ++seen) flushTimes.push_back(time_->clock().monotonicSeconds());
    };
    for (int i = 0; i < 500; ++i) {
        arrive(i % 2 ? *a_ : *b_, uint64_t(i));
        note();
        time_->advance(0.004);
        note();
    }
    time_->advance(3.0);
    note();
    EXPECT_LE(flushTimes.size(), 4u);
    for (size_t i = 1; i < flushTimes.size(); ++i) EXPECT_GE(flushTimes[i] - flushTimes[i - 1], 1.0 - 1e-9);
    EXPECT_TRUE(a_->dirtyTiles().empty());
    EXPECT_TRUE(b_->dirtyTiles().empty());
    platform::RunLoop::runUntilIdle();
    EXPECT_EQ(renderer_->redraws().size(), 499u) << "every tile but the run's first is redrawn";
}

TEST_F(TileRedrawQueueTest, StatusTextCountsRunningAndWaitingDownloads) {
    EXPECT_EQ(a_->statusString(), std::nullopt);
    a_->updateStatusStringWithRunningCount(3, 5);
    EXPECT_EQ(a_->statusString(), "Waiting for 3 map tiles to download, 5 more in queue");
    a_->updateStatusStringWithRunningCount(0, 1);
    EXPECT_EQ(a_->statusString(), "Waiting for 0 map tiles to download, 1 more in queue");
    a_->updateStatusStringWithRunningCount(0, 0);
    EXPECT_EQ(a_->statusString(), std::nullopt);
}

TEST_F(TileRedrawQueueTest, NetworkCounterCountsOnlyOffTheTabletAndMacIdioms) {
    using Device = appinfo::UIDevice_QuovaAdditions;
    auto& counter = QuovaNetworkActivityManager::sharedInstance();
    platform::RunLoop::runUntilIdle();
    ASSERT_EQ(counter.count(), 0u);
    EXPECT_EQ(Device::quovaDeviceType(), 3);
    Device::Sources sources = Device::desktopSources();
    auto scope = Device::replaceSourcesForTesting(sources);
    for (Device::Idiom idiom : {Device::Idiom::pad, Device::Idiom::mac}) {
        sources.userInterfaceIdiom = [idiom] { return idiom; };
        counter.startUsingNetwork();
        platform::RunLoop::runUntilIdle();
        EXPECT_FALSE(counter.isNetworkActive());
    }
    sources.userInterfaceIdiom = [] { return Device::Idiom::phone; };
    counter.startUsingNetwork();
    counter.startUsingNetwork();
    EXPECT_EQ(counter.count(), 0u) << "changes are posted to the main queue";
    platform::RunLoop::runUntilIdle();
    EXPECT_EQ(counter.count(), 2u);
    for (int i = 0; i < 3; ++i) counter.stopUsingNetwork();
    platform::RunLoop::runUntilIdle();
    EXPECT_EQ(counter.count(), 0u) << "the count floors at 0";
    EXPECT_FALSE(counter.isNetworkActive());
}

}  // namespace
}  // namespace tervolo::tiles
