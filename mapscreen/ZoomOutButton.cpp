#include "mapscreen/ZoomOutButton.hpp"

#include "mapscreen/TervoloButtonKit.hpp"

namespace tervolo::mapscreen {

void ZoomOutButton::draw(platform::GraphicsContext& context, const QRectF& rect) {
    TervoloButtonKit::drawZoomOutButton(context, QRectF(0, 0, rect.width(), rect.height()),
                                        TervoloButtonKit::ResizingBehavior::proportionalFill);
}

}  // namespace tervolo::mapscreen
