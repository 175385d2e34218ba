#include "mapscreen/StyleKitButton.hpp"

#include <QKeyEvent>
#include <QPainter>

namespace tervolo::mapscreen {

StyleKitButton::StyleKitButton(QWidget* parent) : QAbstractButton(parent) {
    // Reached with Tab, never taken by a click: a click on a map button leaves the keys where they
    // were (the map, the search field).
    setFocusPolicy(Qt::TabFocus);
}

void StyleKitButton::keyPressEvent(QKeyEvent* event) {
    // Return and Enter press the focused button as Space does (the button handles Space itself).
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (!event->isAutoRepeat()) click();
        event->accept();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void StyleKitButton::setTintColor(const QColor& color) {
    if (tintColor_ == color) return;
    tintColor_ = color;
    update();
}

void StyleKitButton::setLayer(const ButtonLayer& layer) {
    if (layer_ == layer) return;
    layer_ = layer;
    update();
}

void StyleKitButton::draw(platform::GraphicsContext&, const QRectF&) {}

void StyleKitButton::paintEvent(QPaintEvent*) {
    // The icon always fills the whole button: a paint of only part of it (another widget moved
    // away) must not fit the icon into that part.
    QPainter painter(this);
    paintMapButton(painter, *this, layer_,
                   [this](platform::GraphicsContext& context, const QRectF& frame) { draw(context, frame); });
}

}  // namespace tervolo::mapscreen
