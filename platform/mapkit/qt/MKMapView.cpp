#include "platform/mapkit/qt/MKMapView.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPainter>
#include <QPainterPath>
#include <QThread>
#include <QThreadPool>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/mapkit/qt/MKMapViewCells.hpp"
#include "platform/mapkit/qt/MKQtGraphicsContext.hpp"
#include "platform/ui/Animator.hpp"

namespace platform {

namespace {

constexpr double kDegree = std::numbers::pi / 180.0;
constexpr size_t kCellCacheBytes = 192u * 1024 * 1024;
constexpr double kFrameInterval = 1.0 / 60;
constexpr double kWheelBurstEnd = 0.15;  // seconds without wheel events that end a burst
constexpr double kDragThreshold = 3;     // view points before a pin drag starts
constexpr double kInertiaTimeConstant = 0.325;
constexpr double kInertiaMinimumSpeed = 20;  // view points per second
// The pin's picture: the needle's tip is the coordinate.
constexpr int kPinWidth = 24;
constexpr int kPinHeight = 40;
constexpr QPointF kPinTip(12, 37);

double now() {
    return Clock::current()->monotonicSeconds();
}

uintptr_t baseLayerKey(MKMapType type) {
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

QString unqualified(const char* className) {
    const QString name = QString::fromLatin1(className);
    const qsizetype colon = name.lastIndexOf(QLatin1Char(':'));
    return colon < 0 ? name : name.mid(colon + 1);
}

}  // namespace

// ---- Accessories

MKCalloutAccessoryWidget::MKCalloutAccessoryWidget(QWidget* widget) : widget_(widget) {}

MKCalloutAccessoryWidget::~MKCalloutAccessoryWidget() {
    delete widget_.data();
}

bool MKCalloutAccessoryWidget::isControl() const {
    return qobject_cast<QAbstractButton*>(widget_.data()) != nullptr;
}

// ---- Construction

MKMapView::MKMapView(QWidget* parent)
    : QWidget(parent),
      cells_(std::make_shared<CellCache>(kCellCacheBytes)),
      pool_(std::make_unique<QThreadPool>()) {
    pool_->setMaxThreadCount(std::clamp(QThread::idealThreadCount(), 2, 4));
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    grabGesture(Qt::PinchGesture);
    // Results of the drawing threads and renderer invalidations become one queued repaint.
    auto queued = repaintQueued_;
    cells_->setRepaintCallback([this, queued] {
        if (queued->exchange(true)) return;
        QMetaObject::invokeMethod(
            this,
            [this, queued] {
                queued->store(false);
                update();
            },
            Qt::QueuedConnection);
    });
    scale_ = new MKScaleView(this);
    logo_ = new MKAppleLogoImageView(this);
    legal_ = new MKAttributionLabel(this);
    callout_ = new MKCalloutView(this);
    callout_->hide();
    callout_->onBodyClick = [this] {
        if (const auto view = callout_->annotationView(); view && view->annotation())
            runRecognizers(view->annotation());
    };
    setBoundsSize({static_cast<double>(std::max(width(), 1)), static_cast<double>(std::max(height(), 1))});
    setVisibleMapRect(MKMapRectWorld);
    placeOrnaments();
}

MKMapView::~MKMapView() {
    stopAnimation();
    // No renderer reaches this view from here on, and no drawing thread is left running.
    detachRenderers();
    cells_->setRepaintCallback(nullptr);
    pool_->clear();
    pool_->waitForDone();
    ++animationToken_;
    ++inertiaToken_;
    ++wheelToken_;
    ++press_.longPressToken;
}

QWidget* MKMapView::findSubview(const QString& className) const {
    for (QObject* child : children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (widget != nullptr && unqualified(widget->metaObject()->className()) == className) return widget;
    }
    return nullptr;
}

void MKMapView::setShowsScale(bool shows) {
    showsScale_ = shows;
    scale_->setVisible(shows);
}

void MKMapView::didAddSubview(QWidget*) {}
void MKMapView::willRemoveSubview(QWidget*) {}

std::shared_ptr<MKBitmap> MKMapView::bitmapFromImage(const QImage& image) {
    if (image.isNull()) return nullptr;
    const QImage converted = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    auto bitmap = std::make_shared<MKBitmap>();
    bitmap->width = converted.width();
    bitmap->height = converted.height();
    bitmap->pixels.resize(static_cast<size_t>(bitmap->width) * static_cast<size_t>(bitmap->height));
    for (int y = 0; y < converted.height(); ++y) {
        std::memcpy(bitmap->pixels.data() + static_cast<size_t>(y) * bitmap->width,
                    converted.constScanLine(y), static_cast<size_t>(bitmap->width) * 4);
    }
    return bitmap;
}

// ---- Model hooks

void MKMapView::contentDidChange() {
    layoutNeeded_ = true;
    const bool dark = MKBaseMap::paletteForMapType(mapType()).water.lightness() < 100;
    scale_->setDark(dark);
    logo_->setDark(dark);
    updateCallout();
    update();
}

void MKMapView::cameraDidChange(const CameraState& from, bool animated) {
    layoutNeeded_ = true;
    if (animated && isVisible()) {
        // From what is on screen now (an animation may be under way) to the model's new camera: the
        // UI layer's animator moves a progress from 0 to 1 on its frame timer, eased.
        const Presentation shown = presentation();
        const CameraState start =
            animating_ ? CameraState{shown.center, shown.zoomScale, shown.heading} : from;
        stopAnimation();
        animationFrom_ = start;
        animationProgress_ = 0;
        animating_ = true;
        const uint64_t token = ++animationToken_;
        Animator::animate(
            kAnimationDuration,
            [this] {
                Animator::setValue(this, "mapCamera", 0.0, 1.0, [this](const AnimatableValue& value) {
                    animationProgress_ = std::get<double>(value);
                    updateCallout();
                    update();
                });
            },
            [this, token](bool) {
                if (animationToken_ != token) return;
                animating_ = false;
                updateCallout();
                update();
            });
    } else {
        stopAnimation();
    }
    if (compass_ != nullptr) compass_->setHeading(heading());
    scale_->setMetersPerPoint(MKMetersPerMapPointAtLatitude(centerCoordinate().latitude) / zoomScale());
    updateCallout();
    update();
}

void MKMapView::overlaysDidChange() {
    layoutNeeded_ = true;
    update();
}

void MKMapView::overlayRendererWillBeRemoved(const std::shared_ptr<MKOverlayRenderer>& renderer) {
    cells_->dropLayer(reinterpret_cast<uintptr_t>(renderer.get()));
}

void MKMapView::overlayRendererNeedsDisplay(const MKOverlayRenderer& renderer, const MKMapRect& rect,
                                            MKZoomScale zoomScale) {
    int zoom = -1;
    if (zoomScale > 0 && std::isfinite(zoomScale))
        zoom = static_cast<int>(std::lround(std::log2(zoomScale))) + 20;
    cells_->invalidate(reinterpret_cast<uintptr_t>(&renderer), rect, zoom);
}

void MKMapView::compassVisibilityDidChange(bool visible) {
    if (visible && compass_ == nullptr) {
        compass_ = new MKCompassView(this);
        compass_->setHeading(heading());
        compass_->onClick = [this] {
            beginUserGesture();
            rotateTo(0);
            endUserGesture();
        };
        placeOrnaments();
        compass_->show();
        didAddSubview(compass_);
    } else if (!visible && compass_ != nullptr) {
        willRemoveSubview(compass_);
        compass_->hide();
        compass_->deleteLater();
        compass_ = nullptr;
    }
}

// ---- Layout

void MKMapView::resizeEvent(QResizeEvent*) {
    setBoundsSize({static_cast<double>(std::max(width(), 1)), static_cast<double>(std::max(height(), 1))});
    layoutNeeded_ = true;
    placeOrnaments();
    updateCallout();
}

void MKMapView::placeOrnaments() {
    const int margin = 8;
    scale_->move(margin, margin);
    logo_->move(margin, height() - logo_->height() - margin);
    legal_->move(width() - legal_->width() - margin, height() - legal_->height() - margin);
    if (compass_ != nullptr) compass_->move(width() - compass_->width() - margin, margin);
    scale_->setMetersPerPoint(MKMetersPerMapPointAtLatitude(centerCoordinate().latitude) / zoomScale());
}

void MKMapView::refreshBounds() {
    if (boundsSize().width != std::max(width(), 1) || boundsSize().height != std::max(height(), 1)) {
        setBoundsSize(
            {static_cast<double>(std::max(width(), 1)), static_cast<double>(std::max(height(), 1))});
    }
}

void MKMapView::layoutIfNeeded() {
    refreshBounds();
    if (!layoutNeeded_) return;
    layoutNeeded_ = false;
    updateAnnotationViews(kPinHeight);
    for (const auto& overlay : overlays()) (void)rendererForOverlay(overlay);
    updateCallout();
}

QPointF MKMapView::anchorPointForAnnotation(const MKAnnotation& annotation) const {
    const Presentation p = presentation();
    if (draggedAnnotation().get() == &annotation) return toView(p, dragPoint());
    return toView(p, MKMapPointForCoordinate(annotation.coordinate()));
}

void MKMapView::updateCallout() {
    const auto selected = selectedAnnotations();
    std::shared_ptr<MKAnnotationView> view =
        selected.empty() ? nullptr : viewForAnnotation(selected[0].get());
    const bool shows = view && view->canShowCallout() && view->annotation() &&
                       (!view->annotation()->title().empty() || view->detailCalloutAccessoryView()) &&
                       draggedAnnotation() == nullptr;
    if (!shows) {
        if (callout_->annotationView()) callout_->setContent(nullptr);
        callout_->hide();
        return;
    }
    callout_->setContent(view);
    QPointF tip = anchorPointForAnnotation(*view->annotation());
    // Above the marker: a pin's head, an image's top edge.
    if (view->image()) {
        tip.ry() += view->centerOffset().y - view->image()->height / 2.0;
        tip.rx() += view->centerOffset().x;
    } else if (dynamic_cast<MKUserLocationView*>(view.get()) != nullptr) {
        tip.ry() -= 10;
    } else {
        tip.ry() -= kPinTip.y() - 2;
    }
    tip += QPointF(view->calloutOffset().x, view->calloutOffset().y);
    callout_->placeAt(tip);
    callout_->show();
    callout_->raise();
}

// ---- Presentation and animation

MKMapView::Presentation MKMapView::presentation() const {
    const CameraState target = cameraState();
    if (!animating_) return {target.center, target.zoomScale, target.heading};
    const double e = std::clamp(animationProgress_, 0.0, 1.0);
    double dx = target.center.x - animationFrom_.center.x;
    dx -= std::round(dx / kMKMapWorldSide) * kMKMapWorldSide;
    double dh = target.heading - animationFrom_.heading;
    dh -= std::round(dh / 360.0) * 360.0;
    const double scale = std::exp(std::log(animationFrom_.zoomScale) +
                                  (std::log(target.zoomScale) - std::log(animationFrom_.zoomScale)) * e);
    return {{MKMapPointWrapX(animationFrom_.center.x + dx * e),
             animationFrom_.center.y + (target.center.y - animationFrom_.center.y) * e},
            scale,
            animationFrom_.heading + dh * e};
}

QPointF MKMapView::toView(const Presentation& p, MKMapPoint point) const {
    double dx = point.x - p.center.x;
    dx -= std::round(dx / kMKMapWorldSide) * kMKMapWorldSide;
    double dy = point.y - p.center.y;
    dx *= p.zoomScale;
    dy *= p.zoomScale;
    if (p.heading != 0) {
        const double c = std::cos(p.heading * kDegree);
        const double s = std::sin(p.heading * kDegree);
        const double x = dx * c + dy * s;
        const double y = -dx * s + dy * c;
        dx = x;
        dy = y;
    }
    return {width() / 2.0 + dx, height() / 2.0 + dy};
}

void MKMapView::stopAnimation() {
    if (!animating_) return;
    animating_ = false;
    ++animationToken_;
    Animator::remove(this, "mapCamera");
}

// ---- Drawing

void MKMapView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    drawMap(painter);
}

void MKMapView::drawMap(QPainter& painter) {
    layoutIfNeeded();
    ++frame_;
    stats_ = {};
    if (recordsDrawing_) {
        drawnCells_.clear();
        drawnPixmaps_.clear();
    }
    const Presentation p = presentation();
    const double viewWidth = width();
    const double viewHeight = height();
    const MKBaseMap::Palette palette = MKBaseMap::paletteForMapType(mapType());
    painter.fillRect(QRectF(0, 0, viewWidth, viewHeight), palette.water);

    const int zoom = std::clamp(static_cast<int>(std::lround(std::log2(p.zoomScale))) + 20, 0, 21);
    const double drawScale = std::exp2(zoom - 20);
    const double cellSide = 256 / drawScale;
    const int64_t cellsAcross = int64_t{1} << zoom;
    double boundsWidth = viewWidth / p.zoomScale;
    double boundsHeight = viewHeight / p.zoomScale;
    if (p.heading != 0) {
        const double c = std::abs(std::cos(p.heading * kDegree));
        const double s = std::abs(std::sin(p.heading * kDegree));
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
        bool replaces;
    };
    std::vector<Layer> layers;
    const uintptr_t baseKey = baseLayerKey(mapType());
    cells_->addLayer(baseKey);
    for (const auto& overlay : overlays()) {
        auto renderer = existingRendererForOverlay(overlay.get());
        if (!renderer) continue;
        const auto key = reinterpret_cast<uintptr_t>(renderer.get());
        cells_->addLayer(key);
        layers.push_back(
            {key, std::move(renderer), overlay->boundingMapRect(), overlay->canReplaceMapContent()});
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
        auto resolve = [&](std::vector<Op>& ops, uintptr_t layerKey,
                           const std::shared_ptr<MKOverlayRenderer>& renderer, int64_t x, int64_t y,
                           const QRectF& target) {
            const CellKey key{layerKey, zoom, x, y};
            const CellCache::Lookup found = cells_->lookup(key, frame_);
            if (found.ready && !found.stale) {
                if (found.hasContent) {
                    ops.push_back({found.image, QRectF(found.image.rect()), target});
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
                ops.push_back({found.image, QRectF(found.image.rect()), target});
                ++stats_.cellsDrawn;
                return true;
            }
            for (int up = 1; up <= std::min(zoom, 8); ++up) {
                const CellCache::Lookup parent =
                    cells_->lookup({layerKey, zoom - up, x >> up, y >> up}, frame_);
                if (!parent.ready || !parent.hasContent) continue;
                const double part = parent.image.width() / std::exp2(up);
                const int64_t mask = (int64_t{1} << up) - 1;
                ops.push_back({parent.image,
                               QRectF(static_cast<double>(x & mask) * part,
                                      static_cast<double>(y & mask) * part, part, part),
                               target});
                ++stats_.cellsDrawn;
                ++stats_.cellsStandIn;
                return true;
            }
            if (zoom < 21) {
                bool any = false;
                std::vector<Op> children;
                for (int child = 0; child < 4; ++child) {
                    const CellCache::Lookup finer = cells_->lookup(
                        {layerKey, zoom + 1, 2 * x + (child & 1), 2 * y + (child >> 1)}, frame_);
                    if (!finer.ready) return false;
                    if (!finer.hasContent) continue;
                    const QRectF quarter(target.x() + (child & 1) * target.width() / 2,
                                         target.y() + (child >> 1) * target.height() / 2, target.width() / 2,
                                         target.height() / 2);
                    children.push_back({finer.image, QRectF(finer.image.rect()), quarter});
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
                bool hideBase = false;
                for (size_t l = 0; l < layers.size(); ++l) {
                    const MKMapRect& bounds = layers[l].bounds;
                    if (!MKMapRectIntersectsRect(bounds, cellRect) &&
                        !MKMapRectIntersectsRect(bounds, MKMapRectOffset(cellRect, kMKMapWorldSide, 0)) &&
                        !MKMapRectIntersectsRect(bounds, MKMapRectOffset(cellRect, -kMKMapWorldSide, 0))) {
                        continue;
                    }
                    const bool drew = resolve(layerOps[l], layers[l].key, layers[l].renderer, x, j, target);
                    // A replacing layer hides the base map only where it has drawn something, so a cell it
                    // could not draw (a tile not there yet) still shows the map.
                    if (drew && layers[l].replaces) hideBase = true;
                }
                if (!hideBase) resolve(baseOps, baseKey, nullptr, x, j, target);
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
    auto drawOps = [&](const std::vector<Op>& ops) {
        for (const Op& op : ops) {
            painter.drawImage(op.target, op.image, op.source);
            if (recordsDrawing_) drawnCells_.push_back({op.image, op.source, op.target});
        }
    };
    drawOps(baseOps);
    for (const auto& ops : layerOps) drawOps(ops);
    painter.restore();

    drawUserLocation(painter, p);
    drawAnnotations(painter, p);
}

void MKMapView::drawUserLocation(QPainter& painter, const Presentation& p) {
    const auto& user = userLocation();
    if (!containsAnnotation(user.get())) return;
    const auto location = user->location();
    if (!location) return;
    const QPointF at = toView(p, MKMapPointForCoordinate(location->coordinate()));
    if (at.x() < -400 || at.y() < -400 || at.x() > width() + 400 || at.y() > height() + 400) return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const double accuracy = location->horizontalAccuracy();
    if (accuracy > 0) {
        const double radius =
            accuracy * MKMapPointsPerMeterAtLatitude(location->coordinate().latitude) * p.zoomScale;
        if (radius > 8) {
            painter.setPen(QPen(QColor(0, 122, 255, 90), 1));
            painter.setBrush(QColor(0, 122, 255, 40));
            painter.drawEllipse(at, radius, radius);
        }
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

const QPixmap& MKMapView::pinPixmap(const Color& tint) {
    const QColor color = MKQtGraphicsContext::toQColor(tint);
    const auto found = pinPixmaps_.find(color.rgba());
    if (found != pinPixmaps_.end()) return found->second;
    const qreal ratio = devicePixelRatioF();
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
    return pinPixmaps_.emplace(color.rgba(), pixmap).first->second;
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

void MKMapView::drawAnnotations(QPainter& painter, const Presentation& p) {
    // Only what the index finds in the visible rect (plus a marker's height) costs anything.
    const double margin = kPinHeight / p.zoomScale;
    const double halfWidth = (p.heading == 0 ? width() : std::hypot(width(), height())) / 2 / p.zoomScale;
    const double halfHeight = (p.heading == 0 ? height() : std::hypot(width(), height())) / 2 / p.zoomScale;
    const MKMapRect area = MKMapRectMake(p.center.x - halfWidth - margin, p.center.y - halfHeight - margin,
                                         2 * (halfWidth + margin), 2 * (halfHeight + margin));
    struct Item {
        const MKAnnotation* annotation;
        const MKAnnotationView* view;
        QPointF at;
    };
    std::vector<Item> items;
    const MKAnnotation* user = userLocation().get();
    const MKAnnotation* dragged = draggedAnnotation().get();
    const auto selected = selectedAnnotations();
    const MKAnnotation* selectedPointer = selected.empty() ? nullptr : selected[0].get();
    forEachAnnotationAndViewInMapRect(
        area, [&](const MKAnnotation& annotation, MKMapPoint point, const MKAnnotationView* view) {
            if (&annotation == user || &annotation == dragged || &annotation == selectedPointer) return;
            items.push_back({&annotation, view, toView(p, point)});
        });
    // Southern markers overlap northern ones; the selected and the dragged marker lie on top.
    std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.at.y() < b.at.y(); });
    if (selectedPointer != nullptr && selectedPointer != dragged && selectedPointer != user) {
        items.push_back({selectedPointer, viewForAnnotation(selectedPointer).get(),
                         toView(p, MKMapPointForCoordinate(selectedPointer->coordinate()))});
    }
    if (dragged != nullptr)
        items.push_back({dragged, viewForAnnotation(dragged).get(), toView(p, dragPoint())});
    static const Color kDefaultTint = Color::standardRed();
    // Neighbouring pins mostly share their tint: remember the last pixmap.
    const Color* lastTint = nullptr;
    const QPixmap* lastPin = nullptr;
    for (const Item& item : items) {
        const MKAnnotationView* view = item.view;
        QPointF topLeft;
        const QPixmap* pixmap = nullptr;
        if (view != nullptr && view->image() && view->image()->width > 0) {
            pixmap = &bitmapPixmap(view->image());
            const QSizeF size = pixmap->deviceIndependentSize();
            topLeft = item.at + QPointF(view->centerOffset().x - size.width() / 2,
                                        view->centerOffset().y - size.height() / 2);
        } else {
            const auto* pin = dynamic_cast<const MKPinAnnotationView*>(view);
            const Color& tint = pin != nullptr ? pin->pinTintColor() : kDefaultTint;
            if (lastTint == nullptr || !(*lastTint == tint)) {
                lastPin = &pinPixmap(tint);
                lastTint = &tint;
            }
            pixmap = lastPin;
            topLeft = item.at - kPinTip;
            if (view != nullptr) topLeft += QPointF(view->centerOffset().x, view->centerOffset().y);
        }
        painter.drawPixmap(topLeft, *pixmap);
        if (recordsDrawing_) drawnPixmaps_.push_back({*pixmap, topLeft});
        ++stats_.annotationsDrawn;
    }
}

// ---- Cells for tests and benchmarks

bool MKMapView::waitForCells(int timeoutMilliseconds) {
    QImage scratch(std::max(width(), 1), std::max(height(), 1), QImage::Format_ARGB32_Premultiplied);
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

// ---- Input

std::shared_ptr<MKAnnotation> MKMapView::annotationAt(QPointF point) const {
    // From the model, not from the last frame, so a click right after a move (before the next paint)
    // finds what is there now. Candidates lie within a marker's reach of the point; the one drawn on
    // top wins: the dragged, then the selected, then the southernmost.
    const Presentation p = presentation();
    const MKMapPoint under = mapPointForViewPoint({point.x(), point.y()});
    const double reach = 2.0 * kPinHeight / p.zoomScale;
    const MKMapRect area = MKMapRectMake(under.x - reach, under.y - reach, 2 * reach, 2 * reach);
    const MKAnnotation* dragged = draggedAnnotation().get();
    const auto selected = selectedAnnotations();
    const MKAnnotation* selectedPointer = selected.empty() ? nullptr : selected[0].get();
    const MKAnnotation* best = nullptr;
    double bestRank = -1e300;
    auto consider = [&](const MKAnnotation& annotation, MKMapPoint at, const MKAnnotationView* view) {
        const QPointF anchor = toView(p, at);
        QRectF rect;
        if (&annotation == userLocation().get()) {
            rect = QRectF(anchor - QPointF(9, 9), QSizeF(18, 18));
        } else if (view != nullptr && view->image() && view->image()->width > 0) {
            const QSizeF size(view->image()->width / devicePixelRatioF(),
                              view->image()->height / devicePixelRatioF());
            rect = QRectF(anchor + QPointF(view->centerOffset().x - size.width() / 2,
                                           view->centerOffset().y - size.height() / 2),
                          size);
        } else {
            rect = QRectF(anchor - kPinTip, QSizeF(kPinWidth, kPinHeight));
            if (view != nullptr) rect.translate(view->centerOffset().x, view->centerOffset().y);
        }
        if (!rect.adjusted(-2, -2, 2, 2).contains(point)) return;
        double rank = anchor.y();
        if (&annotation == selectedPointer) rank = 1e290;
        if (&annotation == dragged) rank = 1e295;
        if (rank > bestRank) {
            bestRank = rank;
            best = &annotation;
        }
    };
    forEachAnnotationAndViewInMapRect(
        area, [&](const MKAnnotation& annotation, MKMapPoint at, const MKAnnotationView* view) {
            consider(annotation, &annotation == dragged ? dragPoint() : at, view);
        });
    return best != nullptr ? annotationForPointer(best) : nullptr;
}

void MKMapView::runRecognizers(const std::shared_ptr<MKAnnotation>& annotation) {
    const auto view = viewForAnnotation(annotation.get());
    if (!view) return;
    // A copy: an action may add or remove recognisers.
    const auto recognizers = view->gestureRecognizers();
    for (const auto& recognizer : recognizers) recognizer->recognize(*view);
}

void MKMapView::clickAt(QPointF point) {
    layoutIfNeeded();
    const auto hit = annotationAt(point);
    const auto selected = selectedAnnotations();
    if (hit) {
        if (!selected.empty() && selected[0] == hit) {
            runRecognizers(hit);
        } else {
            selectAnnotation(hit, true);
        }
        return;
    }
    if (!selected.empty()) deselectAnnotation(selected[0], true);
}

void MKMapView::cancelLongPress() {
    ++press_.longPressToken;
}

void MKMapView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    setFocus(Qt::MouseFocusReason);
    stopAnimation();
    stopInertia(true);
    layoutIfNeeded();
    const QPointF at = event->position();
    press_ = PressState{};
    press_.start = at;
    press_.last = at;
    press_.samples.emplace_back(now(), at);
    const auto hit = annotationAt(at);
    const auto selected = selectedAnnotations();
    if (hit && !selected.empty() && selected[0] == hit) {
        press_.kind = PressKind::Pin;
        press_.pin = hit;
        press_.grabOffset = anchorPointForAnnotation(*hit) - at;
    } else {
        press_.kind = hit ? PressKind::Pin : PressKind::Map;
        press_.pin = hit;
    }
    if (press_.kind == PressKind::Map && longPress_.action) {
        const uint64_t token = ++press_.longPressToken;
        QPointer<MKMapView> self(this);
        DispatchQueue::main()->asyncAfter(longPress_.minimumPressDuration, [self, token] {
            if (!self || self->press_.longPressToken != token || self->press_.kind != PressKind::Map ||
                self->press_.panning || self->press_.consumed) {
                return;
            }
            self->press_.longPressBegan = true;
            if (self->longPress_.action) self->longPress_.action(MKGestureState::Began, self->press_.last);
        });
    }
}

void MKMapView::mouseMoveEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    if ((event->buttons() & Qt::LeftButton) == 0 || press_.kind == PressKind::None) {
        // Hover.
        hoverCoordinate_ = convertPoint({at.x(), at.y()});
        if (hoverHandler_)
            hoverHandler_(hovering_ ? MKGestureState::Changed : MKGestureState::Began, at, hoverCoordinate_);
        hovering_ = true;
        return;
    }
    if (press_.consumed) return;
    const QPointF delta = at - press_.last;
    const double travelled = QLineF(press_.start, at).length();
    press_.last = at;
    press_.samples.emplace_back(now(), at);
    if (press_.samples.size() > 8) press_.samples.erase(press_.samples.begin());
    if (press_.longPressBegan) {
        if (longPress_.action) longPress_.action(MKGestureState::Changed, at);
        return;
    }
    const auto selected = selectedAnnotations();
    if (press_.kind == PressKind::Pin && press_.pin && !selected.empty() && selected[0] == press_.pin) {
        const auto view = viewForAnnotation(press_.pin.get());
        if (view && view->isDraggable()) {
            if (!press_.dragging && travelled > kDragThreshold) press_.dragging = beginDrag(press_.pin);
            if (press_.dragging) {
                const QPointF anchor = at + press_.grabOffset;
                dragTo(mapPointForViewPoint({anchor.x(), anchor.y()}));
                updateCallout();
                update();
                return;
            }
            if (!press_.dragging && travelled <= kDragThreshold) return;
        }
    }
    if (!press_.panning) {
        if (travelled <= longPress_.allowableMovement) return;
        // Past the long press's tolerance: this is a pan, and no long press will come.
        cancelLongPress();
        press_.panning = true;
        beginUserGesture();
        panBy(at.x() - press_.start.x(), at.y() - press_.start.y());
        return;
    }
    panBy(delta.x(), delta.y());
}

void MKMapView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    PressState released = std::move(press_);
    press_ = PressState{};
    cancelLongPress();
    if (released.kind == PressKind::None || released.consumed) return;
    if (released.longPressBegan) {
        if (longPress_.action) longPress_.action(MKGestureState::Ended, event->position());
        return;
    }
    if (released.dragging) {
        endDrag();
        updateCallout();
        update();
        return;
    }
    if (released.panning) {
        // Speed over the last tenth of a second, if the pointer was still moving at the end.
        const double t = now();
        QPointF velocity;
        for (const auto& [time, position] : released.samples) {
            if (t - time <= 0.1 && t - time > 1e-6) {
                velocity = (event->position() - position) / (t - time);
                break;
            }
        }
        if (std::hypot(velocity.x(), velocity.y()) > kInertiaMinimumSpeed * 5) {
            startInertia(velocity);
        } else {
            endUserGesture();
        }
        return;
    }
    clickAt(event->position());
}

void MKMapView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    // The second press of a double click: the first already clicked; zoom instead of a new press.
    press_ = PressState{};
    const bool out = (event->modifiers() & Qt::ControlModifier) != 0;
    beginUserGesture();
    zoomBy(out ? 0.5 : 2.0, {event->position().x(), event->position().y()});
    endUserGesture();
}

void MKMapView::zoomGesture(double factor, QPointF anchor) {
    stopAnimation();
    stopInertia(true);
    if (!wheelBurst_) {
        wheelBurst_ = true;
        beginUserGesture();
    }
    zoomBy(factor, {anchor.x(), anchor.y()});
    scheduleWheelBurstEnd();
}

void MKMapView::scheduleWheelBurstEnd() {
    const uint64_t token = ++wheelToken_;
    QPointer<MKMapView> self(this);
    DispatchQueue::main()->asyncAfter(kWheelBurstEnd, [self, token] {
        if (!self || self->wheelToken_ != token || !self->wheelBurst_) return;
        self->wheelBurst_ = false;
        self->endUserGesture();
    });
}

void MKMapView::wheelEvent(QWheelEvent* event) {
    const double notches = event->angleDelta().y() / 120.0;
    if (notches == 0) {
        // A touchpad's two-finger scroll pans.
        const QPoint pixels = event->pixelDelta();
        if (pixels.isNull()) return;
        if (!wheelBurst_) {
            wheelBurst_ = true;
            beginUserGesture();
        }
        panBy(pixels.x(), pixels.y());
        scheduleWheelBurstEnd();
        return;
    }
    // Half a zoom level per notch, around the pointer.
    zoomGesture(std::exp2(notches / 2), event->position());
    event->accept();
}

bool MKMapView::event(QEvent* event) {
    if (event->type() == QEvent::NativeGesture) {
        auto* gesture = static_cast<QNativeGestureEvent*>(event);
        if (gesture->gestureType() == Qt::ZoomNativeGesture) {
            zoomGesture(1 + gesture->value(), gesture->position());
            return true;
        }
    }
    return QWidget::event(event);
}

void MKMapView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && press_.longPressBegan && !press_.consumed) {
        press_.consumed = true;
        if (longPress_.action) longPress_.action(MKGestureState::Cancelled, press_.last);
        return;
    }
    if (event->key() == Qt::Key_Escape && press_.dragging) {
        cancelDrag();
        press_.dragging = false;
        press_.consumed = true;
        updateCallout();
        update();
        return;
    }
    const QPointF middle(width() / 2.0, height() / 2.0);
    const double step = std::min(width(), height()) / 4.0;
    double factor = 1;
    QPointF pan;
    switch (event->key()) {
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            factor = 2;
            break;
        case Qt::Key_Minus:
            factor = 0.5;
            break;
        case Qt::Key_Left:
            pan = {step, 0};
            break;
        case Qt::Key_Right:
            pan = {-step, 0};
            break;
        case Qt::Key_Up:
            pan = {0, step};
            break;
        case Qt::Key_Down:
            pan = {0, -step};
            break;
        default:
            QWidget::keyPressEvent(event);
            return;
    }
    stopInertia(true);
    beginUserGesture();
    if (factor != 1) zoomBy(factor, {middle.x(), middle.y()});
    if (!pan.isNull()) panBy(pan.x(), pan.y());
    endUserGesture();
}

void MKMapView::enterEvent(QEnterEvent* event) {
    const QPointF at = event->position();
    hoverCoordinate_ = convertPoint({at.x(), at.y()});
    hovering_ = true;
    if (hoverHandler_) hoverHandler_(MKGestureState::Began, at, hoverCoordinate_);
}

void MKMapView::leaveEvent(QEvent*) {
    if (!hovering_) return;
    hovering_ = false;
    if (hoverHandler_) hoverHandler_(MKGestureState::Ended, QPointF(), hoverCoordinate_);
}

bool MKMapView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease) {
        auto* widget = qobject_cast<QWidget*>(watched);
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const auto view = callout_->annotationView();
        if (widget != nullptr && view && widget->rect().contains(mouse->position().toPoint())) {
            for (const auto& accessory :
                 {view->leftCalloutAccessoryView(), view->rightCalloutAccessoryView()}) {
                const auto* holder = dynamic_cast<const MKCalloutAccessoryWidget*>(accessory.get());
                if (holder == nullptr || holder->widget() != widget || !accessory->isControl()) continue;
                // After the control's own action, which runs while Qt delivers this release.
                QPointer<MKMapView> self(this);
                std::weak_ptr<MKAnnotationView> weakView = view;
                std::weak_ptr<MKCalloutAccessoryView> weakAccessory = accessory;
                QMetaObject::invokeMethod(
                    this,
                    [self, weakView, weakAccessory] {
                        const auto v = weakView.lock();
                        const auto a = weakAccessory.lock();
                        if (self && v && a) self->calloutAccessoryTapped(v, a);
                    },
                    Qt::QueuedConnection);
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---- Inertia

void MKMapView::startInertia(QPointF velocity) {
    inertiaRunning_ = true;
    inertiaVelocity_ = velocity;
    inertiaLast_ = now();
    const uint64_t token = ++inertiaToken_;
    QPointer<MKMapView> self(this);
    DispatchQueue::main()->asyncAfter(kFrameInterval, [self, token] {
        if (self && self->inertiaToken_ == token) self->inertiaTick();
    });
}

void MKMapView::inertiaTick() {
    if (!inertiaRunning_) return;
    const double t = now();
    const double dt = std::max(t - inertiaLast_, 0.0);
    inertiaLast_ = t;
    // Exponential slow-down, integrated exactly over the step so the glide does not depend on the
    // frame rate: the whole glide is the release speed times the time constant.
    const double decay = std::exp(-dt / kInertiaTimeConstant);
    const QPointF step = inertiaVelocity_ * (kInertiaTimeConstant * (1 - decay));
    panBy(step.x(), step.y());
    inertiaVelocity_ *= decay;
    if (std::hypot(inertiaVelocity_.x(), inertiaVelocity_.y()) < kInertiaMinimumSpeed) {
        stopInertia(true);
        return;
    }
    const uint64_t token = ++inertiaToken_;
    QPointer<MKMapView> self(this);
    DispatchQueue::main()->asyncAfter(kFrameInterval, [self, token] {
        if (self && self->inertiaToken_ == token) self->inertiaTick();
    });
}

void MKMapView::stopInertia(bool endGesture) {
    if (!inertiaRunning_) return;
    inertiaRunning_ = false;
    ++inertiaToken_;
    if (endGesture) endUserGesture();
}

// ---- Callout

MKCalloutView::MKCalloutView(QWidget* parent) : QWidget(parent) {
    setCursor(Qt::ArrowCursor);
}

void MKCalloutView::setContent(const std::shared_ptr<MKAnnotationView>& view) {
    auto* map = qobject_cast<MKMapView*>(parentWidget());
    // Accessories of the previous view leave the bubble.
    if (view_ != view && view_) {
        for (const auto& accessory : {view_->leftCalloutAccessoryView(), view_->rightCalloutAccessoryView(),
                                      view_->detailCalloutAccessoryView()}) {
            if (const auto* holder = dynamic_cast<const MKCalloutAccessoryWidget*>(accessory.get());
                holder != nullptr && holder->widget() != nullptr) {
                holder->widget()->hide();
                if (map != nullptr) holder->widget()->removeEventFilter(map);
            }
        }
    }
    view_ = view;
    if (!view_ || !view_->annotation()) {
        title_.clear();
        subtitle_.clear();
        return;
    }
    title_ = QString::fromStdString(view_->annotation()->title());
    subtitle_ = QString::fromStdString(view_->annotation()->subtitle());
    for (const auto& accessory : {view_->leftCalloutAccessoryView(), view_->rightCalloutAccessoryView(),
                                  view_->detailCalloutAccessoryView()}) {
        if (const auto* holder = dynamic_cast<const MKCalloutAccessoryWidget*>(accessory.get());
            holder != nullptr && holder->widget() != nullptr) {
            if (holder->widget()->parentWidget() != this) holder->widget()->setParent(this);
            if (map != nullptr) {
                holder->widget()->removeEventFilter(map);
                holder->widget()->installEventFilter(map);
            }
            holder->widget()->show();
        }
    }
    relayout();
}

namespace {

// The size a widget asks for, within the bounds it was given (a fixed size wins over its hint).
QSize preferredSize(const QWidget* widget) {
    return widget->sizeHint().boundedTo(widget->maximumSize()).expandedTo(widget->minimumSize());
}

QWidget* accessoryWidget(const std::shared_ptr<MKCalloutAccessoryView>& accessory) {
    const auto* holder = dynamic_cast<const MKCalloutAccessoryWidget*>(accessory.get());
    return holder != nullptr ? holder->widget() : nullptr;
}

constexpr int kCalloutPadding = 10;
constexpr int kCalloutPointer = 10;

QFont titleFont(const QFont& base) {
    QFont font = base;
    font.setPixelSize(14);
    font.setBold(true);
    return font;
}

QFont subtitleFont(const QFont& base) {
    QFont font = base;
    font.setPixelSize(12);
    return font;
}

}  // namespace

void MKCalloutView::relayout() {
    if (!view_) return;
    QWidget* left = accessoryWidget(view_->leftCalloutAccessoryView());
    QWidget* right = accessoryWidget(view_->rightCalloutAccessoryView());
    QWidget* detail = accessoryWidget(view_->detailCalloutAccessoryView());
    const QFontMetrics titleMetrics(titleFont(font()));
    const QFontMetrics subtitleMetrics(subtitleFont(font()));
    // Two points of slack: advances are fractional and elision must not cut a text that fits.
    int textWidth = std::min(titleMetrics.horizontalAdvance(title_) + 2, 320);
    int textHeight = title_.isEmpty() ? 0 : titleMetrics.height();
    if (detail != nullptr) {
        const QSize hint = preferredSize(detail);
        textWidth = std::max(textWidth, hint.width());
        textHeight += hint.height();
    } else if (!subtitle_.isEmpty()) {
        textWidth = std::max(textWidth, std::min(subtitleMetrics.horizontalAdvance(subtitle_) + 2, 320));
        textHeight += subtitleMetrics.height();
    }
    const QSize leftSize = left != nullptr ? preferredSize(left) : QSize();
    const QSize rightSize = right != nullptr ? preferredSize(right) : QSize();
    const int contentHeight = std::max({textHeight, leftSize.height(), rightSize.height(), 20});
    int x = kCalloutPadding;
    if (left != nullptr) {
        left->setGeometry(x, kCalloutPadding + (contentHeight - leftSize.height()) / 2, leftSize.width(),
                          leftSize.height());
        x += leftSize.width() + 8;
    }
    const int textX = x;
    x += textWidth;
    if (detail != nullptr) {
        const QSize hint = preferredSize(detail);
        const int top = kCalloutPadding + (title_.isEmpty() ? 0 : titleMetrics.height());
        detail->setGeometry(textX, top + (contentHeight - textHeight) / 2, hint.width(), hint.height());
    }
    if (right != nullptr) {
        x += 8;
        right->setGeometry(x, kCalloutPadding + (contentHeight - rightSize.height()) / 2, rightSize.width(),
                           rightSize.height());
        x += rightSize.width();
    }
    bubble_ = QSize(std::max(x + kCalloutPadding, 60), contentHeight + 2 * kCalloutPadding);
    resize(bubble_.width(), bubble_.height() + kCalloutPointer);
    update();
}

void MKCalloutView::placeAt(QPointF tip) {
    relayout();
    move(static_cast<int>(std::lround(tip.x() - width() / 2.0)),
         static_cast<int>(std::lround(tip.y() - height())));
}

void MKCalloutView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath bubble;
    const QRectF body(0.5, 0.5, bubble_.width() - 1, bubble_.height() - 1);
    bubble.addRoundedRect(body, 8, 8);
    QPainterPath pointer;
    const double middle = width() / 2.0;
    pointer.moveTo(middle - kCalloutPointer, body.bottom() - 1);
    pointer.lineTo(middle, body.bottom() + kCalloutPointer - 0.5);
    pointer.lineTo(middle + kCalloutPointer, body.bottom() - 1);
    pointer.closeSubpath();
    bubble = bubble.united(pointer);
    painter.setPen(QPen(QColor(0, 0, 0, 60), 1));
    painter.setBrush(QColor(255, 255, 255, 245));
    painter.drawPath(bubble);
    if (!view_) return;
    int textX = kCalloutPadding;
    if (QWidget* left = accessoryWidget(view_->leftCalloutAccessoryView()))
        textX = left->geometry().right() + 9;
    const int textRight = [&] {
        if (QWidget* right = accessoryWidget(view_->rightCalloutAccessoryView()))
            return right->geometry().left() - 8;
        return bubble_.width() - kCalloutPadding;
    }();
    const QFontMetrics titleMetrics(titleFont(font()));
    const QFontMetrics subtitleMetrics(subtitleFont(font()));
    const bool hasDetail = accessoryWidget(view_->detailCalloutAccessoryView()) != nullptr;
    const int textHeight = (title_.isEmpty() ? 0 : titleMetrics.height()) +
                           (!hasDetail && !subtitle_.isEmpty() ? subtitleMetrics.height() : 0);
    int y = kCalloutPadding + std::max(0, (bubble_.height() - 2 * kCalloutPadding - textHeight) / 2);
    if (hasDetail) y = kCalloutPadding;
    if (!title_.isEmpty()) {
        painter.setFont(titleFont(font()));
        painter.setPen(QColor(20, 20, 20));
        painter.drawText(QRect(textX, y, textRight - textX, titleMetrics.height()),
                         Qt::AlignLeft | Qt::AlignVCenter,
                         titleMetrics.elidedText(title_, Qt::ElideRight, textRight - textX));
        y += titleMetrics.height();
    }
    if (!hasDetail && !subtitle_.isEmpty()) {
        painter.setFont(subtitleFont(font()));
        painter.setPen(QColor(100, 100, 100));
        painter.drawText(QRect(textX, y, textRight - textX, subtitleMetrics.height()),
                         Qt::AlignLeft | Qt::AlignVCenter,
                         subtitleMetrics.elidedText(subtitle_, Qt::ElideRight, textRight - textX));
    }
}

void MKCalloutView::mousePressEvent(QMouseEvent* event) {
    event->accept();
}

void MKCalloutView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton &&
        QRect(QPoint(0, 0), bubble_).contains(event->position().toPoint()) && onBodyClick) {
        onBodyClick();
    }
}

}  // namespace platform
