#include <QPaintEngine>
#include <QPainter>
#include <QThreadPool>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <numbers>

#include "platform/mapkit/qt/MKMapView.hpp"
#include "platform/mapkit/qt/MKMapViewCells.hpp"
#include "platform/mapkit/qt/MKPinGeometry.hpp"
#include "platform/mapkit/qt/MKQtGraphicsContext.hpp"

// The map view's drawing: the cells of the base map and the overlays from the shared cell cache, the
// user's location and the markers.
namespace platform {

using detail::kPinHeight;
using detail::kPinTip;
using detail::kPinWidth;

namespace {

constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;

uintptr_t basePaletteKey(MKMapType type) {
    switch (type) {
        case MKMapType::Satellite:
        case MKMapType::SatelliteFlyover:
            return 3;
        case MKMapType::Hybrid:
        case MKMapType::HybridFlyover:
            return 4;
        case MKMapType::MutedStandard:
            return 2;
        case MKMapType::Standard:
            break;
    }
    return 1;
}

// The base map's layer in the shared cell cache: one per palette and pixel ratio (in quarters), so views
// on screens of different ratios do not show each other's cells. Renderer layers are addresses, far
// above these.
uintptr_t baseLayerKey(MKMapType type, double devicePixelRatio) {
    const auto ratio = static_cast<uintptr_t>(std::clamp(std::lround(devicePixelRatio * 4), 1L, 64L));
    return ratio * 8 + basePaletteKey(type);
}

}  // namespace

// ---- Drawing

void MKMapView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintingWidget_ = true;
    drawMap(painter);
    paintingWidget_ = false;
}

void MKMapView::drawMap(QPainter& painter) {
    layoutIfNeeded();
    stats_ = {};
    if (recordsDrawing_) {
        drawnCells_.clear();
        drawnPixmaps_.clear();
    }
    const Presentation p = presentation();
    const double viewWidth = width();
    const double viewHeight = height();
    // The part of the view this frame repaints, in view points: a repaint of a part (the user's dot, a
    // cell that arrived, a label fading over the map) composites only the cells and markers that reach
    // into it. Cells are still looked up and asked for over the whole view, so the frame's figures
    // are the whole view's.
    QRectF dirty(0, 0, viewWidth, viewHeight);
    bool partial = false;
    {
        QRect clip;
        if (const QPaintEngine* engine = painter.paintEngine();
            engine != nullptr && !engine->systemClip().isEmpty()) {
            clip = engine->systemClip().boundingRect();
        }
        if (painter.hasClipping()) {
            const QRect own = painter.deviceTransform().mapRect(painter.clipBoundingRect()).toAlignedRect();
            clip = clip.isNull() ? own : clip & own;
        }
        if (!clip.isNull()) {
            const QRectF shown = painter.deviceTransform().inverted().mapRect(QRectF(clip));
            if (!shown.contains(dirty)) {
                dirty &= shown;
                partial = true;
            }
        }
    }
    const MKBaseMap::Palette palette = MKBaseMap::paletteForMapType(mapType());
    painter.fillRect(QRectF(0, 0, viewWidth, viewHeight), palette.water);
    viewOpaque_ = palette.water.alpha() == 255 &&
                  painter.compositionMode() == QPainter::CompositionMode_SourceOver &&
                  painter.opacity() == 1.0;

    const int zoom = std::clamp(static_cast<int>(std::lround(std::log2(p.zoomScale))) + 20, 0, 21);
    const double drawScale = std::exp2(zoom - 20);
    const double cellSide = 256 / drawScale;
    const int64_t cellsAcross = int64_t{1} << zoom;
    double boundsWidth = viewWidth / p.zoomScale;
    double boundsHeight = viewHeight / p.zoomScale;
    if (p.heading != 0) {
        const double c = std::abs(std::cos(p.heading * kRadiansPerDegree));
        const double s = std::abs(std::sin(p.heading * kRadiansPerDegree));
        const double w = boundsWidth * c + boundsHeight * s;
        const double h = boundsWidth * s + boundsHeight * c;
        boundsWidth = w;
        boundsHeight = h;
    }
    const double minX = p.center.x - boundsWidth / 2;
    const double maxX = p.center.x + boundsWidth / 2;
    const double minY = p.center.y - boundsHeight / 2;
    const double maxY = p.center.y + boundsHeight / 2;
    const auto i0 = static_cast<int64_t>(std::floor(minX / cellSide));
    // Max edges are open: a view ending on a cell boundary does not ask for the cell beyond it.
    const auto i1 = static_cast<int64_t>(std::ceil(maxX / cellSide)) - 1;
    const int64_t j0 = std::max<int64_t>(0, static_cast<int64_t>(std::floor(minY / cellSide)));
    const int64_t j1 =
        std::min<int64_t>(cellsAcross - 1, static_cast<int64_t>(std::ceil(maxY / cellSide)) - 1);
    // The unturned view's top-left corner in map points: cells are placed from it.
    const double originX = p.center.x - viewWidth / 2 / p.zoomScale;
    const double originY = p.center.y - viewHeight / 2 / p.zoomScale;
    const double devicePixelRatio = painter.device() != nullptr ? painter.device()->devicePixelRatioF() : 1.0;

    struct Layer {
        uintptr_t key;
        std::shared_ptr<MKOverlayRenderer> renderer;
        MKMapRect bounds;
        bool replacesMap;
    };
    std::vector<Layer> layers;
    const uintptr_t baseKey = baseLayerKey(mapType(), devicePixelRatio);
    cells_->addLayer(baseKey);
    // Only overlays that meet the cells of this frame (or their copies a world to either side) take part:
    // a map with thousands of circles, few of them in view, then tests each cell against those few.
    const MKMapRect frameCells = MKMapRectMake(
        static_cast<double>(i0) * cellSide, static_cast<double>(j0) * cellSide,
        static_cast<double>(i1 - i0 + 1) * cellSide, static_cast<double>(j1 - j0 + 1) * cellSide);
    for (const MKOverlayLevel level : {MKOverlayLevel::AboveRoads, MKOverlayLevel::AboveLabels}) {
        for (const auto& overlay : overlaysInLevel(level)) {
            const MKMapRect bounds = overlay->boundingMapRect();
            if (!MKMapRectIntersectsRect(bounds, frameCells) &&
                !MKMapRectIntersectsRect(bounds, MKMapRectOffset(frameCells, kMKMapWorldSide, 0)) &&
                !MKMapRectIntersectsRect(bounds, MKMapRectOffset(frameCells, -kMKMapWorldSide, 0))) {
                continue;
            }
            auto renderer = existingRendererForOverlay(overlay.get());
            if (!renderer) continue;
            renderer->setContentScaleFactor(devicePixelRatio);
            const auto key = reinterpret_cast<uintptr_t>(renderer.get());
            cells_->addLayer(key);
            layers.push_back({key, std::move(renderer), bounds, overlay->canReplaceMapContent()});
        }
    }

    struct Op {
        QImage image;
        QRectF source;
        QRectF target;
    };
    std::vector<Op> baseOps;
    std::vector<std::vector<Op>> layerOps(layers.size());
    std::vector<CellJob> jobs;
    {
        auto lock = cells_->lockForFrame();
        // Finds what to show for one cell of one layer: its image, else a stand-in from a coarser or a
        // finer level; asks for the cell when it is missing or out of date. True when something with
        // content was placed.
        // Places the part `part` (in the whole cell's pixels) of a cell that keeps only its inked
        // rect; false when that part has no ink.
        auto place = [](std::vector<Op>& ops, const CellCache::Lookup& cell, const QRectF& part,
                        const QRectF& target) {
            const QRectF inked = part.intersected(QRectF(cell.ink));
            if (inked.isEmpty()) return false;
            const double sx = target.width() / part.width();
            const double sy = target.height() / part.height();
            ops.push_back(
                {cell.image, inked.translated(-QPointF(cell.ink.topLeft())),
                 QRectF(target.x() + (inked.x() - part.x()) * sx, target.y() + (inked.y() - part.y()) * sy,
                        inked.width() * sx, inked.height() * sy)});
            return true;
        };
        auto resolve = [&](std::vector<Op>& ops, uintptr_t layerKey,
                           const std::shared_ptr<MKOverlayRenderer>& renderer, int64_t x, int64_t y,
                           const QRectF& target) {
            const CellKey key{layerKey, zoom, x, y};
            const CellCache::Lookup found = cells_->lookup(key);
            if (found.ready && !found.stale) {
                if (found.hasContent) {
                    place(ops, found, QRectF(QPointF(0, 0), QSizeF(found.full)), target);
                    ++stats_.cellsDrawn;
                }
                return found.hasContent;
            }
            if (!found.inFlight) {
                CellJob job{key, 0, devicePixelRatio, nullptr, palette, renderer};
                if (!renderer) job.baseMap = &MKBaseMap::shared();
                if (cells_->beginJob(key, &job.generation)) jobs.push_back(std::move(job));
            }
            ++stats_.cellsPending;
            if (found.ready && found.hasContent) {  // out of date: the old image until the new one comes
                place(ops, found, QRectF(QPointF(0, 0), QSizeF(found.full)), target);
                ++stats_.cellsDrawn;
                return true;
            }
            for (int up = 1; up <= std::min(zoom, 8); ++up) {
                const CellCache::Lookup parent = cells_->lookup({layerKey, zoom - up, x >> up, y >> up});
                if (!parent.ready || !parent.hasContent) continue;
                const double part = parent.full.width() / std::exp2(up);
                const int64_t mask = (int64_t{1} << up) - 1;
                place(ops, parent,
                      QRectF(static_cast<double>(x & mask) * part, static_cast<double>(y & mask) * part, part,
                             part),
                      target);
                ++stats_.cellsDrawn;
                ++stats_.cellsStandIn;
                return true;
            }
            if (zoom < 21) {
                bool any = false;
                std::vector<Op> children;
                for (int child = 0; child < 4; ++child) {
                    const CellCache::Lookup finer =
                        cells_->lookup({layerKey, zoom + 1, 2 * x + (child & 1), 2 * y + (child >> 1)});
                    if (!finer.ready) return false;
                    if (!finer.hasContent) continue;
                    const QRectF quarter(target.x() + (child & 1) * target.width() / 2,
                                         target.y() + (child >> 1) * target.height() / 2, target.width() / 2,
                                         target.height() / 2);
                    place(children, finer, QRectF(QPointF(0, 0), QSizeF(finer.full)), quarter);
                    any = true;
                }
                for (auto& op : children) ops.push_back(std::move(op));
                stats_.cellsDrawn += static_cast<int>(children.size());
                stats_.cellsStandIn += static_cast<int>(children.size());
                return any;
            }
            return false;
        };
        for (int64_t j = j0; j <= j1; ++j) {
            for (int64_t i = i0; i <= i1; ++i) {
                const int64_t x = ((i % cellsAcross) + cellsAcross) % cellsAcross;
                const double left = std::round((static_cast<double>(i) * cellSide - originX) * p.zoomScale);
                const double right =
                    std::round((static_cast<double>(i + 1) * cellSide - originX) * p.zoomScale);
                const double top = std::round((static_cast<double>(j) * cellSide - originY) * p.zoomScale);
                const double bottom =
                    std::round((static_cast<double>(j + 1) * cellSide - originY) * p.zoomScale);
                const QRectF target(left, top, right - left, bottom - top);
                const MKMapRect cellRect = MKMapRectMake(
                    static_cast<double>(x) * cellSide, static_cast<double>(j) * cellSide, cellSide, cellSide);
                // The base map is drawn under every cell, also where a layer replaces the map's content
                // (a tile style): its tiles hide the map where they are, and where one is missing, or a
                // stand-in from another level covers the cell only in part, the map shows through,
                // never a plain background. Drawn under tiles too, so that it can stand in at the next
                // zoom level.
                bool replaced = false;
                for (size_t l = 0; l < layers.size(); ++l) {
                    const MKMapRect& bounds = layers[l].bounds;
                    if (!MKMapRectIntersectsRect(bounds, cellRect) &&
                        !MKMapRectIntersectsRect(bounds, MKMapRectOffset(cellRect, kMKMapWorldSide, 0)) &&
                        !MKMapRectIntersectsRect(bounds, MKMapRectOffset(cellRect, -kMKMapWorldSide, 0))) {
                        continue;
                    }
                    const bool drawn = resolve(layerOps[l], layers[l].key, layers[l].renderer, x, j, target);
                    if (drawn && layers[l].replacesMap) replaced = true;
                }
                resolve(baseOps, baseKey, nullptr, x, j, target);
                ++(replaced ? stats_.cellsReplacedShown : stats_.cellsOwnMapShown);
            }
        }
    }

    // The cells nearest the middle first.
    const double centerX = p.center.x / cellSide;
    const double centerY = p.center.y / cellSide;
    std::sort(jobs.begin(), jobs.end(), [&](const CellJob& a, const CellJob& b) {
        return std::hypot(a.key.x + 0.5 - centerX, a.key.y + 0.5 - centerY) <
               std::hypot(b.key.x + 0.5 - centerX, b.key.y + 0.5 - centerY);
    });
    for (CellJob& job : jobs) {
        pool_->start([cells = cells_, job = std::move(job)] {
            if (job.renderer) {
                const MKMapRect cell = job.key.mapRect();
                if (!job.renderer->canDrawMapRect(cell, std::exp2(job.key.zoom - 20))) {
                    cells->finishJob(job.key, job.generation, QImage(), true);
                    return;
                }
            }
            cells->finishJob(job.key, job.generation, renderCell(job), false);
        });
    }

    painter.save();
    if (p.heading != 0) {
        painter.translate(viewWidth / 2, viewHeight / 2);
        painter.rotate(-p.heading);
        painter.translate(-viewWidth / 2, -viewHeight / 2);
    }
    const bool exact = std::abs(p.zoomScale - drawScale) < 1e-12 * drawScale && p.heading == 0;
    painter.setRenderHint(QPainter::SmoothPixmapTransform, !exact);
    frameGrid_ = {true, p.center, p.zoomScale, p.heading, exact, cellSide, originX};
    // What is drawn under the markers, for the pin layer to tell two frames' apart: the view, its
    // colour and turn, then each cell drawn (its image and where).
    frameUnderView_.assign({viewWidth, viewHeight, p.heading, exact ? 1.0 : 0.0,
                            static_cast<double>(palette.water.rgba()), devicePixelRatio});
    frameUnder_.clear();
    auto drawOps = [&](const std::vector<Op>& ops) {
        for (const Op& op : ops) {
            if (partial && p.heading == 0 && !op.target.intersects(dirty)) continue;
            painter.drawImage(op.target, op.image, op.source);
            if (recordsDrawing_) drawnCells_.push_back({op.image, op.source, op.target});
            frameUnder_.push_back({op.target,
                                   {std::bit_cast<double>(op.image.cacheKey()), op.source.x(), op.source.y(),
                                    op.source.width(), op.source.height()}});
        }
    };
    drawOps(baseOps);
    for (const auto& ops : layerOps) drawOps(ops);
    painter.restore();

    drawUserLocation(painter, p, partial ? dirty : QRectF());
    drawAnnotations(painter, p, partial ? dirty : QRectF());
    frameDidDraw();
}

MKMapView::UserDot MKMapView::userDot(const Presentation& p) const {
    UserDot dot;
    const auto& user = userLocation();
    if (!containsAnnotation(user.get())) return dot;
    const auto location = user->location();
    if (!location) return dot;
    const QPointF at = toView(p, MKMapPointForCoordinate(location->coordinate()));
    if (at.x() < -400 || at.y() < -400 || at.x() > width() + 400 || at.y() > height() + 400) return dot;
    dot.drawn = true;
    dot.at = at;
    const double accuracy = location->horizontalAccuracy();
    if (accuracy > 0) {
        const double radius =
            accuracy * MKMapPointsPerMeterAtLatitude(location->coordinate().latitude) * p.zoomScale;
        if (radius > 8) dot.halo = radius;
    }
    return dot;
}

QRectF MKMapView::userDotArea(const UserDot& dot) {
    if (!dot.drawn) return {};
    // The shadow reaches 9 points around a point below the dot; the halo's pen half a point past its
    // radius; a point more for anti-aliasing.
    const double reach = std::max(dot.halo + 0.5, 10.0) + 1;
    return {dot.at.x() - reach, dot.at.y() - reach, 2 * reach, 2 * reach};
}

void MKMapView::drawUserLocation(QPainter& painter, const Presentation& p, const QRectF& dirty) {
    const UserDot dot = userDot(p);
    // The screen shows this frame's dot once the frame repaints both where the last one was drawn and
    // where this one goes. Frames drawn elsewhere (into an image of a test, a benchmark) leave what
    // the view shows as it was.
    const QRectF both = userDotArea(dot) | userDotArea(paintedUserDot_);
    const bool moved = dot.drawn != paintedUserDot_.drawn || dot.at != paintedUserDot_.at ||
                       dot.halo != paintedUserDot_.halo;
    if (paintingWidget_ && (dirty.isNull() || both.isEmpty() || dirty.contains(both))) {
        paintedUserDot_ = dot;
        userDotPainted_ = true;
    } else if (paintingWidget_ && moved && dirty.intersects(both)) {
        // A repaint of a part that cuts through the dot while it sits less than a pixel from where it
        // was drawn whole: all of it is drawn again next, so what shows stays one dot.
        const QRect area = both.toAlignedRect();
        QMetaObject::invokeMethod(
            this, [this, area] { repaintArea(area); }, Qt::QueuedConnection);
    }
    if (!dot.drawn) return;
    if (!dirty.isNull() && !dirty.intersects(userDotArea(dot))) return;
    frameUnder_.push_back({userDotArea(dot), {-1, dot.at.x(), dot.at.y(), dot.halo, 0}});
    const QPointF at = dot.at;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (dot.halo > 0) {
        painter.setPen(QPen(QColor(0, 122, 255, 90), 1));
        painter.setBrush(QColor(0, 122, 255, 40));
        painter.drawEllipse(at, dot.halo, dot.halo);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 50));
    painter.drawEllipse(at + QPointF(0, 1), 9, 9);
    painter.setBrush(Qt::white);
    painter.drawEllipse(at, 8.5, 8.5);
    painter.setBrush(QColor(0, 122, 255));
    painter.drawEllipse(at, 6, 6);
    painter.restore();
}

size_t MKMapView::markerImageBytes() const {
    auto bytesOf = [](const QPixmap& pixmap) {
        return static_cast<size_t>(pixmap.width()) * static_cast<size_t>(pixmap.height()) *
               static_cast<size_t>(std::max(pixmap.depth(), 8) / 8);
    };
    size_t bytes = static_cast<size_t>(pinLayer_.composed.sizeInBytes());
    for (const auto& [key, pixmap] : pinPixmaps_) bytes += bytesOf(pixmap);
    for (const auto& [bitmap, entry] : bitmapPixmaps_) bytes += bytesOf(entry.second);
    return bytes;
}

const QPixmap& MKMapView::pinPixmap(const Color& tint, qreal ratio) {
    const QColor color = MKQtGraphicsContext::toQColor(tint);
    // Per ratio too: a frame drawn for a screen of another ratio gets a pin as sharp as its own.
    const auto quarters = static_cast<uint64_t>(std::clamp(std::lround(ratio * 4), 1L, 64L));
    const uint64_t key = uint64_t{color.rgba()} << 8 | quarters;
    const auto found = pinPixmaps_.find(key);
    if (found != pinPixmaps_.end()) return found->second;
    QPixmap pixmap(QSize(kPinWidth, kPinHeight) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    // Shadow at the tip, then the needle, then the head with a highlight.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 60));
    painter.drawEllipse(kPinTip, 5, 2);
    painter.setPen(QPen(QColor(90, 90, 90), 2, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(kPinTip.x(), 16), kPinTip);
    painter.setPen(QPen(color.darker(140), 1));
    painter.setBrush(color);
    painter.drawEllipse(QPointF(kPinTip.x(), 10), 8, 8);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 110));
    painter.drawEllipse(QPointF(kPinTip.x() - 3, 7), 2.5, 2.5);
    painter.end();
    return pinPixmaps_.emplace(key, pixmap).first->second;
}

const QPixmap& MKMapView::bitmapPixmap(const std::shared_ptr<MKBitmap>& bitmap) {
    const auto found = bitmapPixmaps_.find(bitmap.get());
    if (found != bitmapPixmaps_.end() && !found->second.first.expired()) return found->second.second;
    if (bitmapPixmaps_.size() > 256) {
        for (auto it = bitmapPixmaps_.begin(); it != bitmapPixmaps_.end();) {
            it = it->second.first.expired() ? bitmapPixmaps_.erase(it) : std::next(it);
        }
    }
    const QImage wrapped(reinterpret_cast<const uchar*>(bitmap->pixels.data()), bitmap->width, bitmap->height,
                         bitmap->width * 4, QImage::Format_ARGB32_Premultiplied);
    auto& entry = bitmapPixmaps_[bitmap.get()];
    entry = {bitmap, QPixmap::fromImage(wrapped.copy())};
    return entry.second;
}

void MKMapView::drawAnnotations(QPainter& painter, const Presentation& p, const QRectF& dirty) {
    // Only what the index finds in the visible rect (plus a marker's height) costs anything; a repaint
    // of a part of the unturned view asks only for that part.
    const double margin = kPinHeight / p.zoomScale;
    MKMapRect area;
    if (!dirty.isNull() && p.heading == 0) {
        area = MKMapRectMake(p.center.x + (dirty.x() - width() / 2.0) / p.zoomScale - margin,
                             p.center.y + (dirty.y() - height() / 2.0) / p.zoomScale - margin,
                             dirty.width() / p.zoomScale + 2 * margin,
                             dirty.height() / p.zoomScale + 2 * margin);
    } else {
        const double halfWidth = (p.heading == 0 ? width() : std::hypot(width(), height())) / 2 / p.zoomScale;
        const double halfHeight =
            (p.heading == 0 ? height() : std::hypot(width(), height())) / 2 / p.zoomScale;
        area = MKMapRectMake(p.center.x - halfWidth - margin, p.center.y - halfHeight - margin,
                             2 * (halfWidth + margin), 2 * (halfHeight + margin));
    }
    const qreal ratio = painter.device() != nullptr ? painter.device()->devicePixelRatioF() : 1.0;
    const QTransform device = painter.deviceTransform();
    static const Color kDefaultTint = Color::standardRed();
    // Neighbouring pins mostly share their tint: remember the last pixmap.
    const Color* lastTint = nullptr;
    const QPixmap* lastPin = nullptr;
    // The picture of an annotation's marker and its top-left corner in view points, read from its view
    // while the index visits it (the views lie scattered in memory; the frame's order would visit them
    // at random).
    auto stampFor = [&](const MKAnnotationView* view, QPointF at) {
        PinStamp stamp{nullptr, {}, {}, at.y()};
        if (view != nullptr && view->image() && view->image()->width > 0) {
            stamp.pixmap = &bitmapPixmap(view->image());
            const QSizeF size = stamp.pixmap->deviceIndependentSize();
            stamp.topLeft = at + QPointF(view->centerOffset().x - size.width() / 2,
                                         view->centerOffset().y - size.height() / 2);
        } else {
            const auto* pin = dynamic_cast<const MKPinAnnotationView*>(view);
            const Color& tint = pin != nullptr ? pin->pinTintColor() : kDefaultTint;
            if (lastTint == nullptr || !(*lastTint == tint)) {
                lastPin = &pinPixmap(tint, ratio);
                lastTint = &tint;
            }
            stamp.pixmap = lastPin;
            stamp.topLeft = at - kPinTip;
            if (view != nullptr) stamp.topLeft += QPointF(view->centerOffset().x, view->centerOffset().y);
        }
        // Where the raster engine puts the picture's first pixel.
        const QPointF mapped = device.map(stamp.topLeft);
        stamp.device = QPoint(qRound(mapped.x()), qRound(mapped.y()));
        return stamp;
    };
    // Kept between frames with its capacity: a frame with many markers in view fills it again.
    std::vector<PinStamp>& stamps = frameStamps_;
    stamps.clear();
    const MKAnnotation* user = userLocation().get();
    const MKAnnotation* dragged = draggedAnnotation().get();
    const auto selected = selectedAnnotations();
    const MKAnnotation* selectedPointer = selected.empty() ? nullptr : selected[0].get();
    // The views lie scattered in memory and each is read for its picture: they are gathered first and
    // each one's memory asked for a few markers ahead of its turn, so the reads overlap.
    std::vector<std::pair<const MKAnnotationView*, MKMapPoint>>& visited = frameVisited_;
    visited.clear();
    forEachAnnotationAndViewInMapRect(
        area, [&](const MKAnnotation& annotation, MKMapPoint point, const MKAnnotationView* view) {
            if (&annotation == user || &annotation == dragged || &annotation == selectedPointer) return;
            visited.emplace_back(view, point);
        });
    constexpr size_t kAhead = 8;
    for (size_t i = 0; i < visited.size(); ++i) {
        if (i + kAhead < visited.size() && visited[i + kAhead].first != nullptr) {
            const auto* ahead = reinterpret_cast<const char*>(visited[i + kAhead].first);
            for (size_t line = 0; line < sizeof(MKPinAnnotationView); line += 64)
                __builtin_prefetch(ahead + line);
        }
        stamps.push_back(stampFor(visited[i].first, toView(p, visited[i].second)));
    }
    // Southern markers overlap northern ones; the selected and the dragged marker lie on top.
    std::sort(stamps.begin(), stamps.end(),
              [](const PinStamp& a, const PinStamp& b) { return a.anchorY < b.anchorY; });
    std::vector<PinStamp> onTop;
    if (selectedPointer != nullptr && selectedPointer != dragged && selectedPointer != user) {
        onTop.push_back(stampFor(viewForAnnotation(selectedPointer).get(),
                                 toView(p, MKMapPointForCoordinate(selectedPointer->coordinate()))));
    }
    if (dragged != nullptr)
        onTop.push_back(stampFor(viewForAnnotation(dragged).get(), toView(p, dragPoint())));

    // A frame that repaints a part of the view draws only the markers that reach into that part, in
    // device pixels (a pixel more around for pictures the engine scales).
    QRect clip;
    if (!dirty.isNull()) clip = device.mapRect(dirty).toAlignedRect();
    auto reaches = [&](const PinStamp& stamp) {
        return clip.isNull() || device.mapRect(QRectF(stamp.topLeft, stamp.pixmap->deviceIndependentSize()))
                                    .toAlignedRect()
                                    .adjusted(-1, -1, 1, 1)
                                    .intersects(clip);
    };
    int drawn = 0;
    auto draw = [&](const PinStamp& stamp) {
        if (!reaches(stamp)) return;
        painter.drawPixmap(stamp.topLeft, *stamp.pixmap);
        if (recordsDrawing_) drawnPixmaps_.push_back({*stamp.pixmap, stamp.topLeft});
        ++drawn;
    };
    // A repaint of a part neither uses nor changes the kept pixels of the whole view's markers.
    if (clip.isNull() && !stamps.empty() && drawThroughPinLayer(painter, stamps)) {
        drawn = static_cast<int>(stamps.size());
        if (recordsDrawing_) {
            for (const PinStamp& stamp : stamps) drawnPixmaps_.push_back({*stamp.pixmap, stamp.topLeft});
        }
    } else {
        if (clip.isNull() && stamps.empty()) pinLayer_ = {};
        for (const PinStamp& stamp : stamps) draw(stamp);
    }
    for (const PinStamp& stamp : onTop) draw(stamp);
    stats_.annotationsDrawn = drawn;
}

bool MKMapView::drawThroughPinLayer(QPainter& painter, const std::vector<PinStamp>& stamps) {
    // A raster painter on an image of 4-byte pixels, moving by whole pixels and scaling by the device's
    // ratio, 1 or 2 (the ratios whose pictures the engine places without resampling), with no clip of
    // its own: the pixels the markers make can be read, and put back exactly where they were made.
    const qreal ratio = painter.device() != nullptr ? painter.device()->devicePixelRatioF() : 1.0;
    const QTransform device = painter.deviceTransform();
    QPaintEngine* engine = painter.paintEngine();
    if (engine == nullptr || engine->type() != QPaintEngine::Raster || engine->paintDevice() == nullptr ||
        engine->paintDevice()->devType() != QInternal::Image || (ratio != 1.0 && ratio != 2.0) ||
        device.type() > QTransform::TxScale || device.m11() != ratio || device.m22() != ratio ||
        device.dx() != std::round(device.dx()) || device.dy() != std::round(device.dy()) ||
        painter.hasClipping() || painter.opacity() != 1.0 ||
        painter.compositionMode() != QPainter::CompositionMode_SourceOver) {
        return false;
    }
    const QImage& image = *static_cast<QImage*>(engine->paintDevice());
    if (image.format() != QImage::Format_ARGB32_Premultiplied && image.format() != QImage::Format_RGB32) {
        return false;
    }
    // The device pixels the markers can touch (a pixel more around for pictures the engine scales),
    // within the view's own part of the image; and what drawing each of them costs.
    QRect bounds;
    double drawEach = 0;
    for (const PinStamp& stamp : stamps) {
        const QSize size = (stamp.pixmap->deviceIndependentSize() * ratio).toSize();
        bounds |= QRect(stamp.device, size);
        drawEach += kMarkerCallCost + kMarkerPixelCost * size.width() * size.height();
    }
    const QRect view = device.mapRect(QRectF(rect())).toAlignedRect();
    bounds = bounds.adjusted(-1, -1, 1, 1) & view & image.rect();
    // Showing kept pixels costs a copy of every pixel the markers span, whether they cover it or not:
    // unless drawing each marker costs clearly more (not so for a few hundred pins spread over a
    // large view), each is drawn and no image is held.
    if (bounds.isEmpty() || drawEach <= kKeptPixelsBias * bounds.width() * bounds.height()) {
        pinLayer_ = {};
        return false;
    }
    // An image of this size is kept: up to a 1280×800 view at ratio 2 (16 MB); a larger spread of
    // markers is drawn each frame rather than hold more.
    constexpr qint64 kMostKeptPixels = 2560 * 1600;
    if (qint64{bounds.width()} * bounds.height() > kMostKeptPixels) {
        pinLayer_ = {};
        return false;
    }
    // A frame that repaints only a part of the view leaves the rest of the image as an older frame
    // left it: such frames draw each marker.
    const QRegion systemClip = engine->systemClip();
    if (!systemClip.isEmpty() && !(QRegion(bounds) - systemClip).isEmpty()) return false;
    // Without a clip (a widget's is its own rect) markers at the view's edge reach past it into a
    // larger image, where no kept pixels would put them back.
    if (systemClip.isEmpty() && !view.contains(image.rect())) return false;

    // The markers and what the frame drew under them, both from the first marker's device pixel at an
    // exact, unturned scale (a pan by whole pixels moves all of it alike, and the engine places
    // unscaled pictures at whole pixels), else from the image's corner.
    const QPoint first = stamps.front().device;
    const bool relative = frameUnderView_.size() > 3 && frameUnderView_[2] == 0 && frameUnderView_[3] == 1;
    const QPoint origin = relative ? first : QPoint(0, 0);
    std::vector<double>& under = pinLayer_.scratch;
    under = frameUnderView_;
    const QRectF boundsInView = device.inverted().mapRect(QRectF(bounds));
    for (const UnderItem& item : frameUnder_) {
        // Before the view's turn an item's place says nothing of where it lies in the image.
        if (frameUnderView_[2] == 0 && !item.area.intersects(boundsInView)) continue;
        const QRectF at = device.mapRect(item.area).translated(-origin);
        under.insert(under.end(), {at.x(), at.y(), at.width(), at.height()});
        under.insert(under.end(), item.what.begin(), item.what.end());
    }
    bool sameStamps = pinLayer_.ratio == ratio && pinLayer_.stamps.size() == stamps.size() &&
                      pinLayer_.origin == bounds.topLeft() - origin && pinLayer_.size == bounds.size() &&
                      pinLayer_.under.size() == under.size() &&
                      std::memcmp(pinLayer_.under.data(), under.data(), under.size() * sizeof(double)) == 0;
    for (size_t i = 0; sameStamps && i < stamps.size(); ++i) {
        sameStamps = pinLayer_.stamps[i].first == stamps[i].device - origin &&
                     pinLayer_.stamps[i].second == stamps[i].pixmap->cacheKey();
    }
    if (sameStamps && !pinLayer_.composed.isNull()) {
        // Opaque pixels made of the same drawing: what drawing each marker would give.
        painter.drawImage(QPointF((bounds.x() - device.dx()) / ratio, (bounds.y() - device.dy()) / ratio),
                          pinLayer_.composed);
        stats_.annotationsFromLayer = static_cast<int>(stamps.size());
        pinLayer_.shown = true;
        pinLayer_.backoff = 1;
        return true;
    }
    for (const PinStamp& stamp : stamps) painter.drawPixmap(stamp.topLeft, *stamp.pixmap);
    if (!sameStamps) {
        // The markers moved, came or went, or the map under them changed (a zoom, a pan by part of a
        // pixel, cells arriving under them): frames like this tend to follow each other, so the
        // pixels are kept only once a frame repeats the last one. In place: while the view moves
        // every frame comes here, and ten thousand stamps are worth not allocating anew each time.
        if (!pinLayer_.composed.isNull() && !pinLayer_.shown) {
            // Kept pixels that no frame showed: keeping them cost a copy, so the next frames alike
            // draw the markers without, more of them the longer this goes on.
            pinLayer_.backoff = std::min(pinLayer_.backoff * 2, 16);
            pinLayer_.framesWithout = pinLayer_.backoff;
        }
        pinLayer_.ratio = ratio;
        pinLayer_.stamps.resize(stamps.size());
        for (size_t i = 0; i < stamps.size(); ++i) {
            pinLayer_.stamps[i] = {stamps[i].device - origin, stamps[i].pixmap->cacheKey()};
        }
        pinLayer_.under.swap(under);
        pinLayer_.origin = bounds.topLeft() - origin;
        pinLayer_.size = bounds.size();
        pinLayer_.composed = QImage();
        return true;
    }
    if (pinLayer_.framesWithout > 0 || !viewOpaque_) {
        --pinLayer_.framesWithout;
        return true;
    }
    // The kept pixels are put back as they are, so they must be opaque: the frame filled the view
    // with an opaque colour first, and what is drawn over opaque pixels stays opaque. As opaque
    // pixels they are copied, not blended.
    pinLayer_.composed = image.copy(bounds);
    pinLayer_.composed.reinterpretAsFormat(QImage::Format_RGB32);
    pinLayer_.composed.setDevicePixelRatio(ratio);
    pinLayer_.shown = false;
    stats_.pinLayerMade = true;
    return true;
}

// ---- Cells for tests and benchmarks

bool MKMapView::waitForCells(int timeoutMilliseconds) {
    // At the view's own pixel ratio: the cells of another ratio are other cells, and the next real
    // frame would find every one of its own still pending.
    const qreal ratio = devicePixelRatioF();
    QImage scratch(QSize(std::max(width(), 1), std::max(height(), 1)) * ratio,
                   QImage::Format_ARGB32_Premultiplied);
    scratch.setDevicePixelRatio(ratio);
    for (int round = 0; round < 16; ++round) {
        {
            QPainter painter(&scratch);
            drawMap(painter);
        }
        if (stats_.cellsPending == 0) return true;
        if (!pool_->waitForDone(timeoutMilliseconds)) return false;
    }
    return false;
}

void MKMapView::clearCellCache() {
    pool_->waitForDone();
    cells_->clear();
}

}  // namespace platform
