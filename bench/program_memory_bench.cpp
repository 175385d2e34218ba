// The composed program's resident size after ordinary use, against its own size at start in the same
// run. The program (its composition, offscreen, in a process of its own with a private home, every
// server a loopback fake of the end-to-end runs) is driven through its window as a user drives it: a
// long press that stores a point, about a minute of zooming and panning over the world, the point
// list, a point's details screen and a search for a place. Printed: the resident size at start and
// after, and each cache's budget and what it holds then.
// Counters: "start_MB", "after_MB" (goal ≤ 200), "ratio" (after / start), and per cache its megabytes
// after ("<cache>_MB") with its budget where it has one ("<cache>_budget_MB").
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

#include "e2e/EndToEndRun.hpp"
#include "e2e/MemoryFigures.hpp"

namespace {

using tervolo::e2e::EndToEndRun;

constexpr double kMB = 1024.0 * 1024.0;

std::string counterName(std::string name) {
    for (char& c : name) {
        if (c == ' ' || c == ':' || c == '.' || c == '/') c = '_';
    }
    return name;
}

void BM_ProgramMemoryAfterOrdinaryUse(benchmark::State& state) {
    for (auto _ : state) {
        EndToEndRun run;
        run.geocoder().setReversePlace({"Harbour Gate", "Quay Street", "Helsinki", "Finland", 0, 0});
        run.geocoder().addPlace(
            {"Fish Market Hall", "Market Square", "Helsinki", "Finland", 60.1672, 24.9531});
        const std::map<QString, QString> extra{{"TERVOLO_E2E_REVERSE_TITLE", "Harbour Gate"},
                                               {"TERVOLO_E2E_SEARCH_PLACE", "Fish Market Hall"}};
        // TERVOLO_MEMORY_PROBE_E2E names another build of the end-to-end binary to measure (before and after
        // a change).
        const char* other = std::getenv("TERVOLO_MEMORY_PROBE_E2E");
        const auto outcome =
            run.runPhase(other != nullptr && *other != 0 ? other : TERVOLO_E2E_PATH, 5, extra, 600);
        std::ifstream in(run.runFolder() + "/memory.json");
        const auto figures = nlohmann::json::parse(in, nullptr, false);
        if (!outcome.finished || outcome.exitCode != 0 || !figures.is_object() ||
            !figures.contains("after")) {
            state.SkipWithError("the measured use did not complete");
            std::fprintf(stderr, "%s\n", outcome.output.c_str());
            return;
        }
        const auto& start = figures["start"];
        const auto& after = figures["after"];
        std::printf("start: %s\nafter: %s\n", tervolo::e2e::describeMemoryFigures(start).c_str(),
                    tervolo::e2e::describeMemoryFigures(after).c_str());
        const double startMB = start.value("residentBytes", 0.0) / kMB;
        const double afterMB = after.value("residentBytes", 0.0) / kMB;
        state.counters["start_MB"] = startMB;
        state.counters["after_MB"] = afterMB;
        state.counters["ratio"] = startMB > 0 ? afterMB / startMB : 0;
        state.counters["heap_free_kept_MB"] = after.value("heapFreeKeptBytes", 0.0) / kMB;
        for (const auto& cache : after.value("caches", nlohmann::json::array())) {
            const std::string name = counterName(cache.value("name", "cache"));
            state.counters[name + "_MB"] = cache.value("bytes", 0.0) / kMB;
            if (cache.value("budgetBytes", 0.0) > 0)
                state.counters[name + "_budget_MB"] = cache.value("budgetBytes", 0.0) / kMB;
        }
        state.SetIterationTime(1);
    }
}
BENCHMARK(BM_ProgramMemoryAfterOrdinaryUse)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
