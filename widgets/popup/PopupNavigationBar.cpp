#include "widgets/popup/PopupNavigationBar.hpp"

#include <QMouseEvent>

namespace tervolo::widgets::popup {

PopupNavigationBar::Appearance& PopupNavigationBar::appearance() {
    // Never destroyed: a bar made during exit still finds it.
    static auto* shared = new Appearance();
    return *shared;
}

PopupNavigationBar::PopupNavigationBar(QWidget* parent) : platform::NavigationBar(parent) {
    const Appearance& look = appearance();
    if (look.titleTextAttributes.font || look.titleTextAttributes.foregroundColor)
        setTitleTextAttributes(look.titleTextAttributes);
    // The bar's button items are its children and take its font.
    if (look.barButtonItemFont) setFont(*look.barButtonItemFont);
}

bool PopupNavigationBar::startsDrag(const QWidget* view) const {
    // The plain bar lays its items out on one content widget of its own; the
    // bar, that widget and what sits directly on it (the title, a title view,
    // an item's own view) are the bar's surface. Anything nested deeper
    // belongs to a control.
    int depth = 0;
    for (const QWidget* w = view; w != nullptr; w = w->parentWidget(), ++depth) {
        if (w == this) return depth <= 2;
    }
    return false;
}

float PopupNavigationBar::offsetAt(QPointF windowPosition) const {
    return static_cast<float>(windowPosition.y() - movingStartY_);
}

bool PopupNavigationBar::touchesBegan(const QWidget* view, QPointF windowPosition) {
    if (!draggable_) return false;
    if (!moving_ && startsDrag(view)) {
        moving_ = true;
        movingStartY_ = windowPosition.y();
    }
    return true;
}

bool PopupNavigationBar::touchesMoved(QPointF windowPosition) {
    if (!draggable_) return false;
    if (moving_) {
        if (auto delegate = touchEventDelegate())
            delegate->popupNavigationBarTouchDidMove(*this, offsetAt(windowPosition));
    }
    return true;
}

bool PopupNavigationBar::touchesEnded(QPointF windowPosition) {
    if (!draggable_) return false;
    if (moving_) movingDidEndWithOffset(offsetAt(windowPosition));
    return true;
}

bool PopupNavigationBar::touchesCancelled(QPointF windowPosition) {
    return touchesEnded(windowPosition);
}

void PopupNavigationBar::movingDidEndWithOffset(float offset) {
    moving_ = false;
    if (auto delegate = touchEventDelegate()) delegate->popupNavigationBarTouchDidEnd(*this, offset);
}

void PopupNavigationBar::mousePressEvent(QMouseEvent* event) {
    const QWidget* view = childAt(event->position().toPoint());
    if (touchesBegan(view != nullptr ? view : this, event->scenePosition())) {
        event->accept();
        return;
    }
    platform::NavigationBar::mousePressEvent(event);
}

void PopupNavigationBar::mouseMoveEvent(QMouseEvent* event) {
    if (touchesMoved(event->scenePosition())) {
        event->accept();
        return;
    }
    platform::NavigationBar::mouseMoveEvent(event);
}

void PopupNavigationBar::mouseReleaseEvent(QMouseEvent* event) {
    if (touchesEnded(event->scenePosition())) {
        event->accept();
        return;
    }
    platform::NavigationBar::mouseReleaseEvent(event);
}

}  // namespace tervolo::widgets::popup
