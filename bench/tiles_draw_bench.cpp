// A warm 1920x1080 viewport (8 x 5 cells of 256 points at level 12) drawn by
// the tile overlay renderer from the disk cache on 8 threads, against the
// floor: reading and decoding the same tile files on 8 threads, in the same
// run. The renderer's figure carries "x_floor" (goal: at most 1.3). The
// shifted-source variant (cells cut from tiles one level lower) reports the
// zoomed cache's hit rate and the bytes it holds. The graphics context only
// counts images, so the figures are the renderer's own work.
#include <atomic>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <QByteArray>
#include <QImage>

#include <benchmark/benchmark.h>

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

class CountingContext : public platform::MKGraphicsContext {
  public:
    void saveGState() override {}
    void restoreGState() override {}
    void translateCTM(double, double) override {}
    void scaleCTM(double, double) override {}
    void setAlpha(double) override {}
    void setFillColor(const platform::Color&) override {}
    void setStrokeColor(const platform::Color&) override {}
    void setLineWidth(double) override {}
    void fillRect(const Rect&) override {}
    void fillEllipseInRect(const Rect&) override {}
    void strokeEllipseInRect(const Rect&) override {}
    void fillPolygon(const std::vector<Point>&) override {}
    void strokePath(const std::vector<Point>&, bool) override {}
    void drawImage(const Rect&, const platform::MKBitmap& image) override { pixels += image.pixels.size(); }
    void showText(const std::string&, Point, const std::string&, double) override {}
    size_t pixels = 0;
};

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

void BM_ReadAndDecodeFloor(benchmark::State& state) {
    Fixture& f = fixture(state.range(0));
    // Every cell decodes one file, as a whole-tile draw does.
    for (auto _ : state) {
        for (int i = state.thread_index(); i < kColumns * kRows; i += state.threads()) {
            const std::string& path = f.files[size_t(i) % f.files.size()];
            std::ifstream in(path, std::ios::binary);
            std::stringstream bytes;
            bytes << in.rdbuf();
            const std::string data = bytes.str();
            QImage image;
            image.loadFromData(QByteArray::fromRawData(data.data(), qsizetype(data.size())));
            benchmark::DoNotOptimize(image);
        }
    }
}

std::atomic<int64_t> gLookups{0};

void BM_RendererWarmViewport(benchmark::State& state) {
    Fixture& f = fixture(state.range(0));
    const double scale = std::pow(2.0, double(kLevel - 20));
    CountingContext context;
    if (state.thread_index() == 0) gLookups = 0;
    for (auto _ : state) {
        for (int i = state.thread_index(); i < kColumns * kRows; i += state.threads()) {
            f.renderer->drawMapRect(cellRect(i), scale, context);
            ++gLookups;
        }
    }
    if (state.thread_index() == 0)
        state.counters["pixels_per_draw"] = double(context.pixels) / double(state.iterations());
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
            if (name.starts_with("BM_ReadAndDecodeFloor")) {
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

BENCHMARK(BM_ReadAndDecodeFloor)->Arg(0)->Arg(2)->Threads(8)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RendererWarmViewport)->Arg(0)->Arg(2)->Threads(8)->UseRealTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
