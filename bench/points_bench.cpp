// Point files: loading the points folder against the floor of reading and
// parsing the same files with nlohmann-json alone, and saving points with the
// atomic write (fsync before rename) against the same write without fsync.
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include "bench/NullSearchIndex.hpp"
#include "platform/foundation/FileManager.hpp"
#include "platform/searchindex/SearchIndex.hpp"
#include "points/QuovaMapPoint.hpp"
#include "points/QuovaMapPointStore.hpp"

namespace {

using tervolo::points::QuovaMapPoint;
using tervolo::points::QuovaMapPointStore;

std::shared_ptr<QuovaMapPoint> samplePoint(int i) {
    auto point = QuovaMapPoint::make("Point number " + std::to_string(i));
    point->setSubtitle("Some Street " + std::to_string(i) + ", 20095 Hamburg");
    point->setCoordinate({53.5 + i * 1e-5, 9.9 + i * 1e-5});
    point->setDataSourceName("OSM");
    point->setDataSourceURL("https://www.openstreetmap.org/node/" + std::to_string(i));
    point->setTags(std::vector<std::string>{"6A1E2B3C-4D5E-4F60-8172-839405A6B7C8"});
    point->ensureUUID();
    return point;
}

// A documents folder of its own with `count` point files, made once.
struct Folder {
    std::string root;
    std::string points;

    explicit Folder(int count) {
        char pattern[] = "/tmp/tervolo-points-bench-XXXXXX";
        root = mkdtemp(pattern);
        setenv("XDG_DATA_HOME", root.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
        platform::SearchIndex::setDefaultForTesting(std::make_shared<tervolo::bench::NullSearchIndex>());
        points = QuovaMapPoint::documentDirectory();
        for (int i = 0; i < count; ++i) {
            auto point = samplePoint(i);
            platform::FileManager::defaultManager().writeFile(points + *point->uuid() + ".QuovaMapPoint",
                                                              point->encodedFile());
        }
    }
    ~Folder() { std::filesystem::remove_all(root); }
};

Folder& tenThousand() {
    static Folder folder(10000);
    return folder;
}

std::string readWhole(const std::string& path) {
    std::string bytes;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return bytes;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<size_t>(n));
    ::close(fd);
    return bytes;
}

// The floor: list the folder, read every file, parse it with nlohmann-json.
void BM_Load10k_NlohmannFloor(benchmark::State& state) {
    auto& folder = tenThousand();
    for (auto _ : state) {
        size_t parsed = 0;
        DIR* dir = ::opendir(folder.points.c_str());
        while (dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.') continue;
            auto json = nlohmann::json::parse(readWhole(folder.points + entry->d_name), nullptr, false);
            parsed += json.is_object() ? 1 : 0;
        }
        ::closedir(dir);
        benchmark::DoNotOptimize(parsed);
    }
    state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_Load10k_NlohmannFloor)->Unit(benchmark::kMillisecond);

// The store's load: list, safe read (regular files, size cap), strict decode,
// duplicate check, index hand-over.
void BM_Load10k_PointStore(benchmark::State& state) {
    tenThousand();
    auto& store = QuovaMapPointStore::shared();
    for (auto _ : state) {
        store.loadPointsFromLocalStore();
        benchmark::DoNotOptimize(store.points().size());
    }
    state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_Load10k_PointStore)->Unit(benchmark::kMillisecond);

std::vector<std::shared_ptr<QuovaMapPoint>>& thousandPoints() {
    static auto* points = [] {
        auto* made = new std::vector<std::shared_ptr<QuovaMapPoint>>;
        for (int i = 0; i < 1000; ++i) made->push_back(samplePoint(i));
        return made;
    }();
    return *points;
}

// The whole save as the program runs it: stamps, index hand-over, encoding,
// atomic write with fsync, needs-sync flag.
void BM_Save1000_WithFsync(benchmark::State& state) {
    tenThousand();
    for (auto _ : state) {
        for (auto& point : thousandPoints()) point->save(QuovaMapPointStore::shared());
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_Save1000_WithFsync)->Unit(benchmark::kMillisecond)->Iterations(3);

// Encoding and the atomic write alone (temporary file, fsync, rename): the
// part of a save that the choice about fsync touches.
void BM_Save1000_WriteWithFsync(benchmark::State& state) {
    auto& folder = tenThousand();
    for (auto _ : state) {
        for (auto& point : thousandPoints()) {
            platform::FileManager::defaultManager().writeFile(
                folder.points + *point->uuid() + ".QuovaMapPoint", point->encodedFile(),
                platform::WriteOptions::Atomic);
        }
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_Save1000_WriteWithFsync)->Unit(benchmark::kMillisecond)->Iterations(3);

// The same 1,000 points encoded and written through a temporary file and a
// rename, but without fsync: what dropping fsync would save.
void BM_Save1000_WithoutFsync(benchmark::State& state) {
    auto& folder = tenThousand();
    for (auto _ : state) {
        for (auto& point : thousandPoints()) {
            const std::string bytes = point->encodedFile();
            const std::string path = folder.points + *point->uuid() + ".QuovaMapPoint";
            std::string temporary = folder.points + "." + *point->uuid() + ".tmp-XXXXXX";
            const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
            if (fd < 0) continue;
            if (::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
                ::close(fd);
                ::unlink(temporary.c_str());
                continue;
            }
            ::close(fd);
            ::rename(temporary.c_str(), path.c_str());
        }
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_Save1000_WithoutFsync)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
