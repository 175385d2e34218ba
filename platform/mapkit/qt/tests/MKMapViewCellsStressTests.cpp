// The cell cache between a frame thread, drawing threads, invalidating threads and overlays coming and
// going. Built into a binary that ThreadSanitizer runs; cells carry no pixels here, so the test stays
// within our own code.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include <QImage>
#include <QPainter>

#include "platform/mapkit/qt/MKBaseMap.hpp"
#include "platform/mapkit/qt/MKMapViewCells.hpp"

namespace {

using namespace platform;

TEST(CellCacheStress, FramesDrawingAndInvalidationsTogether) {
    CellCache cache(1 << 20);
    std::atomic<int> repaints{0};
    const auto listener = cache.addRepaintListener([&](const MKMapRect&) { ++repaints; });
    cache.addLayer(1);
    cache.addLayer(2);
    std::atomic<bool> stop{false};
    struct Job {
        CellKey key;
        uint64_t generation;
    };
    std::mutex jobsMutex;
    std::vector<Job> jobs;

    // The frame: looks cells up and asks for the missing or stale ones.
    std::thread frame([&] {
        std::mt19937 random(1);
        for (uint64_t frameNumber = 1; frameNumber <= 3000; ++frameNumber) {
            std::vector<Job> asked;
            {
                auto lock = cache.lockForFrame();
                for (int i = 0; i < 32; ++i) {
                    const CellKey key{static_cast<uintptr_t>(1 + random() % 2), 6,
                                      static_cast<int64_t>(random() % 8), static_cast<int64_t>(random() % 8)};
                    const auto found = cache.lookup(key);
                    uint64_t generation = 0;
                    if ((!found.ready || found.stale) && !found.inFlight &&
                        cache.beginJob(key, &generation)) {
                        asked.push_back({key, generation});
                    }
                }
            }
            std::lock_guard lock(jobsMutex);
            jobs.insert(jobs.end(), asked.begin(), asked.end());
        }
    });
    std::vector<std::thread> drawers;
    for (int t = 0; t < 3; ++t) {
        drawers.emplace_back([&, t] {
            std::mt19937 random(10 + t);
            while (!stop) {
                Job job{};
                {
                    std::lock_guard lock(jobsMutex);
                    if (jobs.empty()) {
                        std::this_thread::yield();
                        continue;
                    }
                    job = jobs.back();
                    jobs.pop_back();
                }
                cache.finishJob(job.key, job.generation, QImage(), random() % 4 == 0);
            }
        });
    }
    std::thread invalidator([&] {
        std::mt19937 random(3);
        while (!stop) {
            const double side = kMKMapWorldSide / 64;
            cache.invalidate(1 + random() % 2,
                             MKMapRectMake((random() % 8) * side, (random() % 8) * side, side, side),
                             random() % 2 == 0 ? 6 : -1);
        }
    });
    // Views come and go while results arrive: once a listener is removed it is never called again.
    std::thread views([&] {
        for (int i = 0; i < 500 && !stop; ++i) {
            auto alive = std::make_shared<std::atomic<bool>>(true);
            std::atomic<int> lateCalls{0};
            const auto id = cache.addRepaintListener([alive, &lateCalls](const MKMapRect&) {
                if (!*alive) ++lateCalls;
            });
            std::this_thread::yield();
            cache.removeRepaintListener(id);
            *alive = false;
            std::this_thread::yield();
            EXPECT_EQ(lateCalls, 0);
        }
    });
    std::thread layers([&] {
        for (int i = 0; i < 200 && !stop; ++i) {
            cache.dropLayer(2);
            cache.addLayer(2);
            if (i % 50 == 0) cache.clear();
        }
    });
    frame.join();
    // On a loaded machine the frames can all be over before a drawing thread has finished a
    // cell; let the drawers catch up (bounded) so the repaint path is exercised too.
    const auto patience = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (repaints == 0 && std::chrono::steady_clock::now() < patience) std::this_thread::yield();
    stop = true;
    for (auto& drawer : drawers) drawer.join();
    invalidator.join();
    views.join();
    layers.join();
    cache.removeRepaintListener(listener);
    // Jobs that were asked and never finished stay in flight; everything else is consistent.
    EXPECT_EQ(cache.byteCount(), 0u);
    EXPECT_GT(repaints, 0);
    EXPECT_LE(cache.cellCount(), 2u * 64u);
}

// Drawing threads share one base map and so its prepared paths. Qt paths keep caches they fill
// on first draw; if two threads filled them at once, memory would be torn apart and a stroke could
// run away. Every round loads the map afresh so that each round's first draws race.
TEST(BaseMapStress, DrawingThreadsShareFreshlyPreparedPaths) {
    const auto palette = MKBaseMap::paletteForMapType(MKMapType::Standard);
    for (int round = 0; round < 4; ++round) {
        MKBaseMap map(QStringLiteral(BASEMAP_FILE));
        map.preload(MKBaseMap::Detail::Medium);
        std::atomic<int> ready{0};
        std::vector<std::thread> drawers;
        for (int t = 0; t < 8; ++t) {
            drawers.emplace_back([&] {
                QImage image(128, 128, QImage::Format_RGB32);
                QPainter painter(&image);
                painter.scale(128 / kMKMapWorldSide, 128 / kMKMapWorldSide);
                ++ready;
                while (ready < 8) std::this_thread::yield();
                map.draw(painter, MKMapRectWorld, MKBaseMap::Detail::Medium, palette);
            });
        }
        for (auto& drawer : drawers) drawer.join();
    }
}

}  // namespace
