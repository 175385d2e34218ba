#include "tiles/QuovaTileOverlay.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>

#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "tiles/TileGrid.hpp"
#include "tiles/TileLog.hpp"

namespace tervolo::tiles {

namespace {

// Shared by all overlays: the axis tile counts, cleared by every overlay's
// creation and published whole by the first request after it, so readers
// never see a table half filled. A table once published is never freed (a
// reader may still hold it; there is one per overlay creation), so reading
// is one atomic load.
std::atomic<const void*> gAxisTable{nullptr};
std::mutex gRetiredTablesMutex;
// Monotonic seconds of the last zoom-out request; NaN: none yet.
std::atomic<double> gLastZoomOut{std::nan("")};

constexpr double kTileSize = 256.0;

}  // namespace

std::shared_ptr<QuovaTileOverlay> QuovaTileOverlay::initOverlayForMap(
    const std::string& map, int64_t maxTileZ, const std::string& tempDirPrefix,
    const std::string& tileDownloadURLPattern, const std::vector<std::string>& prefixes,
    int64_t retinaShiftFrom, int64_t retinaShiftLevel) {
    auto overlay = std::shared_ptr<QuovaTileOverlay>(new QuovaTileOverlay());
    overlay->maxTileZ_ = maxTileZ;
    overlay->retinaShiftFrom_ = retinaShiftFrom;
    overlay->retinaShiftLevel_ = retinaShiftLevel;
    overlay->map_ = map;
    overlay->tileDownloadURLPattern_ = tileDownloadURLPattern;
    overlay->tileDownloadPrefixes_ = prefixes;
    overlay->tempDirPrefix_ = tempDirPrefix;
    gAxisTable.store(nullptr, std::memory_order_release);
    auto manager =
        TileCacheManager::initWithMap(map, tileDownloadURLPattern, prefixes, tempDirPrefix, overlay);
    tileLog("created TileCacheManager {} for map type {}",
            manager ? "TileCacheManager(" + manager->tileDownloadURLPattern() + ")" : std::string("(nil)"),
            map);
    return overlay;
}

int64_t QuovaTileOverlay::zoomLevelForZoomScale(double zoomScale) {
    if (!std::isfinite(zoomScale) || zoomScale <= 0) return 0;
    const int64_t base = int64_t(std::log2(platform::MKMapSizeWorld.width / kTileSize));
    // Single precision, as the platform's own computation does.
    const double r = double(std::log2(float(zoomScale)));
    if (!std::isfinite(r)) return 0;
    const int64_t z = int64_t(std::floor(r + 0.5)) + base;
    return std::clamp<int64_t>(z, 0, kMaximumTileZoomLevel);
}

int32_t QuovaTileOverlay::maxZoomLevel() const {
    if (retinaShiftLevel_ == 1 || retinaShiftLevel_ < 0) return int32_t(maxTileZ_);
    return int32_t(double(maxTileZ_) + std::sqrt(double(retinaShiftLevel_)));
}

const QuovaTileOverlay::AxisTable* QuovaTileOverlay::axisTable() {
    if (const void* current = gAxisTable.load(std::memory_order_acquire))
        return static_cast<const AxisTable*>(current);
    auto table = std::make_unique<AxisTable>();
    if (auto owner = delegate()) {
        for (int32_t level = 1; level <= 24; ++level) {
            const int32_t count = owner->axisTilesForZoomLevel(level);
            if (count >= 1) table->tiles[level] = count;
        }
    }
    const void* expected = nullptr;
    if (!gAxisTable.compare_exchange_strong(expected, table.get(), std::memory_order_acq_rel)) {
        return static_cast<const AxisTable*>(expected);  // another thread published first
    }
    const AxisTable* published = table.get();
    static auto* publishedTables = new std::vector<std::unique_ptr<AxisTable>>();
    std::lock_guard lock(gRetiredTablesMutex);
    publishedTables->push_back(std::move(table));
    return published;
}

void QuovaTileOverlay::requestZoomOut(int64_t zoomLevel) {
    if (!delegate()) return;
    const double now = platform::Clock::current()->monotonicSeconds();
    double last = gLastZoomOut.load();
    // One request per 0.2 s across all overlays: only the thread that moves the time asks.
    do {
        if (!std::isnan(last) && now - last < 0.2) return;
    } while (!gLastZoomOut.compare_exchange_weak(last, now));
    platform::DispatchQueue::main()->async([weak = weak_from_this(), zoomLevel] {
        auto self = weak.lock();
        if (!self) return;
        if (auto owner = self->delegate()) owner->needsToZoomOutFromLevel(int32_t(zoomLevel), self);
    });
}

void QuovaTileOverlay::resetZoomOutClockForTesting() {
    gLastZoomOut = std::nan("");
}

std::vector<std::shared_ptr<QuovaImageTile>> QuovaTileOverlay::tilesInMapRect(
    const platform::MKMapRect& mapRect, double zoomScale) {
    return tilesInMapRect(mapRect, zoomScale, std::numeric_limits<double>::infinity());
}

std::vector<std::shared_ptr<QuovaImageTile>> QuovaTileOverlay::tilesInMapRect(
    const platform::MKMapRect& mapRect, double zoomScale, double contentScale) {
    const auto table = axisTable();
    std::vector<std::shared_ptr<QuovaImageTile>> tiles;
    if (!std::isfinite(zoomScale) || zoomScale <= 0 || !std::isfinite(mapRect.origin.x) ||
        !std::isfinite(mapRect.origin.y) || !std::isfinite(mapRect.size.width) ||
        !std::isfinite(mapRect.size.height)) {
        tileLog("TileOverlay can't fulfill tile request: invalid map rect or zoom scale {}", zoomScale);
        return tiles;
    }
    const int64_t z = zoomLevelForZoomScale(zoomScale);
    if (int32_t(maxZoomLevel()) < int32_t(z)) {
        tileLog("TileOverlay can't fulfill tile request: zoom level {} > maxZoom {}", z, maxZoomLevel());
        requestZoomOut(z);
        tileLog("zoomed in too far - returning empty array of tiles in map rect");
        return tiles;
    }
    const double world = platform::MKMapRectWorld.size.width;
    const double x0 = mapRect.origin.x < 0 ? mapRect.origin.x + world : mapRect.origin.x;
    const double y0 = mapRect.origin.y < 0 ? mapRect.origin.y + world : mapRect.origin.y;
    const double cell = kTileSize / zoomScale;
    // The last column and row reach up to the rect's far edge, so an area not
    // on the grid is covered whole.
    const double firstColumn = std::floor(x0 / cell);
    const double endColumn = std::ceil((x0 + mapRect.size.width) / cell - 1e-9);
    const double firstRow = std::floor(y0 / cell);
    const double endRow = std::ceil((y0 + mapRect.size.height) / cell - 1e-9);
    if (endColumn <= firstColumn || endRow <= firstRow) return tiles;
    const double count = (endColumn - firstColumn) * (endRow - firstRow);
    if (count > double(kMaximumTilesPerRequest)) {
        tileLog("TileOverlay can't fulfill tile request: {:.0f} tiles are too many", count);
        return tiles;
    }
    const int64_t divisor = retinaShiftLevel_ == 2 ? 2 : 4;
    const int64_t tileZ = tileZoomLevel(zoomScale, contentScale);
    const bool shifted = tileZ < z;
    const int64_t finer = tileZ > z ? tileZ - z : 0;
    if (finer > 0) {
        // Each cell of the view's level is made of 2^finer × 2^finer tiles of the finer level.
        const double fineCell = cell / double(int64_t{1} << finer);
        const int64_t firstFineColumn = int64_t(firstColumn) << finer;
        const int64_t endFineColumn = int64_t(endColumn) << finer;
        const int64_t firstFineRow = int64_t(firstRow) << finer;
        const int64_t endFineRow = int64_t(endRow) << finer;
        const double fineCount = double(endFineColumn - firstFineColumn) * double(endFineRow - firstFineRow);
        if (fineCount > double(kMaximumTilesPerRequest)) {
            tileLog("TileOverlay can't fulfill tile request: {:.0f} tiles are too many", fineCount);
            return tiles;
        }
        const int64_t fineAxis = tileZ >= 1 && tileZ <= 24 ? table->tiles[tileZ] : 0;
        tiles.reserve(size_t(fineCount));
        for (int64_t c = firstFineColumn; c < endFineColumn; ++c) {
            for (int64_t r = firstFineRow; r < endFineRow; ++r) {
                if (c < 0 || r < 0) continue;
                const platform::MKMapRect frame{{double(c) * fineCell, double(r) * fineCell},
                                                {fineCell, fineCell}};
                int64_t x = c;
                int64_t y = r;
                if (fineAxis > 0 && x >= fineAxis) x -= fineAxis;
                if (fineAxis > 0 && y >= fineAxis) y -= fineAxis;
                tiles.push_back(
                    std::make_shared<QuovaImageTile>(frame, uint64_t(x), uint64_t(y), uint64_t(tileZ),
                                                     QXTileQuadrant::QXTileQuadrantWholeTile, 0, 0));
            }
        }
        return tiles;
    }
    const int64_t axis = tileZ >= 1 && tileZ <= 24 ? table->tiles[tileZ] : (tileZ == 0 ? 1 : 0);
    tiles.reserve(size_t(count));
    for (int64_t c = int64_t(firstColumn); c < int64_t(endColumn); ++c) {
        for (int64_t r = int64_t(firstRow); r < int64_t(endRow); ++r) {
            if (c < 0 || r < 0) continue;  // west of or above a world copy the map never asks for
            const platform::MKMapRect frame{{double(c) * cell, double(r) * cell}, {cell, cell}};
            int64_t x = shifted ? c / divisor : c;
            int64_t y = shifted ? r / divisor : r;
            if (axis > 0 && x >= axis) x -= axis;
            if (axis > 0 && y >= axis) y -= axis;
            if (shifted) {
                tiles.push_back(std::make_shared<QuovaImageTile>(
                    frame, uint64_t(x), uint64_t(y), uint64_t(tileZ), QXTileQuadrant::QXTileQuadrantUseScale,
                    uint64_t(c % divisor), uint64_t(r % divisor)));
            } else {
                tiles.push_back(
                    std::make_shared<QuovaImageTile>(frame, uint64_t(x), uint64_t(y), uint64_t(tileZ),
                                                     QXTileQuadrant::QXTileQuadrantWholeTile, 0, 0));
            }
        }
    }
    return tiles;
}

int64_t QuovaTileOverlay::tileZoomLevel(double zoomScale, double contentScale) const {
    const int64_t z = zoomLevelForZoomScale(zoomScale);
    // Infinity stands for the screen the retina shift was made for, which keeps its own rule. A real
    // screen gets the finest level the source has, up to one finer than the view's own.
    if (std::isfinite(contentScale)) {
        // Only a source of plain tiles, the kind the shift was made for: a source without the shift
        // serves tiles of twice the pixels (a "2x" source), a pixel of which a dense screen already
        // shows one to one at the view's own level.
        const bool plainTiles = retinaShiftLevel_ == 2 || retinaShiftLevel_ == 4;
        if (plainTiles && contentScale >= kFinerLevelDensity && z + 1 <= maxTileZ_) return z + 1;
        if (z <= maxTileZ_) return z;
    }
    const int64_t divisor = retinaShiftLevel_ == 2 ? 2 : 4;
    const bool densityAsks = !(contentScale < double(divisor)) || z > maxTileZ_;
    const bool shifted = z >= retinaShiftFrom_ && (retinaShiftLevel_ == 2 || retinaShiftLevel_ == 4) &&
                         z >= (retinaShiftLevel_ == 2 ? 1 : 2) && densityAsks;
    return shifted ? z - (retinaShiftLevel_ == 2 ? 1 : 2) : z;
}

std::shared_ptr<QuovaTileOverlayRendering> QuovaTileOverlay::renderer() const {
    std::lock_guard lock(linksMutex_);
    return renderer_.lock();
}

void QuovaTileOverlay::setRenderer(std::weak_ptr<QuovaTileOverlayRendering> renderer) {
    std::lock_guard lock(linksMutex_);
    renderer_ = std::move(renderer);
}

std::shared_ptr<QuovaTileOverlayDelegate> QuovaTileOverlay::delegate() const {
    std::lock_guard lock(linksMutex_);
    return delegate_.lock();
}

void QuovaTileOverlay::setDelegate(std::weak_ptr<QuovaTileOverlayDelegate> delegate) {
    std::lock_guard lock(linksMutex_);
    delegate_ = std::move(delegate);
}

std::optional<std::string> QuovaTileOverlay::statusString() const {
    auto manager = TileCacheManager::sharedInstanceForMap(map_);
    return manager ? manager->statusString() : std::nullopt;
}

bool QuovaTileOverlay::tilesCannotBeLoaded() const {
    auto manager = TileCacheManager::sharedInstanceForMap(map_);
    return manager && manager->tilesCannotBeLoaded();
}

void QuovaTileOverlay::clearTileCache() {
    auto manager = TileCacheManager::sharedInstanceForMap(map_);
    tileLog("clearing cache for overlay {}", map_);
    if (!manager) return;
    manager->clearCacheDirs();
    if (auto drawing = renderer()) drawing->tileCacheWasCleared();
}

void QuovaTileOverlay::resetCacheManager() {
    if (auto manager = TileCacheManager::sharedInstanceForMap(map_)) manager->reset();
}

std::optional<QuovaTileRect> QuovaTileOverlay::tileRectForZoomLevel(int64_t zoomLevel) {
    auto owner = delegate();
    return owner ? owner->tileRectForZoomLevel(zoomLevel) : std::nullopt;
}

int64_t QuovaTileOverlay::currentZoomLevel() {
    auto drawing = renderer();
    return drawing ? drawing->getLastRequestedZoomLevel() : 0;
}

void QuovaTileOverlay::setNeedsDisplay() {
    tileLog("QuovaTileOverlay for {}: setNeedsRedraw", map_);
    if (auto drawing = renderer()) drawing->setNeedsDisplay();
}

}  // namespace tervolo::tiles
