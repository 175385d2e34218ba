#include <QAbstractButton>
#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/mapkit/qt/MKMapView.hpp"
#include "platform/mapkit/qt/MKPinGeometry.hpp"

// The map view's input: clicks and hit testing, pin drags, pans with their glide, the long press,
// wheel and pinch zoom, keys and hover.
namespace platform {

using detail::kPinHeight;
using detail::kPinTip;
using detail::kPinWidth;

namespace {

constexpr double kFrameInterval = 1.0 / 60;
constexpr double kWheelBurstEnd = 0.15;  // seconds without wheel events that end a burst
constexpr double kDragThreshold = 3;     // view points before a pin drag starts
constexpr double kInertiaTimeConstant = 0.325;
constexpr double kInertiaMinimumSpeed = 20;  // view points per second
// The fastest release speed a glide starts from (view points per second): a flick glides on at most
// about 1,600 points (speed × time constant), whatever an odd burst of events suggests.
constexpr double kInertiaMaximumSpeed = 5000;

double now() {
    return Clock::current()->monotonicSeconds();
}

// When an input event happened, in seconds: its own timestamp (milliseconds from the window system)
// where it has one, since after a busy event loop moves arrive in a burst, handled far closer together
// than they were made. Events made without one (timestamp 0) take the clock's time of handling.
double eventTime(const QInputEvent& event, bool usesTimestamps) {
    return usesTimestamps ? static_cast<double>(event.timestamp()) / 1000.0 : now();
}

}  // namespace

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
        const QRectF rect = markerRect(annotation, view, anchor);
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

QRectF MKMapView::markerRect(const MKAnnotation& annotation, const MKAnnotationView* view,
                             QPointF anchor) const {
    if (&annotation == userLocation().get()) return QRectF(anchor - QPointF(9, 9), QSizeF(18, 18));
    if (view != nullptr && view->image() && view->image()->width > 0) {
        const QSizeF size(view->image()->width / devicePixelRatioF(),
                          view->image()->height / devicePixelRatioF());
        return QRectF(anchor + QPointF(view->centerOffset().x - size.width() / 2,
                                       view->centerOffset().y - size.height() / 2),
                      size);
    }
    QRectF rect(anchor - kPinTip, QSizeF(kPinWidth, kPinHeight));
    if (view != nullptr) rect.translate(view->centerOffset().x, view->centerOffset().y);
    return rect;
}

bool MKMapView::clickSelectedView(QPointF point) {
    const auto selected = selectedAnnotations();
    if (selected.empty()) return false;
    const auto view = viewForAnnotation(selected[0].get());
    if (!view || !view->annotation()) return false;
    const QRectF rect = markerRect(*selected[0], view.get(), anchorPointForAnnotation(*selected[0]));
    view->setFrame({rect.x(), rect.y(), rect.width(), rect.height()});
    const MKHitTestResult hit = view->hitTest({point.x() - rect.x(), point.y() - rect.y()});
    if (hit.accessory) {
        const auto* holder = dynamic_cast<const MKCalloutAccessoryWidget*>(hit.accessory.get());
        const auto local = view->convertPoint({point.x() - rect.x(), point.y() - rect.y()}, *hit.accessory);
        if (holder == nullptr || !local) return false;
        holder->click(*local);
        return true;
    }
    if (hit.view == view.get()) {
        runRecognizers(selected[0]);
        return true;
    }
    return false;
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
    // The selected view first: it may route the click to one of its callout accessories.
    if (clickSelectedView(point)) return;
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

bool MKMapView::liesOnControl(QPointF point) const {
    // A child that takes the mouse (the compass, the callout) keeps its presses; one that leaves a press
    // to the map still covers the point.
    if (childAt(point.toPoint()) != nullptr) return true;
    const QPoint global = mapToGlobal(point.toPoint());
    for (const auto& widget : longPressExclusions_) {
        if (widget && widget->isVisible() && widget->rect().contains(widget->mapFromGlobal(global)))
            return true;
    }
    return false;
}

void MKMapView::addLongPressExclusion(QWidget* widget) {
    if (widget != nullptr) longPressExclusions_.emplace_back(widget);
}

void MKMapView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const QPointF at = event->position();
    clickEnded_ = false;
    if (focusRing_ != nullptr) focusRing_->hide();
    setFocus(Qt::MouseFocusReason);
    stopAnimation();
    stopInertia(true);
    layoutIfNeeded();
    press_ = PressState{};
    press_.start = at;
    press_.last = at;
    press_.usesTimestamps = event->timestamp() != 0;
    press_.samples.emplace_back(eventTime(*event, press_.usesTimestamps), at);
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
    // A long press drops a point: never on a control over the map. The scale and the attribution let
    // the mouse through so the map pans under them, but they are no place to drop a point either.
    if (press_.kind == PressKind::Map && longPress_.action && !liesOnControl(at)) {
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
    press_.samples.emplace_back(eventTime(*event, press_.usesTimestamps), at);
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
        // Speed over the last tenth of a second, if the pointer was still moving at the end, timed by
        // when the events happened.
        const double t = eventTime(*event, released.usesTimestamps);
        QPointF velocity;
        for (const auto& [time, position] : released.samples) {
            if (t - time <= 0.1 && t - time > 1e-6) {
                velocity = (event->position() - position) / (t - time);
                break;
            }
        }
        if (const double speed = std::hypot(velocity.x(), velocity.y()); speed > kInertiaMaximumSpeed)
            velocity *= kInertiaMaximumSpeed / speed;
        if (std::hypot(velocity.x(), velocity.y()) > kInertiaMinimumSpeed * 5) {
            startInertia(velocity);
        } else {
            endUserGesture();
        }
        return;
    }
    clickAt(event->position());
    clickEnded_ = true;
}

void MKMapView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    // The second press of a double click: the first already clicked; zoom instead of a new press.
    press_ = PressState{};
    // Unless the first click was not the map's: it chose a row of a list that closed at once, or
    // pressed a control, and the second lands here only because the list is gone.
    if (!clickEnded_) return;
    clickEnded_ = false;
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
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
            // The selected annotation's callout, pressed as a click on it would press it.
            if (callout_->isVisible() && callout_->annotationView() &&
                callout_->annotationView()->annotation() &&
                (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
                if (!event->isAutoRepeat()) runRecognizers(callout_->annotationView()->annotation());
                event->accept();
                return;
            }
            QWidget::keyPressEvent(event);
            return;
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

void MKMapView::focusInEvent(QFocusEvent* event) {
    const Qt::FocusReason reason = event->reason();
    const bool fromKeys =
        reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason;
    if (focusRing_ != nullptr) {
        focusRing_->setGeometry(rect());
        focusRing_->raise();
        focusRing_->setVisible(fromKeys);
    }
    QWidget::focusInEvent(event);
}

void MKMapView::focusOutEvent(QFocusEvent* event) {
    // A popup (a menu) takes the focus only for a while: the ring stays for when it comes back.
    if (focusRing_ != nullptr && event->reason() != Qt::PopupFocusReason) focusRing_->hide();
    QWidget::focusOutEvent(event);
}

void MKMapView::enterEvent(QEnterEvent* event) {
    const QPointF at = event->position();
    hoverCoordinate_ = convertPoint({at.x(), at.y()});
    hovering_ = true;
    if (hoverHandler_) hoverHandler_(MKGestureState::Began, at, hoverCoordinate_);
}

void MKMapView::leaveEvent(QEvent*) {
    // A click elsewhere comes between: the next double click's first half is not this one.
    clickEnded_ = false;
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

}  // namespace platform
