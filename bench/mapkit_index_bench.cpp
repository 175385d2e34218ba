// Culling annotations to the visible rect: the map's spatial index against a linear scan over the same
// 100,000 annotations, with the same 1,000 random rects (a view's worth of map each). The scan is the
// floor a map without an index pays; the counter "ratio" is index time / scan time.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <random>
#include <vector>

#include "platform/mapkit/MKAnnotation.hpp"
#include "platform/mapkit/MKAnnotationIndex.hpp"

namespace {

using namespace platform;

constexpr double kWorld = 268435456.0;

struct Fixture {
    std::vector<std::unique_ptr<MKPointAnnotation>> annotations;
    std::vector<MKMapPoint> points;
    std::vector<MKMapRect> rects;
    MKAnnotationIndex index;

    explicit Fixture(size_t count) {
        std::mt19937_64 random(11);
        std::uniform_real_distribution<double> anywhere(0, kWorld);
        for (size_t i = 0; i < count; ++i) {
            annotations.push_back(std::make_unique<MKPointAnnotation>());
            points.push_back({anywhere(random), anywhere(random)});
            index.insert(annotations.back().get(), points.back());
        }
        // A 1920×1080 view at zoom level 6 or 7: about 1/34 to 1/68 of the world across.
        std::uniform_real_distribution<double> origin(0, kWorld * 0.97);
        std::uniform_real_distribution<double> zoom(6, 7);
        for (int i = 0; i < 1000; ++i) {
            const double scale = std::exp2(zoom(random) - 20);
            rects.push_back(MKMapRectMake(origin(random), origin(random), 1920 / scale, 1080 / scale));
        }
    }
};

Fixture& fixture() {
    static Fixture f(100000);
    return f;
}

size_t scanOnce(const Fixture& f, const MKMapRect& rect) {
    size_t found = 0;
    for (size_t i = 0; i < f.points.size(); ++i) found += MKMapRectContainsPoint(rect, f.points[i]) ? 1 : 0;
    return found;
}

size_t indexOnce(const Fixture& f, const MKMapRect& rect) {
    size_t found = 0;
    f.index.visitRect(rect, [&](const MKAnnotation*, MKMapPoint) { ++found; });
    return found;
}

void BM_LinearScan(benchmark::State& state) {
    const Fixture& f = fixture();
    size_t next = 0;
    for (auto _ : state) benchmark::DoNotOptimize(scanOnce(f, f.rects[next++ % f.rects.size()]));
}
BENCHMARK(BM_LinearScan);

void BM_SpatialIndex(benchmark::State& state) {
    const Fixture& f = fixture();
    size_t next = 0;
    for (auto _ : state) benchmark::DoNotOptimize(indexOnce(f, f.rects[next++ % f.rects.size()]));
}
BENCHMARK(BM_SpatialIndex);

// Both over all 1,000 rects in one run, reporting index / scan (goal ≤ 1/50 = 0.02).
void BM_IndexToScanRatio(benchmark::State& state) {
    const Fixture& f = fixture();
    using Clock = std::chrono::steady_clock;
    double scanSeconds = 0;
    double indexSeconds = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        size_t a = 0;
        for (const auto& rect : f.rects) a += scanOnce(f, rect);
        scanSeconds += std::chrono::duration<double>(Clock::now() - start).count();
        start = Clock::now();
        size_t b = 0;
        for (const auto& rect : f.rects) b += indexOnce(f, rect);
        indexSeconds += std::chrono::duration<double>(Clock::now() - start).count();
        if (a != b) state.SkipWithError("index and scan disagree");
    }
    state.counters["ratio"] = indexSeconds / scanSeconds;
}
BENCHMARK(BM_IndexToScanRatio)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
