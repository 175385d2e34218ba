#include "platform/mapkit/qt/MKMapView.hpp"

#include <QApplication>
#include <QPainter>
#include <QThreadPool>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "platform/mapkit/qt/MKMapViewCells.hpp"
#include "platform/mapkit/qt/MKMapWindowWatcher.hpp"
#include "platform/mapkit/qt/MKPinGeometry.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/FocusRing.hpp"

// The map view: construction, the model's hooks, layout of its own views, and the camera shown while
// an animation runs. Drawing is in MKMapViewDrawing.cpp, input in MKMapViewInput.cpp.
namespace platform {

using detail::kPinHeight;
using detail::kPinTip;

namespace {

constexpr double kDegree = std::numbers::pi / 180.0;

QString unqualified(const char* className) {
    const QString name = QString::fromLatin1(className);
    const qsizetype colon = name.lastIndexOf(QLatin1Char(':'));
    return colon < 0 ? name : name.mid(colon + 1);
}

// Map views alive (main thread only). The drawing pool outlives every view, but
// its jobs paint with Qt's GUI state: once the last view goes, none may still
// run, or a QApplication destroyed next (the end of a run, or of a test) pulls
// that state from under them.
int liveMapViews = 0;

// The map's focus ring: a band along its edges over everything the map shows.
class MKMapFocusRingView : public QWidget {
  public:
    explicit MKMapFocusRingView(QWidget* parent) : QWidget(parent) {
        setObjectName(QStringLiteral("MKFocusRing"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        // What lies under the band is the map: its sea is the darker of its two large areas.
        QPainter painter(this);
        FocusRing::paint(painter, QRectF(rect()), 0, FocusRing::color(palette(), QColor(203, 216, 222)));
    }
};

}  // namespace

// ---- Construction

MKMapView::MKMapView(QWidget* parent)
    : QWidget(parent), cells_(&CellCache::shared()), pool_(&CellCache::drawingPool()) {
    ++liveMapViews;
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    grabGesture(Qt::PinchGesture);
    // Results of the drawing threads and renderer invalidations become one queued repaint of the
    // areas they changed.
    auto pending = pendingRepaint_;
    repaintListener_ = cells_->addRepaintListener([this, pending](const MKMapRect& rect) {
        {
            std::lock_guard lock(pending->mutex);
            // Past this many areas, one repaint of the whole view costs less than sorting them out.
            constexpr size_t kMostAreas = 256;
            if (MKMapRectIsNull(rect) || pending->rects.size() >= kMostAreas) {
                pending->whole = true;
                pending->rects.clear();
            } else if (!pending->whole) {
                pending->rects.push_back(rect);
            }
            if (pending->queued) return;
            pending->queued = true;
        }
        QMetaObject::invokeMethod(
            this, [this] { repaintPendingCells(); }, Qt::QueuedConnection);
    });
    scale_ = new MKScaleView(this);
    logo_ = new MKAppleLogoImageView(this);
    legal_ = new MKAttributionLabel(this);
    notice_ = new MKMapNoticeLabel(this);
    for (QWidget* ornament : std::initializer_list<QWidget*>{scale_, logo_, legal_, notice_})
        addLongPressExclusion(ornament);
    callout_ = new MKCalloutView(this);
    callout_->hide();
    focusRing_ = new MKMapFocusRingView(this);
    focusRing_->hide();
    callout_->onBodyClick = [this] {
        if (const auto view = callout_->annotationView(); view && view->annotation())
            runRecognizers(view->annotation());
    };
    windowWatcher_ = new MKMapWindowWatcher(this, [this] { mapWindowDidComeBack(); });
    setBoundsSize({static_cast<double>(std::max(width(), 1)), static_cast<double>(std::max(height(), 1))});
    setVisibleMapRect(MKMapRectWorld);
    placeOrnaments();
}

void MKMapView::mapWindowDidComeBack() {
    for (const auto& overlay : overlays()) {
        if (auto renderer = existingRendererForOverlay(overlay.get())) renderer->mapWindowDidComeBack();
    }
}

MKMapView::~MKMapView() {
    stopAnimation();
    // No renderer reaches this view from here on, and no drawing thread is left running.
    detachRenderers();
    // After this no drawing thread calls this view again (a call under way is waited for); the
    // drawing jobs themselves hold only the cache and their renderer, and results for the layers
    // dropped here are thrown away when they arrive.
    cells_->removeRepaintListener(repaintListener_);
    for (const auto& overlay : overlays()) {
        if (auto renderer = existingRendererForOverlay(overlay.get()))
            cells_->dropLayer(reinterpret_cast<uintptr_t>(renderer.get()));
    }
    ++animationToken_;
    ++inertiaToken_;
    ++wheelToken_;
    ++press_.longPressToken;
    if (--liveMapViews == 0) pool_->waitForDone();
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
    notice_->setDark(dark);
    updateCallout();
    update();
}

void MKMapView::annotationDidChange(const MKAnnotation& annotation) {
    if (&annotation != userLocation().get() || !userDotPainted_ || animating_) {
        contentDidChange();
        return;
    }
    // A fix of the user's position arrives every second or so. On screen only the dot and its halo
    // change: the area where the last frame drew them and the one where they go now are repainted,
    // not the map; when the dot and its halo would be drawn within a pixel of the last frame's,
    // nothing is. A callout that shows the location follows it with the location's texts.
    const UserDot now = userDot(presentation());
    const UserDot& painted = paintedUserDot_;
    const bool same =
        now.drawn == painted.drawn &&
        (!now.drawn ||
         (std::abs(now.at.x() - painted.at.x()) < 1.0 && std::abs(now.at.y() - painted.at.y()) < 1.0 &&
          (now.halo > 0) == (painted.halo > 0) && std::abs(now.halo - painted.halo) < 1.0));
    // The user's annotation view, made once the dot comes near the view (the callout and clicks use
    // it); the other markers' views are as the last layout left them.
    if (now.drawn && !viewForAnnotation(&annotation)) layoutNeeded_ = true;
    for (const auto& selected : selectedAnnotations()) {
        if (selected.get() == &annotation) updateCallout();
    }
    if (!same) repaintArea(QRectF(userDotArea(painted) | userDotArea(now)).toAlignedRect());
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
    // The overlays that came, went or moved in the drawing order lie between the part both orders
    // begin with and the part they end with: their bounds are repainted, and nothing else (a circle
    // kept around the user's position, replaced as the user walks, repaints only the old and the new
    // circle; other overlays' cells stay as they are).
    std::vector<std::pair<std::weak_ptr<MKOverlay>, MKMapRect>> now;
    for (const MKOverlayLevel level : {MKOverlayLevel::AboveRoads, MKOverlayLevel::AboveLabels}) {
        for (const auto& overlay : overlaysInLevel(level))
            now.emplace_back(overlay, overlay->boundingMapRect());
    }
    auto same = [](const std::pair<std::weak_ptr<MKOverlay>, MKMapRect>& a,
                   const std::pair<std::weak_ptr<MKOverlay>, MKMapRect>& b) {
        return !a.first.owner_before(b.first) && !b.first.owner_before(a.first) && a.second == b.second;
    };
    size_t head = 0;
    while (head < now.size() && head < shownOverlays_.size() && same(now[head], shownOverlays_[head])) ++head;
    size_t tail = 0;
    while (tail < now.size() - head && tail < shownOverlays_.size() - head &&
           same(now[now.size() - 1 - tail], shownOverlays_[shownOverlays_.size() - 1 - tail])) {
        ++tail;
    }
    std::vector<MKMapRect> changed;
    double reach = removedStrokeReach_;
    for (const auto* list : {&shownOverlays_, &now}) {
        for (size_t i = head; i + tail < list->size(); ++i) {
            changed.push_back((*list)[i].second);
            if (const auto overlay = (*list)[i].first.lock()) {
                if (const auto circle = std::dynamic_pointer_cast<MKCircleRenderer>(
                        existingRendererForOverlay(overlay.get()))) {
                    reach = std::max(reach, circle->lineWidth());
                }
            }
        }
    }
    removedStrokeReach_ = 0;
    shownOverlays_ = std::move(now);
    // A stroke straddles the bounds' edge; its width is in view points at the cells' scale, at most
    // √2 times as wide at the view's; a pixel or two more for the scaled cells' blending.
    updateMapRects(changed, reach + 2);
}

void MKMapView::overlayRendererWillBeRemoved(const std::shared_ptr<MKOverlayRenderer>& renderer) {
    cells_->dropLayer(reinterpret_cast<uintptr_t>(renderer.get()));
    if (const auto circle = std::dynamic_pointer_cast<MKCircleRenderer>(renderer))
        removedStrokeReach_ = std::max(removedStrokeReach_, circle->lineWidth());
}

void MKMapView::repaintPendingCells() {
    std::vector<MKMapRect> rects;
    bool whole = false;
    {
        std::lock_guard lock(pendingRepaint_->mutex);
        pendingRepaint_->queued = false;
        whole = pendingRepaint_->whole;
        pendingRepaint_->whole = false;
        rects.swap(pendingRepaint_->rects);
    }
    if (whole) {
        update();
        return;
    }
    // Cells are blended into the view scaled: a pixel more around.
    updateMapRects(rects, 2);
}

QRect MKMapView::viewRectForMapRect(const Presentation& p, const MKMapRect& rect, double margin) const {
    // Where the view shows more than half the world across, a place can show twice: all of it.
    const double across = std::hypot(width(), height()) / p.zoomScale;
    if (MKMapRectIsNull(rect) || rect.size.width >= kMKMapWorldSide / 2 || across >= kMKMapWorldSide / 2) {
        return this->rect();
    }
    // The copy nearest the middle (toView picks it for the centre), turned with the view.
    const QPointF centre =
        toView(p, {rect.origin.x + rect.size.width / 2, rect.origin.y + rect.size.height / 2});
    double halfWidth = rect.size.width / 2 * p.zoomScale;
    double halfHeight = rect.size.height / 2 * p.zoomScale;
    if (p.heading != 0) {
        const double c = std::abs(std::cos(p.heading * kDegree));
        const double s = std::abs(std::sin(p.heading * kDegree));
        const double w = halfWidth * c + halfHeight * s;
        const double h = halfWidth * s + halfHeight * c;
        halfWidth = w;
        halfHeight = h;
    }
    const QRectF area(centre.x() - halfWidth - margin, centre.y() - halfHeight - margin,
                      2 * (halfWidth + margin), 2 * (halfHeight + margin));
    return area.toAlignedRect() & this->rect();
}

void MKMapView::updateMapRects(const std::vector<MKMapRect>& rects, double margin) {
    if (rects.empty()) return;
    // While the camera moves every frame repaints the whole view anyway.
    if (animating_) {
        update();
        return;
    }
    const Presentation p = presentation();
    QRegion region;
    for (const MKMapRect& rect : rects) region |= viewRectForMapRect(p, rect, margin);
    repaintArea(region);
}

void MKMapView::repaintArea(const QRegion& area) {
    if (area.isEmpty()) return;
    const Presentation p = presentation();
    const FrameGrid& grid = frameGrid_;
    if (!grid.valid || grid.exact) {
        // Before the first frame nothing shows; at an exact scale cells are copied pixel for pixel.
        update(area);
        return;
    }
    // A cell scaled to the view blends each row from the left edge of its target on: a row begun
    // elsewhere can come out a level apart here and there. So each row of the part starts and ends
    // at the edges of the cells it crosses, as in the whole frame. Turned, or since moved (a whole
    // frame comes anyway), the whole view.
    if (p.heading != 0 || grid.heading != 0 || !(grid.center == p.center) || grid.zoomScale != p.zoomScale) {
        update();
        return;
    }
    QRegion aligned;
    for (const QRect& part : area) {
        const auto i0 =
            static_cast<int64_t>(std::floor((grid.originX + part.left() / p.zoomScale) / grid.cellSide));
        const auto i1 = static_cast<int64_t>(
            std::floor((grid.originX + (part.right() + 1) / p.zoomScale) / grid.cellSide));
        // As the frame places its cells.
        const double left =
            std::round((static_cast<double>(i0) * grid.cellSide - grid.originX) * p.zoomScale);
        const double right =
            std::round((static_cast<double>(i1 + 1) * grid.cellSide - grid.originX) * p.zoomScale);
        aligned |= QRect(static_cast<int>(left), part.top(), static_cast<int>(right - left), part.height());
    }
    update(aligned & rect());
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
    focusRing_->setGeometry(rect());
}

void MKMapView::placeOrnaments() {
    const int margin = 8;
    scale_->move(margin, margin);
    logo_->move(margin, height() - logo_->height() - margin);
    legal_->move(width() - legal_->width() - margin, height() - legal_->height() - margin);
    // Two lines of the attribution's height above it: a screen's own credit line of up to two
    // lines, set where the attribution stands, stays clear of it; and above the credits a screen
    // says it shows, however many lines they take (a small window, a large font at ratio 2).
    int noticeRight = width() - margin;
    int noticeBottom = legal_->y() - legal_->height() - 4;
    if (!creditArea_.isEmpty()) {
        noticeRight = std::min(noticeRight, creditArea_.right() + 1);
        noticeBottom = std::min(noticeBottom, creditArea_.top() - 4);
    }
    notice_->move(std::max(margin, noticeRight - notice_->width()), noticeBottom - notice_->height());
    if (compass_ != nullptr) {
        compass_->move(
            static_cast<int>(std::lround(width() - compass_->width() - margin - compassTrailingInset_)),
            margin);
    }
    scale_->setMetersPerPoint(MKMetersPerMapPointAtLatitude(centerCoordinate().latitude) / zoomScale());
}

QString MKMapView::notice() const {
    return notice_->text();
}

void MKMapView::setCreditArea(const QRect& area) {
    if (area == creditArea_) return;
    creditArea_ = area;
    placeOrnaments();
}

void MKMapView::setNotice(const QString& text) {
    if (text == notice_->text()) return;
    notice_->setText(text);
    placeOrnaments();
}

void MKMapView::setCompassTrailingInset(double points) {
    const double inset = std::max(0.0, points);
    if (inset == compassTrailingInset_) return;
    compassTrailingInset_ = inset;
    placeOrnaments();
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

QPointF MKMapView::calloutTip(const MKAnnotationView& view, QPointF anchor) const {
    QPointF tip = anchor;
    // Above the marker: a pin's head, an image's top edge.
    if (view.image()) {
        tip.ry() += view.centerOffset().y - view.image()->height / 2.0;
        tip.rx() += view.centerOffset().x;
    } else if (dynamic_cast<const MKUserLocationView*>(&view) != nullptr) {
        tip.ry() -= 10;
    } else {
        tip.ry() -= kPinTip.y() - 2;
    }
    return tip + QPointF(view.calloutOffset().x, view.calloutOffset().y);
}

void MKMapView::setCalloutInsets(const QMarginsF& insets) {
    if (insets == calloutInsets_) return;
    calloutInsets_ = insets;
    updateCallout();
}

QRectF MKMapView::calloutArea() const {
    constexpr double kMargin = 4;
    const QRectF area =
        QRectF(rect()).marginsRemoved(calloutInsets_).adjusted(kMargin, kMargin, -kMargin, -kMargin);
    return area.isValid() ? area : QRectF();
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
    const bool fresh = callout_->annotationView() != view || callout_->isHidden();
    callout_->setContent(view);
    callout_->placeAt(calloutTip(*view, anchorPointForAnnotation(*view->annotation())), calloutArea());
    callout_->show();
    callout_->raise();
    if (fresh) {
        // Once what selected it has moved the camera (the selection's own handlers run first), the
        // map moves on to show the new callout whole.
        const uint64_t token = ++revealToken_;
        QMetaObject::invokeMethod(
            this,
            [this, token] {
                if (token == revealToken_) revealCallout();
            },
            Qt::QueuedConnection);
    }
}

void MKMapView::revealCallout() {
    const auto view = callout_->annotationView();
    if (!view || !view->annotation() || callout_->isHidden() || press_.kind != PressKind::None) return;
    const QRectF area = calloutArea();
    if (!area.isValid()) return;
    // Where the callout ends up once the camera has arrived.
    const CameraState target = cameraState();
    const Presentation end{target.center, target.zoomScale, target.heading};
    const QPointF anchor = toView(end, MKMapPointForCoordinate(view->annotation()->coordinate()));
    // A pin out of sight (a point selected far away, a restored selection) keeps the map where it is:
    // only a callout cut at the edges of a pin in view moves it.
    if (!QRectF(rect()).contains(anchor)) return;
    const QPointF tip = calloutTip(*view, anchor);
    const double reach = 8 + 10;  // the pointer keeps clear of the bubble's corners
    double dx = 0;
    double dy = 0;
    if (tip.x() < area.left() + reach) dx = area.left() + reach - tip.x();
    if (tip.x() > area.right() - reach) dx = area.right() - reach - tip.x();
    const double top = tip.y() - callout_->height();
    if (top < area.top()) dy = area.top() - top;
    if (anchor.y() > area.bottom()) dy = area.bottom() - anchor.y();
    if (dx == 0 && dy == 0) return;
    const auto centre = convertPoint({width() / 2.0 - dx, height() / 2.0 - dy});
    if (!CLLocationCoordinate2DIsValid(centre)) return;
    setCenterCoordinate(centre, true);
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

}  // namespace platform
