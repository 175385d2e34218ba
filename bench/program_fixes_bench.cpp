// The composed program's cost of a position fix with the user's dot in view against the dot out of
// view, measured in the same run. The program (its composition, offscreen, in a process of its own with
// a private home, every server a loopback fake of the end-to-end runs) gets a walk east at 1.4 m/s, one
// fix a second; each round the my-location button brings the dot into view and the program is left
// alone for a window of fixes, then a drag takes the dot out of view and it is left alone for another
// (a phase of the end-to-end binary; TERVOLO_FIXES_PROBE_E2E names another build of it, to compare).
// Counters, medians over the rounds:
//  - "in_view_pct", "out_of_view_pct": CPU of the whole process in percent of one core;
//  - "in_view_ms_per_fix", "out_of_view_ms_per_fix": that CPU per fix;
//  - "ratio": in view / out of view per fix (goal ≤ 1.5);
//  - "in_view_area_per_fix", "out_of_view_area_per_fix": the map's repainted area per fix, in points
//    ("in_view_area_share": as a share of the map's area), and "window_area_per_fix" for all widgets.
// TERVOLO_FIXES_SECONDS (20) and TERVOLO_FIXES_ROUNDS (3) set the windows' length and number.
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "e2e/EndToEndRun.hpp"

namespace {

using tervolo::e2e::EndToEndRun;

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double environmentNumber(const char* name, double fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != 0 ? std::atof(text) : fallback;
}

void BM_FixesDotInViewAgainstOutOfView(benchmark::State& state) {
    const double seconds = environmentNumber("TERVOLO_FIXES_SECONDS", 20);
    const int rounds = static_cast<int>(environmentNumber("TERVOLO_FIXES_ROUNDS", 3));
    for (auto _ : state) {
        EndToEndRun run;
        // Enough fixes for every window and the moves between them.
        run.setTrack(static_cast<int>(rounds * (2 * seconds + 30) + 120), 1.4);
        const std::map<QString, QString> extra{{"TERVOLO_E2E_USE_SECONDS", QString::number(seconds)},
                                               {"TERVOLO_E2E_ROUNDS", QString::number(rounds)}};
        const char* other = std::getenv("TERVOLO_FIXES_PROBE_E2E");
        const auto outcome = run.runPhase(other != nullptr && *other != 0 ? other : TERVOLO_E2E_PATH, 6,
                                          extra, rounds * (2 * seconds + 60) + 300);
        std::ifstream in(run.runFolder() + "/fixes.json");
        const auto figures = nlohmann::json::parse(in, nullptr, false);
        if (!outcome.finished || outcome.exitCode != 0 || !figures.is_array() || figures.empty()) {
            state.SkipWithError("the fixes were not measured");
            std::fprintf(stderr, "%s\n", outcome.output.c_str());
            return;
        }
        std::map<std::string, std::vector<double>> series;
        for (const auto& round : figures) {
            double perFix[2] = {0, 0};
            int index = 0;
            for (const char* mode : {"inView", "outOfView"}) {
                const auto& window = round[mode];
                const double fixes = std::max(1.0, window.value("fixes", 0.0));
                const double cpu = window.value("cpuSeconds", 0.0);
                const double wall = std::max(1e-9, window.value("wallSeconds", 0.0));
                const std::string name = index == 0 ? "in_view" : "out_of_view";
                series[name + "_pct"].push_back(100 * cpu / wall);
                series[name + "_ms_per_fix"].push_back(1e3 * cpu / fixes);
                series[name + "_area_per_fix"].push_back(window.value("mapArea", 0.0) / fixes);
                series[name + "_window_area_per_fix"].push_back(window.value("windowArea", 0.0) / fixes);
                series[name + "_paints_per_fix"].push_back(window.value("mapPaints", 0.0) / fixes);
                if (index == 0) {
                    const auto size = window.value("mapSize", nlohmann::json::array({1, 1}));
                    const double mapArea = std::max(1.0, size[0].get<double>() * size[1].get<double>());
                    series["in_view_area_share"].push_back(window.value("mapArea", 0.0) / fixes / mapArea);
                }
                perFix[index++] = cpu / fixes;
                std::printf("%-11s %5.0f fixes  %6.3f %% of a core  %6.3f ms a fix  %9.0f points a fix\n",
                            name.c_str(), fixes, 100 * cpu / wall, 1e3 * cpu / fixes,
                            window.value("mapArea", 0.0) / fixes);
            }
            series["ratio"].push_back(perFix[1] > 0 ? perFix[0] / perFix[1] : 0);
        }
        for (const auto& [name, values] : series) state.counters[name] = median(values);
        state.SetIterationTime(1);
    }
}
BENCHMARK(BM_FixesDotInViewAgainstOutOfView)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
