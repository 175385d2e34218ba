// The map view's cell cache and its drawing threads.
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <list>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "platform/dispatch/SharedInstance.hpp"
#include "platform/mapkit/qt/MKMapViewCells.hpp"
#include "platform/mapkit/qt/MKQtGraphicsContext.hpp"

namespace platform {

namespace {

// The smallest rect that holds every pixel with ink, empty when there is none.
QRect inkBounds(const QImage& image) {
    if (image.isNull()) return {};
    if (!image.hasAlphaChannel()) return image.rect();
    int top = -1;
    int bottom = -1;
    int left = image.width();
    int right = -1;
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(image.constScanLine(y));
        int first = 0;
        while (first < image.width() && row[first] == 0) ++first;
        if (first == image.width()) continue;
        int last = image.width() - 1;
        while (row[last] == 0) --last;
        if (top < 0) top = y;
        bottom = y;
        left = std::min(left, first);
        right = std::max(right, last);
    }
    if (top < 0) return {};
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

}  // namespace

MKMapRect CellKey::mapRect() const {
    const double side = kMKMapWorldSide / std::exp2(zoom);
    return MKMapRectMake(static_cast<double>(x) * side, static_cast<double>(y) * side, side, side);
}

size_t CellKeyHash::operator()(const CellKey& key) const {
    uint64_t h = static_cast<uint64_t>(key.layer) * 0x9E3779B97F4A7C15ull;
    h ^= (static_cast<uint64_t>(key.zoom) << 58) ^ (static_cast<uint64_t>(key.x) << 29) ^
         static_cast<uint64_t>(key.y);
    h *= 0xBF58476D1CE4E5B9ull;
    return static_cast<size_t>(h ^ (h >> 31));
}

CellCache::CellCache(size_t byteLimit) : byteLimit_(byteLimit) {}

size_t CellCache::sharedByteLimit() {
    size_t largest = 0;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
        for (const QScreen* screen : QGuiApplication::screens()) {
            const double ratio = screen->devicePixelRatio();
            const double cellPixels = std::max(1.0, std::round(256 * ratio));
            // The cells a full-screen view meets: one more across and down for the parts at its edges.
            const double across = std::ceil(screen->size().width() * ratio / cellPixels) + 1;
            const double down = std::ceil(screen->size().height() * ratio / cellPixels) + 1;
            largest = std::max(largest, static_cast<size_t>(across * down * cellPixels * cellPixels * 4));
        }
    }
    return std::clamp(largest * 4, kMinimumSharedByteLimit, kSharedByteLimit);
}

CellCache& CellCache::shared() {
    return SharedInstance<CellCache>::get([] { return new CellCache(sharedByteLimit()); });
}

QThreadPool& CellCache::drawingPool() {
    struct Pool {};
    return SharedInstance<QThreadPool, Pool>::get([] {
        auto* pool = new QThreadPool();
        pool->setMaxThreadCount(std::clamp(QThread::idealThreadCount(), 2, 4));
        return pool;
    });
}

CellCache::ListenerId CellCache::addRepaintListener(std::function<void(const MKMapRect&)> listener) {
    std::lock_guard lock(listenersMutex_);
    const ListenerId id = nextListener_++;
    listeners_.emplace_back(id, std::move(listener));
    return id;
}

void CellCache::removeRepaintListener(ListenerId id) {
    std::lock_guard lock(listenersMutex_);
    std::erase_if(listeners_, [id](const auto& entry) { return entry.first == id; });
}

void CellCache::addLayer(uintptr_t layer) {
    std::lock_guard lock(mutex_);
    liveLayers_.insert(layer);
}

void CellCache::dropLayer(uintptr_t layer) {
    std::lock_guard lock(mutex_);
    liveLayers_.erase(layer);
    for (auto it = cells_.begin(); it != cells_.end();) {
        if (it->first.layer == layer) {
            bytes_ -= it->second.bytes;
            it = cells_.erase(it);
        } else {
            ++it;
        }
    }
}

void CellCache::clear() {
    std::lock_guard lock(mutex_);
    // Cells being drawn stay (their jobs will find them) but lose their images.
    for (auto it = cells_.begin(); it != cells_.end();) {
        if (it->second.inFlight) {
            ++it->second.generation;
            it->second.ready = false;
            bytes_ -= it->second.bytes;
            it->second.bytes = 0;
            it->second.image = QImage();
            ++it;
        } else {
            bytes_ -= it->second.bytes;
            it = cells_.erase(it);
        }
    }
}

void CellCache::invalidate(uintptr_t layer, const MKMapRect& rect, int zoom) {
    bool any = false;
    {
        std::lock_guard lock(mutex_);
        for (auto& [key, cell] : cells_) {
            if (key.layer != layer || (zoom >= 0 && key.zoom != zoom)) continue;
            if (!MKMapRectIsNull(rect) && !MKMapRectIntersectsRect(key.mapRect(), rect)) continue;
            // The old image stays on screen until the new one is drawn; a job in flight for it is now
            // out of date and its result is dropped.
            cell.stale = true;
            ++cell.generation;
            any = true;
        }
    }
    // The stale cells stay on screen until their new images come; a frame over the rect asks for
    // them.
    if (any) notifyRepaint(rect);
}

void CellCache::notifyRepaint(const MKMapRect& rect) {
    // Under the listeners' lock: a view that removes its listener while being destroyed waits for a
    // call under way, so no call reaches a destroyed view.
    std::lock_guard lock(listenersMutex_);
    for (const auto& [id, listener] : listeners_) listener(rect);
}

CellCache::Lookup CellCache::lookup(const CellKey& key) {
    const auto found = cells_.find(key);
    if (found == cells_.end()) return {};
    Cell& cell = found->second;
    cell.lastUsed = ++uses_;
    return {true,       cell.ready, cell.stale, cell.inFlight, cell.blank, cell.hasContent,
            cell.image, cell.ink,   cell.full};
}

bool CellCache::beginJob(const CellKey& key, uint64_t* generation) {
    if (liveLayers_.count(key.layer) == 0) return false;
    Cell& cell = cells_[key];
    if (cell.inFlight) return false;
    cell.inFlight = true;
    // Asked for by the frame now: its image, when it comes, is among the last to go (a new cell left
    // at "never used" was the first evicted once the cache was full, and frames never completed).
    cell.lastUsed = ++uses_;
    *generation = cell.generation;
    return true;
}

void CellCache::finishJob(const CellKey& key, uint64_t generation, QImage image, bool blank) {
    // Measured and cut outside the lock: the frame waits on it.
    const QSize full = image.size();
    QRect ink = blank ? QRect() : inkBounds(image);
    // Where it has ink, a pixel more around for a scaled draw's blending.
    const QRect inkDrawn = ink.adjusted(-1, -1, 1, 1);
    if (!ink.isEmpty()) {
        if (ink.width() * ink.height() * 2 < full.width() * full.height()) {
            // One transparent pixel around the ink, so a scaled draw blends its edge as the whole
            // image would.
            ink = ink.adjusted(-1, -1, 1, 1).intersected(image.rect());
            image = image.copy(ink);
        } else {
            ink = image.rect();
        }
    }
    // What a view shows differently now: the old picture's ink and the new one's. Where no picture of
    // this cell was shown, a view may have shown another level's cell of the layer in its place: then
    // all of it. A result that changes nothing on screen still repaints a speck of it, so that a
    // frame with the cell no longer pending follows.
    const MKMapRect whole = key.mapRect();
    auto inkRect = [&whole](const QRect& part, const QSize& size) {
        if (part.isEmpty() || size.isEmpty()) return MKMapRectNull;
        const double sx = whole.size.width / size.width();
        const double sy = whole.size.height / size.height();
        return MKMapRectMake(whole.origin.x + part.x() * sx, whole.origin.y + part.y() * sy,
                             part.width() * sx, part.height() * sy);
    };
    MKMapRect changed = MKMapRectNull;
    {
        std::lock_guard lock(mutex_);
        const auto found = cells_.find(key);
        if (found == cells_.end()) return;
        Cell& cell = found->second;
        cell.inFlight = false;
        if (liveLayers_.count(key.layer) == 0) {
            bytes_ -= cell.bytes;
            cells_.erase(found);
            return;
        }
        if (cell.generation != generation) return;  // invalidated meanwhile: stays stale, asked again
        const bool inked = !ink.isEmpty();
        if (!cell.ready && standInExists(key)) {
            changed = whole;
        } else {
            if (cell.ready && cell.hasContent) changed = inkRect(cell.inkDrawn, cell.full);
            if (inked) changed = MKMapRectUnion(changed, inkRect(inkDrawn, full));
        }
        bytes_ -= cell.bytes;
        // Empty cells keep no pixels.
        cell.image = inked ? std::move(image) : QImage();
        cell.ink = inked ? ink : QRect();
        cell.inkDrawn = inked ? inkDrawn : QRect();
        cell.full = full;
        cell.bytes = static_cast<size_t>(cell.image.sizeInBytes());
        bytes_ += cell.bytes;
        cell.ready = true;
        cell.stale = false;
        cell.blank = blank;
        cell.hasContent = inked;
        evictIfNeeded();
    }
    if (MKMapRectIsNull(changed)) {
        changed = MKMapRectMake(whole.origin.x + whole.size.width / 2, whole.origin.y + whole.size.height / 2,
                                0, 0);
    }
    notifyRepaint(changed);
}

bool CellCache::standInExists(const CellKey& key) const {
    // The stand-ins a frame takes (MKMapView::drawMap): a coarser cell up to 8 levels up, or the four
    // cells one level down.
    for (int up = 1; up <= std::min(key.zoom, 8); ++up) {
        const auto found = cells_.find({key.layer, key.zoom - up, key.x >> up, key.y >> up});
        if (found != cells_.end() && found->second.ready && found->second.hasContent) return true;
    }
    for (int child = 0; child < 4; ++child) {
        const auto found =
            cells_.find({key.layer, key.zoom + 1, 2 * key.x + (child & 1), 2 * key.y + (child >> 1)});
        if (found != cells_.end() && found->second.ready && found->second.hasContent) return true;
    }
    return false;
}

void CellCache::evictIfNeeded() {
    if (bytes_ <= byteLimit_) return;
    std::vector<std::pair<uint64_t, CellKey>> candidates;
    for (const auto& [key, cell] : cells_) {
        if (!cell.inFlight && cell.bytes > 0) candidates.emplace_back(cell.lastUsed, key);
    }
    std::sort(candidates.begin(), candidates.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [used, key] : candidates) {
        if (bytes_ <= byteLimit_ * 9 / 10) break;
        const auto found = cells_.find(key);
        bytes_ -= found->second.bytes;
        cells_.erase(found);
    }
}

size_t CellCache::cellCount() const {
    std::lock_guard lock(mutex_);
    return cells_.size();
}

size_t CellCache::byteCount() const {
    std::lock_guard lock(mutex_);
    return bytes_;
}

QImage renderCell(const CellJob& job) {
    const int pixels = std::max(1, static_cast<int>(std::lround(256 * job.devicePixelRatio)));
    const MKMapRect cell = job.key.mapRect();
    const double drawScale = std::exp2(job.key.zoom - 20);
    const double pixelsPerMapPoint = drawScale * job.devicePixelRatio;
    if (job.baseMap != nullptr) {
        QImage image(pixels, pixels, QImage::Format_RGB32);
        QPainter painter(&image);
        painter.scale(pixelsPerMapPoint, pixelsPerMapPoint);
        painter.translate(-cell.origin.x, -cell.origin.y);
        job.baseMap->draw(painter, cell, MKBaseMap::detailForZoomLevel(job.key.zoom), job.palette);
        return image;
    }
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, true);
    // Renderer space (map points from the overlay's origin) to the cell's pixels, y pointing south.
    const MKMapRect rendererRect = job.renderer->rectForMapRect(cell);
    painter.scale(pixelsPerMapPoint, pixelsPerMapPoint);
    painter.translate(-rendererRect.origin.x, -rendererRect.origin.y);
    MKQtGraphicsContext context(painter);
    job.renderer->drawMapRect(cell, drawScale, context);
    return image;
}

}  // namespace platform
