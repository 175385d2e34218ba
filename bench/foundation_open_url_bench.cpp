// Asking the desktop whether a URL scheme has a handler, as the device
// registration does for seven schemes at every heartbeat: canOpenURL over a
// registry the size of a full desktop (400 entries of ~3 KB with translated
// names, a mimeinfo.cache naming them, a user mimeapps.list), for schemes that
// nothing handles (every file is looked at, no early answer), against the
// floor: reading every file of the registry once per question. Both run in
// each iteration, one after the other. "of_floor" is the floor's time over
// canOpenURL's (1.0 would mean the look-up costs no more than the reads).
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "platform/foundation/CanOpenURL.hpp"
#include "platform/foundation/FileManager.hpp"

namespace {

constexpr int kEntries = 400;
const char* const kSchemes[] = {"comgooglemaps", "magicearth", "osmandmaps", "sgnl",
                                "uber",          "waze",       "whatsapp"};

struct Registry {
    std::string root;
    std::vector<std::string> files;
};

void write(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

const Registry& registry() {
    static const Registry made = [] {
        const char* base = std::getenv("TERVOLO_BENCH_DIR");
        std::string pattern = std::string(base ? base : "/var/tmp") + "/open-url-bench-XXXXXX";
        if (!::mkdtemp(pattern.data())) std::abort();
        Registry r{pattern, {}};
        const std::string apps = r.root + "/sys-data/applications";
        std::string cache = "[MIME Cache]\n";
        for (int i = 0; i < kEntries; ++i) {
            const std::string id = "org.example.App" + std::to_string(i) + ".desktop";
            std::string entry =
                "[Desktop Entry]\nType=Application\nName=Application " + std::to_string(i) + "\n";
            for (const char* language : {"de", "fi", "fr", "ja", "ru", "sv", "zh_CN", "es", "it", "pt_BR"}) {
                entry += std::string("Name[") + language + "]=Application " + std::to_string(i) + "\n";
                entry += std::string("Comment[") + language + "]=" + std::string(200, 'c') + "\n";
            }
            entry += "Exec=/usr/bin/app" + std::to_string(i) + " %U\n";
            entry += "MimeType=text/plain;image/png;application/x-example-" + std::to_string(i) + ";\n";
            write(apps + "/" + id, entry);
            r.files.push_back(apps + "/" + id);
            cache += "application/x-example-" + std::to_string(i) + "=" + id + ";\n";
        }
        write(apps + "/mimeinfo.cache", cache);
        r.files.push_back(apps + "/mimeinfo.cache");
        write(r.root + "/config/mimeapps.list",
              "[Default Applications]\nx-scheme-handler/https=org.example.App1.desktop\n");
        r.files.push_back(r.root + "/config/mimeapps.list");
        ::setenv("XDG_DATA_HOME", (r.root + "/data").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (r.root + "/config").c_str(), 1);
        ::setenv("XDG_DATA_DIRS", (r.root + "/sys-data").c_str(), 1);
        ::setenv("XDG_CONFIG_DIRS", (r.root + "/sys-config").c_str(), 1);
        ::unsetenv("XDG_CURRENT_DESKTOP");
        return r;
    }();
    return made;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_SevenProbesAgainstReadingTheRegistry(benchmark::State& state) {
    const Registry& r = registry();
    double floorSeconds = 0;
    double lookupSeconds = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        size_t bytes = 0;
        for (size_t k = 0; k < std::size(kSchemes); ++k) {
            for (const std::string& file : r.files) {
                auto data = platform::FileManager::defaultManager().readFileSafely(file, 1024 * 1024);
                if (!data) std::abort();
                bytes += data.value().size();
            }
        }
        benchmark::DoNotOptimize(bytes);
        floorSeconds += secondsSince(start);
        start = std::chrono::steady_clock::now();
        for (const char* scheme : kSchemes) {
            if (platform::canOpenURL(std::string(scheme) + "://test/")) std::abort();
        }
        lookupSeconds += secondsSince(start);
    }
    state.counters["probes_ms"] = 1000.0 * lookupSeconds / double(state.iterations());
    state.counters["floor_ms"] = 1000.0 * floorSeconds / double(state.iterations());
    state.counters["of_floor"] = floorSeconds / lookupSeconds;
}

}  // namespace

BENCHMARK(BM_SevenProbesAgainstReadingTheRegistry)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1.0);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::remove_all(registry().root, ignored);
    return 0;
}
