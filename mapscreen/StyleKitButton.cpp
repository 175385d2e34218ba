#include "mapscreen/StyleKitButton.hpp"

#include <QPainter>

namespace tervolo::mapscreen {

StyleKitButton::StyleKitButton(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::NoFocus);
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
    paintWithButtonLayer(
        painter, QRectF(rect()), layer_,
        [this](platform::GraphicsContext& context, const QRectF& frame) { draw(context, frame); });
}

}  // namespace tervolo::mapscreen
