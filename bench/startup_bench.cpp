// The whole program's start-up with 10,000 stored points, against the floor of
// the point store loading the same files, both measured in the same run.
//
// BM_Startup10k_Program spawns the real TervoloNG (offscreen, private XDG
// folders holding the points, every server host a closed port on 127.0.0.1)
// with TERVOLO_QUIT_AFTER_FIRST_FRAME=1 and times from the spawn until the
// program writes "first map frame after N ms": process start, Qt, the
// launch sequence, the stores, the map screen and its first complete frame.
// BM_Startup10k_StoreLoadFloor loads the same 10,000 files with the point
// store's own reader, one file after another on one thread, in this process.
// BM_Startup0_Program starts the same program over a home with no points.
// Counters on BM_Startup10k_Program: "ratio", start-up / store load (goal
// ≤ 2.0); "added_ratio", the time the points add to the start (10k − none)
// / store load (goal ≤ 1.0). BM_Startup10k_Interleaved measures the three
// side by side in every round and gives the same ratio from their medians, and
// "exit_ms", how long the program took to end after that first frame.
// TERVOLO_STARTUP_PROGRAM runs another build of the program (an older one,
// say) in place of this build's.
#include <benchmark/benchmark.h>

#include <QProcess>
#include <QProcessEnvironment>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/NullSearchIndex.hpp"
#include "platform/foundation/FileManager.hpp"
#include "platform/searchindex/SearchIndex.hpp"
#include "points/QuovaMapPoint.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/QuovaPointTag.hpp"

namespace {

using tervolo::points::QuovaMapPoint;
using tervolo::points::QuovaMapPointStore;
using Clock = std::chrono::steady_clock;

constexpr int kPoints = 10000;

// A home of its own with the points (around Helsinki, so many lie in the
// first view), two tags, made once.
struct Home {
    std::string root;

    Home() {
        char pattern[] = "/tmp/tervolo-startup-bench-XXXXXX";
        root = mkdtemp(pattern);
        setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
        setenv("XDG_CACHE_HOME", (root + "/cache").c_str(), 1);
        setenv("XDG_STATE_HOME", (root + "/state").c_str(), 1);
        platform::SearchIndex::setDefaultForTesting(std::make_shared<tervolo::bench::NullSearchIndex>());
        auto tag = tervolo::points::QuovaPointTag::make("Favourites");
        tag->save();
        const std::string folder = QuovaMapPoint::documentDirectory();
        for (int i = 0; i < kPoints; ++i) {
            auto point = QuovaMapPoint::make("Point number " + std::to_string(i));
            point->setSubtitle("Some Street " + std::to_string(i) + ", 00100 Helsinki");
            point->setCoordinate({60.0 + (i % 100) * 0.004, 24.7 + (i / 100) * 0.006});
            if (i % 3 == 0) point->setTags(std::vector<std::string>{tag->uuid()});
            point->ensureUUID();
            platform::FileManager::defaultManager().writeFile(folder + *point->uuid() + ".QuovaMapPoint",
                                                              point->encodedFile());
        }
    }
    ~Home() { std::filesystem::remove_all(root); }

    QProcessEnvironment environment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("HOME", QString::fromStdString(root));
        for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) {
            environment.insert(name, QString::fromLocal8Bit(std::getenv(name)));
        }
        environment.insert("TERVOLO_QUIT_AFTER_FIRST_FRAME", "1");
        // No request leaves the machine: every server is a closed port on the loopback address.
        for (const char* key :
             {"QuovaAPIHost", "QuovaProductWebHost", "QuovaAnalyticsHost", "QuovaGeocoderHost"}) {
            environment.insert(QString("TERVOLO_") + key, "http://127.0.0.1:9");
        }
        environment.insert("TERVOLO_QuovaTileServerScheme", "http");
        environment.insert("TERVOLO_QuovaTileServerHost", "tiles.bench.localhost:9");
        environment.insert("TERVOLO_QuovaSeaMarkTileServerScheme", "http");
        environment.insert("TERVOLO_QuovaSeaMarkTileServerHost", "seamarks.bench.localhost:9");
        environment.insert("TERVOLO_QuovaTilePreloadHost", "");
        return environment;
    }
};

Home& home() {
    static Home made;  // removed with its folder at exit
    return made;
}

double floorSeconds = 0;
double emptyStartSeconds = 0;

// One start of the program over `environment` until its first map frame; the seconds from the
// spawn, or a negative number (with `errorText` set) when no frame came.
// The program started: TERVOLO_STARTUP_PROGRAM names another build of it (an older one, say) in place
// of this build's.
QString programPath() {
    const QString other = qEnvironmentVariable("TERVOLO_STARTUP_PROGRAM");
    return other.isEmpty() ? QStringLiteral(TERVOLO_PROGRAM_PATH) : other;
}

// Seconds from the first frame until the process ended, of the last startOnce.
double exitSeconds = 0;

double startOnce(const QProcessEnvironment& environment, double* inProgram, std::string* errorText) {
    QProcess program;
    program.setProcessEnvironment(environment);
    const auto start = Clock::now();
    program.start(programPath(), {});
    QByteArray errors;
    bool seen = false;
    while (!seen && program.waitForReadyRead(120000)) {
        errors += program.readAllStandardError();
        seen = errors.contains("first map frame after ");
    }
    const auto frame = Clock::now();
    const double seconds = std::chrono::duration<double>(frame - start).count();
    program.waitForFinished(60000);
    exitSeconds = std::chrono::duration<double>(Clock::now() - frame).count();
    errors += program.readAllStandardError();
    if (!seen || program.exitCode() != 0) {
        *errorText = "no first frame: " + errors.right(400).toStdString();
        return -1;
    }
    const auto at = errors.indexOf("first map frame after ") + 22;
    *inProgram = errors.mid(at, errors.indexOf(" ms", at) - at).toDouble() / 1000.0;
    return seconds;
}

struct FloorRun {
    double seconds;
    size_t loaded;
};

// What the store's load does, on this one thread: list the folder, read and decode each file.
FloorRun loadLikeTheStore() {
    const std::string folder = QuovaMapPoint::documentDirectory();
    const auto start = Clock::now();
    std::vector<std::shared_ptr<QuovaMapPoint>> points;
    const auto names = platform::FileManager::defaultManager().contentsOfDirectory(folder);
    if (names.ok()) {
        for (const auto& name : names.value()) {
            if (auto point = QuovaMapPoint::initWithFilePath(folder + name))
                points.push_back(std::move(point));
        }
    }
    return {std::chrono::duration<double>(Clock::now() - start).count(), points.size()};
}

void BM_Startup10k_StoreLoadFloor(benchmark::State& state) {
    home();
    double total = 0;
    int64_t runs = 0;
    size_t loaded = 0;
    for (auto _ : state) {
        const FloorRun run = loadLikeTheStore();
        loaded = run.loaded;
        state.SetIterationTime(run.seconds);
        total += run.seconds;
        ++runs;
    }
    floorSeconds = total / static_cast<double>(runs);
    state.counters["points"] = static_cast<double>(loaded);
}
BENCHMARK(BM_Startup10k_StoreLoadFloor)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

// Starts the program once per iteration in `environment`, each start's time as the iteration's.
struct Starts {
    double totalSeconds = 0;
    double inProgramSeconds = 0;  // what the program itself counted
    int64_t runs = 0;
    double meanSeconds() const { return totalSeconds / static_cast<double>(runs); }
};

Starts timeStarts(benchmark::State& state, const QProcessEnvironment& environment) {
    Starts starts;
    for (auto _ : state) {
        double inProgram = 0;
        std::string errorText;
        const double seconds = startOnce(environment, &inProgram, &errorText);
        if (seconds < 0) {
            state.SkipWithError(errorText.c_str());
            break;
        }
        state.SetIterationTime(seconds);
        starts.totalSeconds += seconds;
        starts.inProgramSeconds += inProgram;
        ++starts.runs;
    }
    return starts;
}

// The same program over a home of its own with no points (made once).
void BM_Startup0_Program(benchmark::State& state) {
    home();  // the XDG folders of the points' home; the empty home differs only in its data folder
    static const std::string emptyRoot = [] {
        char pattern[] = "/tmp/tervolo-startup-empty-XXXXXX";
        return std::string(mkdtemp(pattern));
    }();
    QProcessEnvironment environment = home().environment();
    environment.insert("HOME", QString::fromStdString(emptyRoot));
    for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) {
        environment.insert(name, QString::fromStdString(emptyRoot + "/" + name));
    }
    const Starts starts = timeStarts(state, environment);
    if (starts.runs > 0) emptyStartSeconds = starts.meanSeconds();
    std::filesystem::remove_all(emptyRoot);
}
BENCHMARK(BM_Startup0_Program)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

void BM_Startup10k_Program(benchmark::State& state) {
    const Starts starts = timeStarts(state, home().environment());
    if (starts.runs == 0) return;
    const double mean = starts.meanSeconds();
    // What the program itself counts, from its application object to the frame.
    state.counters["in_program_ms"] = starts.inProgramSeconds / static_cast<double>(starts.runs) * 1000.0;
    if (floorSeconds > 0) state.counters["ratio"] = mean / floorSeconds;
    if (floorSeconds > 0 && emptyStartSeconds > 0)
        state.counters["added_ratio"] = (mean - emptyStartSeconds) / floorSeconds;
}
BENCHMARK(BM_Startup10k_Program)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

// The three measured side by side in each round, so that a noisy machine
// loads them alike: the store's reader on one thread, a start over no points
// and a start over the 10,000. Counters from the medians of the rounds:
// "added_ratio" (10k start − empty start) / store load (goal ≤ 1.0), and the
// medians themselves.
double medianOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double storeLoadOnce() {
    const FloorRun run = loadLikeTheStore();
    return run.loaded == static_cast<size_t>(kPoints) ? run.seconds : -1;
}

void BM_Startup10k_Interleaved(benchmark::State& state) {
    home();
    char pattern[] = "/tmp/tervolo-startup-empty-XXXXXX";
    const std::string emptyRoot = mkdtemp(pattern);
    QProcessEnvironment emptyEnvironment = home().environment();
    emptyEnvironment.insert("HOME", QString::fromStdString(emptyRoot));
    for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) {
        emptyEnvironment.insert(name, QString::fromStdString(emptyRoot + "/" + name));
    }
    std::vector<double> floors, empties, fulls, exits;
    for (auto _ : state) {
        double inProgram = 0;
        std::string errorText;
        const double floor = storeLoadOnce();
        const double empty = startOnce(emptyEnvironment, &inProgram, &errorText);
        const double full = empty < 0 ? -1 : startOnce(home().environment(), &inProgram, &errorText);
        if (floor < 0 || empty < 0 || full < 0) {
            state.SkipWithError(floor < 0 ? "the store did not load every point" : errorText.c_str());
            break;
        }
        floors.push_back(floor);
        empties.push_back(empty);
        fulls.push_back(full);
        exits.push_back(exitSeconds);
        state.SetIterationTime(full);
    }
    std::filesystem::remove_all(emptyRoot);
    if (fulls.empty()) return;
    const double floor = medianOf(floors);
    state.counters["floor_ms"] = floor * 1000.0;
    state.counters["empty_ms"] = medianOf(empties) * 1000.0;
    state.counters["start_ms"] = medianOf(fulls) * 1000.0;
    state.counters["added_ratio"] = (medianOf(fulls) - medianOf(empties)) / floor;
    // From the first frame of the start with 10,000 points (it quits there) until the process ended.
    state.counters["exit_ms"] = medianOf(exits) * 1000.0;
}
BENCHMARK(BM_Startup10k_Interleaved)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(9);

}  // namespace
