// LatLon → UTM → MGRS text, and MGRS text → UTM → LatLon, against GeographicLib's UTMUPS and MGRS doing the
// same conversions on the same points in the same run. Prints the throughput ratio (ours / GeographicLib;
// above 1 means faster) at the end.
#include <benchmark/benchmark.h>

#include <GeographicLib/MGRS.hpp>
#include <GeographicLib/UTMUPS.hpp>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "geodesy/Mgrs.hpp"

using namespace tervolo::geodesy;

namespace {

struct Point {
    double lat, lon;
};

const std::vector<Point>& points() {
    static const std::vector<Point> all = [] {
        std::mt19937_64 random(42);
        std::uniform_real_distribution<double> latitudes(-79.9, 83.9), longitudes(-180.0, 179.9);
        std::vector<Point> result(4096);
        for (auto& p : result) p = {latitudes(random), longitudes(random)};
        return result;
    }();
    return all;
}

const std::vector<std::string>& mgrsTexts() {
    static const std::vector<std::string> all = [] {
        std::vector<std::string> result;
        for (const auto& p : points()) {
            int zone;
            bool northp;
            double x, y;
            GeographicLib::UTMUPS::Forward(p.lat, p.lon, zone, northp, x, y);
            std::string text;
            GeographicLib::MGRS::Forward(zone, northp, x, y, 5, text);
            result.push_back(text);
        }
        return result;
    }();
    return all;
}

void BM_Forward_Ours(benchmark::State& state) {
    size_t i = 0;
    for (auto _ : state) {
        const Point& p = points()[i++ & 4095];
        std::string text = LatLon(p.lat, p.lon).toUTM().toMGRS().toString(5);
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(BM_Forward_Ours);

void BM_Forward_GeographicLib(benchmark::State& state) {
    size_t i = 0;
    for (auto _ : state) {
        const Point& p = points()[i++ & 4095];
        int zone;
        bool northp;
        double x, y, gamma, k;
        GeographicLib::UTMUPS::Forward(p.lat, p.lon, zone, northp, x, y, gamma, k);
        std::string text;
        GeographicLib::MGRS::Forward(zone, northp, x, y, 5, text);
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(BM_Forward_GeographicLib);

void BM_Reverse_Ours(benchmark::State& state) {
    size_t i = 0;
    for (auto _ : state) {
        const std::string& text = mgrsTexts()[i++ & 4095];
        const LatLon position = Mgrs::parse(text).toUTM().toLatLonE();
        benchmark::DoNotOptimize(position.lat());
        benchmark::DoNotOptimize(position.lon());
    }
}
BENCHMARK(BM_Reverse_Ours);

void BM_Reverse_GeographicLib(benchmark::State& state) {
    size_t i = 0;
    for (auto _ : state) {
        const std::string& text = mgrsTexts()[i++ & 4095];
        int zone, prec;
        bool northp;
        double x, y, lat, lon;
        GeographicLib::MGRS::Reverse(text, zone, northp, x, y, prec, false);
        GeographicLib::UTMUPS::Reverse(zone, northp, x, y, lat, lon);
        benchmark::DoNotOptimize(lat);
        benchmark::DoNotOptimize(lon);
    }
}
BENCHMARK(BM_Reverse_GeographicLib);

// Collects the time per iteration of every run so that the ratios can be printed after the table.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.iterations > 0) nanoseconds_[run.benchmark_name()] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void printRatios() const {
        for (const char* direction : {"Forward", "Reverse"}) {
            const auto ours = nanoseconds_.find(std::string("BM_") + direction + "_Ours");
            const auto reference = nanoseconds_.find(std::string("BM_") + direction + "_GeographicLib");
            if (ours == nanoseconds_.end() || reference == nanoseconds_.end()) continue;
            std::printf("%s throughput ratio (ours / GeographicLib): %.2f\n", direction,
                        reference->second / ours->second);
        }
    }

  private:
    std::map<std::string, double> nanoseconds_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    points();
    mgrsTexts();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
