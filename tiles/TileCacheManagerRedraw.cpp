// The cache manager's disk cache operations, redraw queue and status text.
#include <algorithm>
#include <cmath>
#include <optional>

#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Bundle.hpp"
#include "tiles/TileCacheManager.hpp"
#include "tiles/TileLog.hpp"

namespace tervolo::tiles {

namespace {
// The last flush of any manager's redraw queue (monotonic seconds); main queue only.
std::optional<double> gLastRedraw;

bool sameRedrawTile(const QuovaImageTile& a, const QuovaImageTile& b) {
    return a.x() == b.x() && a.y() == b.y() && a.z() == b.z() && a.frame() == b.frame();
}
}  // namespace

void resetRedrawClock() {
    gLastRedraw.reset();
}

uint64_t TileCacheManager::tileStateForTile(const QuovaImageTile& tile) {
    const std::string path = tile.storagePath();
    switch (cache_.fileState(path)) {
        case TileDiskCache::FileState::fresh:
            return 1;
        case TileDiskCache::FileState::outdated:
            return 4;
        case TileDiskCache::FileState::missing:
            break;
    }
    {
        std::lock_guard lock(connectionInfoMutex_);
        if (auto it = connectionInfoStore_.find(path); it != connectionInfoStore_.end()) {
            return it->second->state() == ConnectionInfo::kWaiting ? 2 : 3;
        }
    }
    // A tile the disk refused is still in memory: draw it rather than download it again.
    std::lock_guard lock(unstoredMutex_);
    for (const auto& entry : unstoredTiles_) {
        if (entry.first == path) return 1;
    }
    return 0;
}

std::optional<std::vector<uint8_t>> TileCacheManager::tileDataForStoragePath(const std::string& storagePath,
                                                                             bool acceptOutdated) {
    if (auto data = cache_.tileData(storagePath, acceptOutdated)) return data;
    return unstoredTile(storagePath);
}

bool TileCacheManager::storeTile(std::span<const uint8_t> bytes, const std::string& storagePath) {
    if (cache_.storeTile(bytes, storagePath)) return true;
    rememberUnstoredTile(storagePath, bytes);
    return false;
}

void TileCacheManager::clearCacheDirs() {
    cache_.clearCacheDirs();
    forgetUnstoredTiles();
}

void TileCacheManager::discardUndecodableTile(const std::string& storagePath) {
    tileLog("tile {} does not decode - deleting it so it downloads again", storagePath);
    cache_.removeTile(storagePath);
    std::lock_guard lock(unstoredMutex_);
    unstoredTiles_.remove_if([&](const auto& entry) { return entry.first == storagePath; });
}

void TileCacheManager::rememberUnstoredTile(const std::string& storagePath, std::span<const uint8_t> bytes) {
    if (bytes.empty()) return;
    std::lock_guard lock(unstoredMutex_);
    unstoredTiles_.remove_if([&](const auto& entry) { return entry.first == storagePath; });
    unstoredTiles_.emplace_front(storagePath, std::vector<uint8_t>(bytes.begin(), bytes.end()));
    if (unstoredTiles_.size() > kUnstoredTileCapacity) unstoredTiles_.pop_back();
}

std::optional<std::vector<uint8_t>> TileCacheManager::unstoredTile(const std::string& storagePath) {
    std::lock_guard lock(unstoredMutex_);
    for (auto it = unstoredTiles_.begin(); it != unstoredTiles_.end(); ++it) {
        if (it->first == storagePath) {
            unstoredTiles_.splice(unstoredTiles_.begin(), unstoredTiles_, it);
            return unstoredTiles_.front().second;
        }
    }
    return std::nullopt;
}

size_t TileCacheManager::unstoredTileCount() const {
    std::lock_guard lock(unstoredMutex_);
    return unstoredTiles_.size();
}

size_t TileCacheManager::unstoredTileBytes() const {
    std::lock_guard lock(unstoredMutex_);
    size_t bytes = 0;
    for (const auto& entry : unstoredTiles_) bytes += entry.second.size();
    return bytes;
}

void TileCacheManager::forgetUnstoredTiles() {
    std::lock_guard lock(unstoredMutex_);
    unstoredTiles_.clear();
}

void TileCacheManager::enqueueTile(std::shared_ptr<QuovaImageTile> tile,
                                   std::shared_ptr<TileRedrawTarget> renderer, double zoomScale) {
    if (!tile) return;
    std::lock_guard lock(dirtyTilesMutex_);
    for (const auto& entry : dirtyTiles_) {
        if (sameRedrawTile(*entry.tile, *tile)) return;
    }
    dirtyTiles_.push_back(TileRedrawInfo{std::move(tile), std::move(renderer), zoomScale});
}

void TileCacheManager::removeTileFromRedrawQueue(const QuovaImageTile& tile) {
    std::lock_guard lock(dirtyTilesMutex_);
    for (auto it = dirtyTiles_.rbegin(); it != dirtyTiles_.rend(); ++it) {
        if (sameRedrawTile(*it->tile, tile)) {
            dirtyTiles_.erase(std::next(it).base());
            return;
        }
    }
}

void TileCacheManager::redrawAllDirtyTiles() {
    std::vector<TileRedrawInfo> entries;
    {
        std::lock_guard lock(dirtyTilesMutex_);
        entries.swap(dirtyTiles_);
    }
    for (auto& entry : entries) {
        if (!entry.renderer) continue;
        platform::DispatchQueue::main()->async(
            [entry] { entry.renderer->setNeedsDisplayInMapRect(entry.tile->frame(), entry.zoomScale); });
    }
}

std::vector<TileRedrawInfo> TileCacheManager::dirtyTiles() {
    std::lock_guard lock(dirtyTilesMutex_);
    return dirtyTiles_;
}

void TileCacheManager::maybeRedrawTile(std::shared_ptr<QuovaImageTile> tile,
                                       std::shared_ptr<TileRedrawTarget> renderer, double zoomScale) {
    const double now = platform::Clock::current()->monotonicSeconds();
    if (gLastRedraw && std::abs(now - *gLastRedraw) <= 1.0) {
        tileLog("Skipping map redraw this time but enqueuing tile for redraw.");
        enqueueTile(std::move(tile), std::move(renderer), zoomScale);
        // Tiles skipped now are flushed a second after the last flush at the
        // latest, even when no further tile arrives to do it.
        if (!trailingFlushPending_) {
            trailingFlushPending_ = true;
            const double delay = std::max(0.0, *gLastRedraw + 1.0 - now);
            platform::DispatchQueue::main()->asyncAfter(delay, [weak = weak_from_this()] {
                if (auto self = weak.lock()) self->trailingFlush();
            });
        }
        return;
    }
    if (gLastRedraw) {
        tileLog("Redrawing dirty tiles.");
        redrawAllDirtyTiles();
    }
    gLastRedraw = now;
}

void TileCacheManager::trailingFlush() {
    trailingFlushPending_ = false;
    const double now = platform::Clock::current()->monotonicSeconds();
    if (gLastRedraw && now - *gLastRedraw < 1.0 - 1e-9) {
        // Another source flushed meanwhile: keep the one-per-second pace.
        trailingFlushPending_ = true;
        platform::DispatchQueue::main()->asyncAfter(*gLastRedraw + 1.0 - now, [weak = weak_from_this()] {
            if (auto self = weak.lock()) self->trailingFlush();
        });
        return;
    }
    {
        std::lock_guard lock(dirtyTilesMutex_);
        if (dirtyTiles_.empty()) return;
    }
    tileLog("Redrawing dirty tiles.");
    redrawAllDirtyTiles();
    gLastRedraw = now;
}

void TileCacheManager::updateStatusString() {
    // Counts read before the status lock may be older than those of an update written since (the
    // last download's end writing "nothing waits", then a late writer its one running), so they
    // are read while it is held. Order: status, then connections; nothing takes them the other way.
    std::lock_guard statusLock(statusMutex_);
    uint64_t running = 0;
    uint64_t waiting = 0;
    {
        std::lock_guard lock(connectionInfoMutex_);
        running = runningCount_;
        waiting = waitingCount_;
    }
    statusString_ = statusText(running, waiting);
}

void TileCacheManager::updateStatusStringWithRunningCount(uint64_t running, uint64_t waiting) {
    auto text = statusText(running, waiting);
    std::lock_guard lock(statusMutex_);
    statusString_ = std::move(text);
}

std::optional<std::string> TileCacheManager::statusText(uint64_t running, uint64_t waiting) {
    std::optional<std::string> text;
    if (running != 0 || waiting != 0) {
        const std::string format = platform::Bundle::main().localizedString(
            "Waiting for %lu map tiles to download, %lu more in queue");
        // The translated text is data: only its two "%lu" are filled, in order.
        std::string filled;
        const uint64_t values[2] = {running, waiting};
        size_t next = 0;
        for (size_t i = 0; i < format.size(); ++i) {
            if (next < 2 && format.compare(i, 3, "%lu") == 0) {
                filled += std::to_string(values[next++]);
                i += 2;
            } else {
                filled += format[i];
            }
        }
        text = std::move(filled);
    }
    return text;
}

std::optional<std::string> TileCacheManager::statusString() const {
    std::lock_guard lock(statusMutex_);
    return statusString_;
}

}  // namespace tervolo::tiles
