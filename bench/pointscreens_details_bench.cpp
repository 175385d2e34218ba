// Opening the point details screen for a point whose title is 100 KB of text, against opening it for
// a point with a normal title, in the same run: from presenting the screen in a window (as the map
// screen presents it: a full-screen navigation controller) until its first frame is painted, then
// closing it. Counter "ratio" on the long title: its time / the normal title's (goal ≤ 2.0).
#include <benchmark/benchmark.h>

#include <QApplication>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

#include "mapscreen/MainMapPort.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/mapkit/MKMapViewModel.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/NavigationController.hpp"
#include "points/QuovaMapPoint.hpp"
#include "pointscreens/PointDetailsViewController.hpp"

namespace {

using Clock = std::chrono::steady_clock;

QApplication& application() {
    static int argc = 1;
    static char name[] = "bench_pointscreens_details";
    static char* argv[] = {name, nullptr};
    static QApplication* made = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static std::string folder = [] {
            char pattern[] = "/tmp/details_benchXXXXXX";
            const char* created = mkdtemp(pattern);
            return std::string(created ? created : "/tmp");
        }();
        setenv("XDG_DATA_HOME", folder.c_str(), 1);
        setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
        return new QApplication(argc, argv);
    }();
    return *made;
}

// The map screen as the details screen sees it: a map model of its own.
class BenchMainMap : public tervolo::mapscreen::MainMapPort {
  public:
    platform::MKMapViewModel* mainMapView() const override { return &map_; }
    std::shared_ptr<platform::MKOverlay> haloForPoint(
        const std::shared_ptr<tervolo::points::QuovaMapPoint>&) const override {
        return nullptr;
    }
    void addAnnotation(const std::shared_ptr<tervolo::points::QuovaMapPoint>&) override {}
    void addPoint(const std::shared_ptr<tervolo::points::QuovaMapPoint>&) override {}
    void zoomInOnPoint(const std::shared_ptr<tervolo::points::QuovaMapPoint>&) override {}

  private:
    mutable platform::MKMapViewModel map_;
};

class Host : public platform::ViewController {};

void settle() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents();
        platform::RunLoop::runUntilIdle();
    }
}

// One opening of the screen for a point with `title`, until its first frame; seconds.
double openOnce(const std::string& title) {
    auto point = tervolo::points::QuovaMapPoint::make(title);
    point->setSubtitle(std::string("Pohjoisesplanadi 1, 00170 Helsinki"));
    point->setCoordinate({60.1675, 24.9525});
    auto mainMap = std::make_shared<BenchMainMap>();
    const auto start = Clock::now();
    auto window = std::make_unique<platform::MainWindow>();
    window->resize(700, 800);
    auto host = std::make_shared<Host>();
    window->setRootViewController(host);
    window->show();
    auto screen =
        std::make_shared<tervolo::pointscreens::PointDetailsViewController>("PointDetailsViewController");
    screen->setPoint(point);
    screen->setMainVC(mainMap);
    auto navigation = std::make_shared<platform::NavigationController>(screen);
    navigation->setModalPresentationStyle(platform::ModalPresentationStyle::fullScreen);
    host->present(navigation, false);
    settle();
    (void)window->grab();  // the first frame
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    window.reset();
    host.reset();
    settle();
    return seconds;
}

std::string longTitle() {
    std::string text;
    const std::string words[] = {"Harbour ", "market ", "square ", "by the ", "old ", "ferry ", "gate "};
    for (size_t i = 0; text.size() < 100 * 1024; ++i) text += words[i % 7];
    return text.substr(0, 100 * 1024);
}

double normalSeconds = 0;

void BM_DetailsScreen_NormalTitle(benchmark::State& state) {
    application();
    (void)openOnce("Market Square");  // warm: fonts, images, the first map
    double total = 0;
    int64_t runs = 0;
    for (auto _ : state) {
        const double seconds = openOnce("Market Square");
        state.SetIterationTime(seconds);
        total += seconds;
        ++runs;
    }
    normalSeconds = total / static_cast<double>(runs);
}
BENCHMARK(BM_DetailsScreen_NormalTitle)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

void BM_DetailsScreen_100KBTitle(benchmark::State& state) {
    application();
    const std::string title = longTitle();
    double total = 0;
    int64_t runs = 0;
    for (auto _ : state) {
        const double seconds = openOnce(title);
        state.SetIterationTime(seconds);
        total += seconds;
        ++runs;
    }
    if (normalSeconds > 0) state.counters["ratio"] = total / static_cast<double>(runs) / normalSeconds;
}
BENCHMARK(BM_DetailsScreen_100KBTitle)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

}  // namespace
