#include "e2e/MemoryFigures.hpp"

#include <malloc.h>

#include <QPixmapCache>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "mapscreen/QuovaMKMapView.hpp"
#include "platform/mapkit/qt/MKBaseMap.hpp"
#include "platform/mapkit/qt/MKMapViewCells.hpp"
#include "tiles/QuovaTileOverlay.hpp"
#include "tiles/TileCacheManager.hpp"
#include "tiles/TileOverlayRenderer.hpp"

namespace tervolo::e2e {

namespace {

// A "<name>: <n> kB" line of a /proc file, in bytes; 0 when missing.
size_t procKilobytes(const char* file, const std::string& name) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(name + ":", 0) == 0) return std::stoull(line.substr(name.size() + 1)) * 1024;
    }
    return 0;
}

// The C heap's arenas, counted in malloc_info's report.
size_t mallocArenas() {
    char* text = nullptr;
    size_t size = 0;
    FILE* stream = open_memstream(&text, &size);
    if (stream == nullptr) return 0;
    malloc_info(0, stream);
    std::fclose(stream);
    const std::string report(text, size);
    std::free(text);
    size_t count = 0;
    for (size_t at = report.find("<heap nr="); at != std::string::npos; at = report.find("<heap nr=", at + 1))
        ++count;
    return count;
}

nlohmann::json cache(const std::string& name, size_t budgetBytes, size_t budgetItems, size_t bytes,
                     size_t items) {
    return {{"name", name},
            {"budgetBytes", budgetBytes},
            {"budgetItems", budgetItems},
            {"bytes", bytes},
            {"items", items}};
}

std::string megabytes(double bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", bytes / (1024.0 * 1024.0));
    return text;
}

}  // namespace

nlohmann::json memoryFigures(mapscreen::QuovaMKMapView* map) {
    nlohmann::json figures;
    figures["residentBytes"] = procKilobytes("/proc/self/status", "VmRSS");
    figures["anonymousBytes"] = procKilobytes("/proc/self/smaps_rollup", "Anonymous");
    const struct mallinfo2 heap = mallinfo2();
    figures["heapInUseBytes"] = heap.uordblks;
    figures["heapFreeKeptBytes"] = heap.fordblks;
    figures["heapMappedBytes"] = heap.hblkhd;
    figures["heapArenas"] = mallocArenas();

    nlohmann::json caches = nlohmann::json::array();
    auto& cells = platform::CellCache::shared();
    caches.push_back(cache("map cells", cells.byteLimit(), 0, cells.byteCount(), cells.cellCount()));
    const auto& baseMap = platform::MKBaseMap::shared();
    const char* scales[] = {"base map 1:110m", "base map 1:50m", "base map 1:10m"};
    for (int detail = 0; detail < 3; ++detail) {
        const size_t bytes = baseMap.geometryBytes(static_cast<platform::MKBaseMap::Detail>(detail));
        caches.push_back(cache(scales[detail], 0, 0, bytes, bytes > 0 ? 1 : 0));
    }
    if (map != nullptr) {
        for (const auto& overlay : map->overlays()) {
            auto tileOverlay = std::dynamic_pointer_cast<tiles::QuovaTileOverlay>(overlay);
            if (!tileOverlay) continue;
            auto renderer = std::dynamic_pointer_cast<tiles::TileOverlayRenderer>(
                map->existingRendererForOverlay(overlay.get()));
            const std::string name = renderer ? renderer->map() : std::string("?");
            if (renderer) {
                caches.push_back(cache("lower-level tiles " + name,
                                       tiles::TileOverlayRenderer::kZoomedCacheBytes,
                                       tiles::TileOverlayRenderer::kZoomedCacheCapacity,
                                       renderer->zoomedTileBytes(), renderer->zoomedTileCount()));
            }
            if (auto manager = tiles::TileCacheManager::sharedInstanceForMap(name)) {
                caches.push_back(cache("tiles not yet stored " + name, 0,
                                       tiles::TileCacheManager::kUnstoredTileCapacity,
                                       manager->unstoredTileBytes(), manager->unstoredTileCount()));
            }
        }
        caches.push_back(cache("marker images", 0, 0, map->markerImageBytes(), map->markerImageCount()));
    }
    caches.push_back(cache("pixmap cache", static_cast<size_t>(QPixmapCache::cacheLimit()) * 1024, 0, 0, 0));
    figures["caches"] = caches;
    return figures;
}

std::string describeMemoryFigures(const nlohmann::json& figures) {
    std::ostringstream out;
    out << "resident " << megabytes(figures.value("residentBytes", 0.0)) << " (anonymous "
        << megabytes(figures.value("anonymousBytes", 0.0)) << "); heap in use "
        << megabytes(figures.value("heapInUseBytes", 0.0)) << ", free but kept "
        << megabytes(figures.value("heapFreeKeptBytes", 0.0)) << ", own mappings "
        << megabytes(figures.value("heapMappedBytes", 0.0)) << ", " << figures.value("heapArenas", 0)
        << " arenas";
    for (const auto& entry : figures.value("caches", nlohmann::json::array())) {
        out << "\n  " << entry.value("name", "") << ": " << megabytes(entry.value("bytes", 0.0));
        if (entry.value("items", 0) > 0) out << " in " << entry.value("items", 0) << " items";
        out << ", budget ";
        const size_t budgetBytes = entry.value("budgetBytes", size_t{0});
        const size_t budgetItems = entry.value("budgetItems", size_t{0});
        if (budgetBytes == 0 && budgetItems == 0) out << "none (fixed data or few)";
        if (budgetBytes > 0) out << megabytes(static_cast<double>(budgetBytes));
        if (budgetBytes > 0 && budgetItems > 0) out << " or ";
        if (budgetItems > 0) out << budgetItems << " items";
    }
    return out.str();
}

}  // namespace tervolo::e2e
