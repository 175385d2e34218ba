#include "mapscreen/CenterButton.hpp"

#include <QPainter>

#include "mapscreen/TervoloButtonKit.hpp"
#include "platform/foundation/UserDefaults.hpp"

namespace tervolo::mapscreen {

CenterButton::CenterButton(QWidget* parent) : QWidget(parent) {}

void CenterButton::setTintColor(const QColor& color) {
    if (tintColor_ == color) return;
    tintColor_ = color;
    update();
}

void CenterButton::setLayer(const ButtonLayer& layer) {
    if (layer_ == layer) return;
    layer_ = layer;
    update();
}

void CenterButton::paintEvent(QPaintEvent*) {
    // Read at every paint: the screen changes the stored mode and asks for a repaint, nothing else.
    const int64_t mode = platform::UserDefaults::standard().integerValue(kTrackingModeKey).value_or(0);
    QPainter painter(this);
    paintWithButtonLayer(painter, QRectF(rect()), layer_,
                         [mode](platform::GraphicsContext& context, const QRectF& frame) {
                             constexpr auto fill = TervoloButtonKit::ResizingBehavior::proportionalFill;
                             if (mode == 2) {
                                 TervoloButtonKit::drawLocationArrowBearing(context, frame, fill);
                             } else {
                                 TervoloButtonKit::drawLocationArrow(context, frame, fill, mode == 1);
                             }
                         });
}

}  // namespace tervolo::mapscreen
