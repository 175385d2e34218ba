// A warm 1920x1080 viewport (8 x 5 cells of 256 points at level 12) drawn by
// the tile overlay renderer from the disk cache on 8 threads, each cell into
// its own image through the map view's Qt context as the map view draws it,
// against the floor: reading and decoding the same tile files with QImage and
// drawing each into a cell image of the same kind, on the same 8 threads.
// BM_WarmViewport_Paired pairs every viewport of ours with one of the floor
// right before or after it and reports the median of the ratios ("x_floor",
// goal: at most 1.3). The shifted-source variant (cells cut from tiles one
// level lower) also reports the zoomed cache's hit rate and the bytes it
// holds. The unpaired runs after it show the two sides' own times.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <QByteArray>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include "platform/mapkit/qt/MKQtGraphicsContext.hpp"
#include "testsupport/TemporaryFolder.hpp"
#include "testsupport/tiles/FakeTileMapView.hpp"
#include "testsupport/tiles/LoopbackTileServer.hpp"
#include "tiles/TileGrid.hpp"
#include "tiles/TileOverlayRenderer.hpp"

namespace {

constexpr int kColumns = 8;
constexpr int kRows = 5;
constexpr int64_t kLevel = 12;
constexpr int64_t kFirstColumn = 2200;
constexpr int64_t kFirstRow = 1340;
std::map<std::string, double> floorSeconds;

// One documents folder for both sources (the folder is found through the environment).
tervolo::testsupport::TemporaryFolder& folder() {
    static auto* instance = new tervolo::testsupport::TemporaryFolder();
    return *instance;
}

struct Fixture {
    std::shared_ptr<tervolo::testsupport::FakeTileMapView> view =
        std::make_shared<tervolo::testsupport::FakeTileMapView>();
    std::shared_ptr<tervolo::tiles::QuovaTileOverlay> overlay;
    std::shared_ptr<tervolo::tiles::TileOverlayRenderer> renderer;
    std::vector<std::string> files;

    explicit Fixture(int64_t shiftLevel) {
        (void)folder();
        const std::string key = shiftLevel ? "BenchShifted" : "BenchWhole";
        overlay = tervolo::tiles::QuovaTileOverlay::initOverlayForMap(
            key, 19, key + "Tiles", "https://t.invalid/", {}, 9, shiftLevel);
        overlay->setDelegate(view);
        renderer = tervolo::tiles::TileOverlayRenderer::makeForOverlay(overlay);
        auto manager = tervolo::tiles::TileCacheManager::sharedInstanceForMap(key);
        const int64_t divisor = shiftLevel ? 2 : 1;
        const int64_t z = kLevel - (shiftLevel ? 1 : 0);
        for (int64_t c = kFirstColumn / divisor; c <= (kFirstColumn + kColumns - 1) / divisor; ++c) {
            for (int64_t r = kFirstRow / divisor; r <= (kFirstRow + kRows - 1) / divisor; ++r) {
                const std::string png =
                    tervolo::testsupport::LoopbackTileServer::tilePNG(int(z), int(c), int(r));
                const std::string path =
                    tervolo::tiles::tileStoragePath(uint64_t(z), uint64_t(c), uint64_t(r));
                manager->storeTile({reinterpret_cast<const uint8_t*>(png.data()), png.size()}, path);
                files.push_back(manager->tempDir() + "/" + path + ".image");
            }
        }
    }
};

platform::MKMapRect cellRect(int index) {
    const double side = platform::MKMapRectWorld.size.width / std::pow(2.0, double(kLevel));
    return {{double(kFirstColumn + index % kColumns) * side, double(kFirstRow + index / kColumns) * side},
            {side, side}};
}

Fixture& fixture(int64_t shiftLevel) {
    static Fixture* whole = nullptr;
    static Fixture* shifted = nullptr;
    Fixture*& slot = shiftLevel ? shifted : whole;
    if (!slot) slot = new Fixture(shiftLevel);
    return *slot;
}

constexpr int kThreads = 8;
constexpr int kCellPixels = 256;

// A fresh cell as the map view makes one for an overlay: transparent, premultiplied.
QImage newCell() {
    QImage image(kCellPixels, kCellPixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// Ours: the renderer draws cell `index` through the Qt context, in the map view's transform.
QImage drawCellOurs(Fixture& f, int index) {
    const double scale = std::pow(2.0, double(kLevel - 20));
    QImage image = newCell();
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const platform::MKMapRect rendererRect = f.renderer->rectForMapRect(cellRect(index));
    painter.scale(scale, scale);
    painter.translate(-rendererRect.origin.x, -rendererRect.origin.y);
    platform::MKQtGraphicsContext context(painter);
    f.renderer->drawMapRect(cellRect(index), scale, context);
    painter.end();
    return image;
}

// The floor: read one file, decode it with QImage, draw it into the cell (every cell decodes one
// file, as a whole-tile draw does).
QImage drawCellFloor(Fixture& f, int index) {
    const std::string& path = f.files[size_t(index) % f.files.size()];
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    const std::string data = bytes.str();
    QImage tile;
    tile.loadFromData(QByteArray::fromRawData(data.data(), qsizetype(data.size())));
    QImage image = newCell();
    QPainter painter(&image);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.drawImage(QRectF(0, 0, kCellPixels, kCellPixels), tile);
    painter.end();
    return image;
}

// Threads (eight, as the map view's drawing pool, or one) that share out the cells of kViewportsPerRun
// viewports; run() returns when every cell is drawn. Several viewports a run keep the threads' wake-up (long
// on a loaded machine) from weighing on both sides alike.
constexpr int kViewportsPerRun = 10;
constexpr int kCellsPerRun = kViewportsPerRun * kColumns * kRows;

class ViewportThreads {
  public:
    explicit ViewportThreads(int count) {
        if (count < 1) std::abort();
        for (int i = 0; i < count; ++i) threads_.emplace_back([this] { work(); });
    }
    ~ViewportThreads() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        for (auto& thread : threads_) thread.join();
    }
    // Seconds for one viewport (the mean over the run).
    double run(const std::function<QImage(int)>& drawCell) {
        const auto start = std::chrono::steady_clock::now();
        {
            std::lock_guard lock(mutex_);
            drawCell_ = &drawCell;
            next_ = 0;
            left_ = kCellsPerRun;
            ++generation_;
        }
        wake_.notify_all();
        std::unique_lock lock(mutex_);
        done_.wait(lock, [this] { return left_ == 0; });
        drawCell_ = nullptr;
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
               kViewportsPerRun;
    }

  private:
    void work() {
        uint64_t seen = 0;
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
            if (stop_) return;
            seen = generation_;
            while (next_ < kCellsPerRun) {
                const int index = next_++ % (kColumns * kRows);
                const auto* drawCell = drawCell_;
                lock.unlock();
                benchmark::DoNotOptimize((*drawCell)(index));
                lock.lock();
                if (--left_ == 0) done_.notify_one();
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    const std::function<QImage(int)>* drawCell_ = nullptr;
    int next_ = 0;
    int left_ = 0;
    uint64_t generation_ = 0;
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

double median(std::vector<double> values) {
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

void BM_WarmViewport_Paired(benchmark::State& state) {
    constexpr int kRounds = 21;
    Fixture& f = fixture(state.range(0));
    ViewportThreads threads(int(state.range(1)));
    const std::function<QImage(int)> ours = [&f](int index) { return drawCellOurs(f, index); };
    const std::function<QImage(int)> floor = [&f](int index) { return drawCellFloor(f, index); };
    threads.run(ours);  // warm: the zoomed cache of the shifted source is filled here
    threads.run(floor);
    std::vector<double> ratios;
    std::vector<double> oursMs;
    std::vector<double> floorMs;
    for (auto _ : state) {
        for (int round = 0; round < kRounds; ++round) {
            // Which side goes first alternates, so a trend within a pair cancels out.
            double a = 0;
            double b = 0;
            if (round % 2 == 0) {
                a = threads.run(ours);
                b = threads.run(floor);
            } else {
                b = threads.run(floor);
                a = threads.run(ours);
            }
            ratios.push_back(a / b);
            oursMs.push_back(a * 1e3);
            floorMs.push_back(b * 1e3);
        }
    }
    state.counters["x_floor"] = median(ratios);
    state.counters["ours_ms"] = median(oursMs);
    state.counters["floor_ms"] = median(floorMs);
    if (state.range(0)) {
        state.counters["zoomed_entries"] = double(f.renderer->zoomedTileCount());
        state.counters["zoomed_MB"] = double(f.renderer->zoomedTileBytes()) / 1e6;
    }
}
BENCHMARK(BM_WarmViewport_Paired)
    ->ArgsProduct({{0, 2}, {kThreads, 1}})
    ->ArgNames({"shift", "threads"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

void BM_ReadAndDecodeFloor(benchmark::State& state) {
    Fixture& f = fixture(state.range(0));
    for (auto _ : state) {
        for (int i = state.thread_index(); i < kColumns * kRows; i += state.threads()) {
            benchmark::DoNotOptimize(drawCellFloor(f, i));
        }
    }
}

std::atomic<int64_t> gLookups{0};

void BM_RendererWarmViewport(benchmark::State& state) {
    Fixture& f = fixture(state.range(0));
    if (state.thread_index() == 0) gLookups = 0;
    for (auto _ : state) {
        for (int i = state.thread_index(); i < kColumns * kRows; i += state.threads()) {
            benchmark::DoNotOptimize(drawCellOurs(f, i));
            ++gLookups;
        }
    }
    if (state.thread_index() == 0 && state.range(0)) {
        state.counters["zoomed_entries"] = double(f.renderer->zoomedTileCount());
        state.counters["zoomed_MB"] = double(f.renderer->zoomedTileBytes()) / 1e6;
        // Each distinct lower tile is made once; every other cell is a hit.
        const double cells = double(gLookups.load());
        state.counters["hit_rate"] = cells > 0 ? 1.0 - double(f.files.size()) / cells : 0;
    }
}

struct RatioReporter : benchmark::ConsoleReporter {
    void ReportRuns(const std::vector<Run>& runs) override {
        std::vector<Run> copy = runs;
        for (auto& run : copy) {
            const std::string name = run.benchmark_name();
            const std::string variant = name.substr(name.find('/'));
            if (name.starts_with("BM_WarmViewport_Paired")) {
                continue;
            } else if (name.starts_with("BM_ReadAndDecodeFloor")) {
                floorSeconds[variant] = run.GetAdjustedRealTime();
            } else if (floorSeconds[variant] > 0) {
                run.counters["x_floor"] =
                    benchmark::Counter(run.GetAdjustedRealTime() / floorSeconds[variant]);
            }
        }
        ConsoleReporter::ReportRuns(copy);
    }
};

}  // namespace

BENCHMARK(BM_ReadAndDecodeFloor)
    ->Arg(0)
    ->Arg(2)
    ->Threads(kThreads)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RendererWarmViewport)
    ->Arg(0)
    ->Arg(2)
    ->Threads(kThreads)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
