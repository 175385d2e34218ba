#include "tiles/TileOverlayRenderer.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include <fmt/format.h>

#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "platform/mapkit/qt/MKQtGraphicsContext.hpp"
#include "tiles/TileImageDecoder.hpp"
#include "tiles/TileLog.hpp"

namespace tervolo::tiles {

namespace {

// The map kit's bitmap of a part of a decoded image, for drawing contexts that do not paint with Qt.
platform::MKBitmap bitmapFromImage(const QImage& decoded) {
    const QImage image = decoded.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    platform::MKBitmap bitmap;
    bitmap.width = image.width();
    bitmap.height = image.height();
    bitmap.pixels.resize(size_t(image.width()) * size_t(image.height()));
    for (int row = 0; row < image.height(); ++row) {
        std::memcpy(bitmap.pixels.data() + size_t(row) * size_t(image.width()), image.constScanLine(row),
                    size_t(image.width()) * sizeof(uint32_t));
    }
    return bitmap;
}

// The part (x, y, width, height) of an image, origin at its top-left corner, sharing the image's
// pixels: valid while `image` lives and is not written to.
QImage cellOf(const QImage& image, int x, int y, int width, int height) {
    x = std::clamp(x, 0, image.width());
    y = std::clamp(y, 0, image.height());
    width = std::clamp(width, 0, image.width() - x);
    height = std::clamp(height, 0, image.height() - y);
    if (width == 0 || height == 0) return {};
    const int bytesPerPixel = image.depth() / 8;
    return QImage(image.constBits() + qsizetype(y) * image.bytesPerLine() + qsizetype(x) * bytesPerPixel,
                  width, height, image.bytesPerLine(), image.format());
}

// Decoded tiles stay in a form the painter draws directly: opaque tiles as they decode (32-bit RGB),
// others premultiplied, which is what the map's cells are.
QImage drawable(QImage decoded) {
    switch (decoded.format()) {
        case QImage::Format_RGB32:
        case QImage::Format_ARGB32_Premultiplied:
            return decoded;
        default:
            return decoded.convertToFormat(decoded.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                                     : QImage::Format_RGB32);
    }
}

}  // namespace

TileOverlayRenderer::TileOverlayRenderer(std::shared_ptr<QuovaTileOverlay> overlay)
    : platform::MKOverlayRenderer(overlay), tileOverlay_(std::move(overlay)) {
    zoomedTileCache_.reserve(kZoomedCachePurgeCount);
    tileLog("TileOVerlayRenderer initialized");
}

std::shared_ptr<TileOverlayRenderer> TileOverlayRenderer::makeForOverlay(
    const std::shared_ptr<QuovaTileOverlay>& overlay) {
    auto renderer = std::make_shared<TileOverlayRenderer>(overlay);
    renderer->setMap(overlay->map());
    overlay->setRenderer(renderer);
    return renderer;
}

std::string TileOverlayRenderer::map() const {
    std::lock_guard lock(mapMutex_);
    return map_;
}

void TileOverlayRenderer::setMap(std::string map) {
    std::lock_guard lock(mapMutex_);
    map_ = std::move(map);
}

int64_t TileOverlayRenderer::getLastRequestedZoomLevel() {
    std::lock_guard lock(zoomLevelMutex_);
    return lastRequestedZoomLevel_;
}

void TileOverlayRenderer::storeLastRequestedZoomLevel(int64_t zoomLevel) {
    std::lock_guard lock(zoomLevelMutex_);
    if (zoomLevel == lastRequestedZoomLevel_) return;
    lastRequestedZoomLevel_ = zoomLevel;
    tileLog("storing lastRequestedZoomLevel {}", zoomLevel);
}

bool TileOverlayRenderer::showsTileDebugInfo() {
    auto& defaults = platform::UserDefaults::standard();
    if (auto number = defaults.integerValue("shouldShowTileDebugInfo")) return *number != 0;
    if (auto flag = defaults.boolValue("shouldShowTileDebugInfo")) return *flag;
    return false;
}

void TileOverlayRenderer::postDownload(const std::shared_ptr<TileCacheManager>& manager,
                                       const std::shared_ptr<QuovaImageTile>& tile, const MapRect& mapRect,
                                       double zoomScale, bool frameWhenRun) {
    const std::string path = tile->storagePath();
    {
        // One posted request per tile: the manager drops duplicates anyway,
        // but every drawn cell would cost the main thread a block.
        std::lock_guard lock(postedMutex_);
        if (!postedDownloads_.insert(path).second) return;
    }
    platform::DispatchQueue::main()->async(
        [self = shared_from_this(), manager, tile, mapRect, zoomScale, frameWhenRun, path] {
            {
                std::lock_guard lock(self->postedMutex_);
                self->postedDownloads_.erase(path);
            }
            manager->downloadTileAsync(tile, self, frameWhenRun ? tile->frame() : mapRect, zoomScale);
        });
}

bool TileOverlayRenderer::canDrawMapRect(const platform::MKMapRect& mapRect,
                                         platform::MKZoomScale zoomScale) {
    auto tiles = tileOverlay_->tilesInMapRect(mapRect, zoomScale, contentScaleFactor());
    if (tiles.empty()) return false;
    auto manager = TileCacheManager::sharedInstanceForMap(map());
    if (!manager) return false;
    for (const auto& tile : tiles) {
        const uint64_t state = manager->tileStateForTile(*tile);
        if (state == 0 || state == 4) postDownload(manager, tile, mapRect, zoomScale, false);
    }
    return true;
}

void TileOverlayRenderer::drawMapRect(const platform::MKMapRect& mapRect, platform::MKZoomScale zoomScale,
                                      platform::MKGraphicsContext& context) {
    // The level whose tiles count as in view: the finer tiles a dense screen draws are of a level of
    // their own; a shifted source's lower tiles keep the view's level (they are never in view).
    const int64_t viewLevel = QuovaTileOverlay::zoomLevelForZoomScale(zoomScale);
    storeLastRequestedZoomLevel(
        std::max(viewLevel, tileOverlay_->tileZoomLevel(zoomScale, contentScaleFactor())));
    auto tiles = tileOverlay_->tilesInMapRect(mapRect, zoomScale, contentScaleFactor());
    context.setAlpha(alpha());
    auto manager = TileCacheManager::sharedInstanceForMap(map());
    if (!manager) return;
    for (const auto& tile : tiles) {
        const std::string path = tile->storagePath();
        std::optional<std::vector<uint8_t>> data;
        switch (manager->tileStateForTile(*tile)) {
            case 1:
                data = manager->tileDataForStoragePath(path, false);
                break;
            case 4:
                data = manager->tileDataForStoragePath(path, true);
                postDownload(manager, tile, mapRect, zoomScale, true);
                break;
            case 0:
                postDownload(manager, tile, mapRect, zoomScale, true);
                break;
            default:
                break;
        }
        if (!data) {
            manager->enqueueTile(tile, shared_from_this(), zoomScale);
            continue;
        }
        if (tile->quadrant() == QXTileQuadrant::QXTileQuadrantWholeTile) {
            const QImage decoded = decodeTileImage(*data);
            manager->removeTileFromRedrawQueue(*tile);
            if (decoded.isNull()) {
                discardAndDownload(manager, tile, zoomScale);
                continue;
            }
            drawInTileBox(*tile, drawable(decoded), zoomScale, context);
        } else {
            bool undecodable = false;
            const QImage lower = zoomedTile(*tile, *data, undecodable);
            manager->removeTileFromRedrawQueue(*tile);
            if (lower.isNull()) {
                if (undecodable) discardAndDownload(manager, tile, zoomScale);
                continue;
            }
            drawCell(*tile, lower, zoomScale, context);
        }
    }
}

void TileOverlayRenderer::discardAndDownload(const std::shared_ptr<TileCacheManager>& manager,
                                             const std::shared_ptr<QuovaImageTile>& tile, double zoomScale) {
    // Bytes that never decode would leave a hole for the seven days they count as fresh.
    manager->discardUndecodableTile(tile->storagePath());
    manager->enqueueTile(tile, shared_from_this(), zoomScale);
    postDownload(manager, tile, tile->frame(), zoomScale, true);
}

void TileOverlayRenderer::drawInTileBox(const QuovaImageTile& tile, const QImage& image, double zoomScale,
                                        platform::MKGraphicsContext& context) {
    const platform::MKMapRect r = rectForMapRect(tile.frame());
    context.saveGState();
    context.translateCTM(r.origin.x, r.origin.y);
    // The 256-point box spans the tile's frame: 1 / zoomScale map points a point for a tile of the
    // cell's own level, half that for the finer tiles of a dense screen.
    const double boxScale = r.size.width > 0 ? r.size.width / kTileBox : 1.0 / zoomScale;
    context.scaleCTM(boxScale, boxScale);
    // Quartz puts an image's first row at the rect's maximum y: flip so north is up.
    context.translateCTM(0, kTileBox);
    context.scaleCTM(1, -1);
    // Whole tiles and cells alike fill the 256-point box, whatever their pixel size. The map's cells
    // paint with Qt: the decoded image goes to the painter as it is; other contexts get a bitmap.
    if (auto* painted = dynamic_cast<platform::MKQtGraphicsContext*>(&context)) {
        painted->drawQImage({0, 0, kTileBox, kTileBox}, image);
    } else {
        context.drawImage({0, 0, kTileBox, kTileBox}, bitmapFromImage(image));
    }
    if (showsTileDebugInfo()) stitchInfoForTile(tile, context);
    context.restoreGState();
}

std::string TileOverlayRenderer::zoomedTileKey(const QuovaImageTile& tile) const {
    return fmt::format("{}-{}-{}-{}", tile.z(), tile.x(), tile.y(), tileOverlay_->retinaShiftLevel());
}

QImage TileOverlayRenderer::zoomedTile(const QuovaImageTile& tile, const std::vector<uint8_t>& data,
                                       bool& undecodable) {
    const std::string key = zoomedTileKey(tile);
    {
        std::lock_guard lock(zoomedTileCacheMutex_);
        if (auto it = zoomedTileCache_.find(key); it != zoomedTileCache_.end()) {
            it->second.lastUse = ++useCounter_;
            return it->second.tileImage;
        }
    }
    tileLog("zoomed tile for key {} not found - rendering & caching", key);
    // Decoded outside the lock: two threads may decode the same tile, the later one wins.
    const QImage decoded = decodeTileImage(data);
    if (decoded.isNull()) {
        undecodable = true;
        return {};
    }
    const QImage image = drawable(decoded);
    const double now = platform::Clock::current()->wallSeconds();
    std::lock_guard lock(zoomedTileCacheMutex_);
    if (auto old = zoomedTileCache_.find(key); old != zoomedTileCache_.end()) {
        zoomedBytes_ -= size_t(old->second.tileImage.sizeInBytes());
    }
    zoomedTileCache_[key] = ZoomedTileInfo{image, uint64_t(now), ++useCounter_};
    zoomedBytes_ += size_t(image.sizeInBytes());
    tileLog("{} zoomed tiles in cache", zoomedTileCache_.size());
    if (zoomedTileCache_.size() > kZoomedCachePurgeCount) {
        tileLog("starting cache purge");
        for (auto it = zoomedTileCache_.begin(); it != zoomedTileCache_.end();) {
            if (double(it->second.timestamp) > now - kZoomedCachePurgeAge) {
                ++it;
            } else {
                zoomedBytes_ -= size_t(it->second.tileImage.sizeInBytes());
                it = zoomedTileCache_.erase(it);
            }
        }
        tileLog("{} tiles remaining after cache purge", zoomedTileCache_.size());
    }
    // Young entries survive the purge; the hard bounds evict the least recently used.
    while (zoomedTileCache_.size() > kZoomedCacheCapacity || zoomedBytes_ > kZoomedCacheBytes) {
        auto oldest = std::min_element(
            zoomedTileCache_.begin(), zoomedTileCache_.end(),
            [](const auto& a, const auto& b) { return a.second.lastUse < b.second.lastUse; });
        if (oldest == zoomedTileCache_.end() || oldest->first == key) break;
        zoomedBytes_ -= size_t(oldest->second.tileImage.sizeInBytes());
        zoomedTileCache_.erase(oldest);
    }
    return image;
}

void TileOverlayRenderer::drawCell(const QuovaImageTile& tile, const QImage& lower, double zoomScale,
                                   platform::MKGraphicsContext& context) {
    const int k = int(tileOverlay_->retinaShiftLevel());
    if (k <= 0) return;
    const int width = lower.width() / k;
    const int height = lower.height() / k;
    // The cell is drawn from the cached tile's own pixels: no enlarged or cropped copy per draw.
    const QImage cell = cellOf(lower, width * int(tile.xShift()), height * int(tile.yShift()), width, height);
    if (!cell.isNull()) drawInTileBox(tile, cell, zoomScale, context);
}

void TileOverlayRenderer::stitchInfoForTile(const QuovaImageTile& tile,
                                            platform::MKGraphicsContext& context) {
    const uint64_t factor = tile.z() >= uint64_t(tileOverlay_->retinaShiftFrom())
                                ? uint64_t(tileOverlay_->retinaShiftLevel())
                                : 1;
    // Text is set upright in the unflipped space, its first line 10 points from
    // the tile's top-left corner (in the flipped space it would read upside down).
    context.saveGState();
    context.translateCTM(0, kTileBox);
    context.scaleCTM(1, -1);
    context.setFillColor(platform::Color{0, 0, 0, 1});
    context.setStrokeColor(platform::Color{0, 0, 0, 1});
    context.showText(fmt::format("{} / {} / {} @{}x", tile.x(), tile.y(), tile.z(), factor),
                     {10.0, 10.0 + 16.0}, "Chalkboard", 16.0);
    context.restoreGState();
    context.setStrokeColor(platform::Color{0, 0, 0, 1});
    context.setFillColor(platform::Color{0, 0, 0, 1});
    // The box of the drawn tile in its own (flipped, 256-point) space.
    const double side = kTileBox - 1;
    context.strokePath({{0, 0}, {side, 0}, {side, side}, {0, side}}, true);
}

void TileOverlayRenderer::setNeedsDisplay() {
    platform::MKOverlayRenderer::setNeedsDisplay();
}

void TileOverlayRenderer::setNeedsDisplayInMapRect(const MapRect& mapRect, double zoomScale) {
    platform::MKOverlayRenderer::setNeedsDisplayInMapRect(mapRect, zoomScale);
}

void TileOverlayRenderer::tileWasStored(const QuovaImageTile& tile) {
    std::lock_guard lock(zoomedTileCacheMutex_);
    if (auto it = zoomedTileCache_.find(zoomedTileKey(tile)); it != zoomedTileCache_.end()) {
        zoomedBytes_ -= size_t(it->second.tileImage.sizeInBytes());
        zoomedTileCache_.erase(it);
    }
}

void TileOverlayRenderer::mapWindowDidComeBack() {
    if (auto manager = TileCacheManager::sharedInstanceForMap(map())) manager->askGivenUpTilesAgain();
}

void TileOverlayRenderer::tileCacheWasCleared() {
    std::lock_guard lock(zoomedTileCacheMutex_);
    zoomedTileCache_.clear();
    zoomedBytes_ = 0;
}

size_t TileOverlayRenderer::zoomedTileCount() const {
    std::lock_guard lock(zoomedTileCacheMutex_);
    return zoomedTileCache_.size();
}

size_t TileOverlayRenderer::zoomedTileBytes() const {
    std::lock_guard lock(zoomedTileCacheMutex_);
    return zoomedBytes_;
}

bool TileOverlayRenderer::hasZoomedTile(const std::string& key) const {
    std::lock_guard lock(zoomedTileCacheMutex_);
    return zoomedTileCache_.count(key) != 0;
}

}  // namespace tervolo::tiles
