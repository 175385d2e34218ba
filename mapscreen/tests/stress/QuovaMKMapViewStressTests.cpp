// The map view's answers to the tile engine's drawing threads, under
// ThreadSanitizer: no widget is shown here, so no Qt painting (whose thread
// pool ThreadSanitizer cannot see into) takes part.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "mapscreen/tests/MapStyleTestSupport.hpp"
#include "tiles/TileGrid.hpp"

namespace mapstyle_test {
namespace {

class QuovaMKMapViewStressTest : public MapStyleTest {};

// Eight drawing threads ask for tile rects while the map moves and zooms on the
// main thread, and go on asking after the view is gone (they then get no
// answer). Run under ThreadSanitizer in CI.
TEST_F(QuovaMKMapViewStressTest, TileRectsFromEightThreadsWhileTheMapMoves) {
    map_->setMapStyle(QuovaBaseMapStyle::osm);
    const auto overlay = map_->currentTileOverlay();
    ASSERT_TRUE(overlay);
    std::atomic<bool> stop{false};
    std::atomic<int> answered{0};
    std::atomic<int> unanswered{0};
    std::atomic<int> bad{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            int64_t level = 2 + t;
            while (!stop.load()) {
                const auto rect = overlay->tileRectForZoomLevel(level);
                if (!rect) {
                    ++unanswered;
                } else {
                    ++answered;
                    const int64_t n = tervolo::tiles::axisTilesForZoomLevel(int32_t(level));
                    if (rect->minX < 0 || rect->minY < 0 || rect->maxX >= n || rect->maxY >= n ||
                        rect->minX > rect->maxX || rect->minY > rect->maxY)
                        ++bad;
                }
                level = level == 18 ? 2 : level + 1;
            }
        });
    }
    // Moves until the threads have asked plenty while it moved.
    for (int step = 0; step < 2000 || answered.load() < 5000; ++step) {
        map_->beginUserGesture();
        map_->panBy(37, -11);
        if (step % 50 == 0) map_->zoomBy(step % 100 == 0 ? 2.0 : 0.5, {450, 300});
        map_->endUserGesture();
    }
    host_.reset();  // the view goes while the threads still ask
    const int before = unanswered.load();
    while (unanswered.load() < before + 100) std::this_thread::yield();
    stop = true;
    for (auto& thread : threads) thread.join();
    EXPECT_GT(answered.load(), 0);
    EXPECT_EQ(bad.load(), 0);
}

// A zoom-out asked from another thread runs later on the main thread, and not
// at all once the view is gone.
TEST_F(QuovaMKMapViewStressTest, ZoomOutsFromOtherThreadsRunOnTheMainThread) {
    map_->setVisibleMapRect({{1e8, 1e8}, {1e6, 1e6}});  // room to zoom out
    const auto delegate = map_->tileOverlayDelegate();
    const double distance = map_->camera().centerCoordinateDistance;
    std::thread([delegate] {
        delegate->needsToZoomOutFromLevel(12, nullptr);
        delegate->setNeedsMapRedraw();
    }).join();
    EXPECT_DOUBLE_EQ(map_->camera().centerCoordinateDistance, distance) << "not on the asking thread";
    platform::RunLoop::runUntilIdle();
    EXPECT_NEAR(map_->camera().centerCoordinateDistance, distance * 1.5, distance * 1e-9);

    std::thread([delegate] { delegate->needsToZoomOutFromLevel(12, nullptr); }).join();
    host_.reset();
    platform::RunLoop::runUntilIdle();  // the queued request finds no view and does nothing
    EXPECT_FALSE(delegate->tileRectForZoomLevel(3));
}

}  // namespace
}  // namespace mapstyle_test
