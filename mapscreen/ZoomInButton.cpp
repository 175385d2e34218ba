#include "mapscreen/ZoomInButton.hpp"

#include "mapscreen/TervoloButtonKit.hpp"

namespace tervolo::mapscreen {

void ZoomInButton::draw(platform::GraphicsContext& context, const QRectF& rect) {
    TervoloButtonKit::drawZoomInButton(context, QRectF(0, 0, rect.width(), rect.height()),
                                       TervoloButtonKit::ResizingBehavior::proportionalFill);
}

}  // namespace tervolo::mapscreen
