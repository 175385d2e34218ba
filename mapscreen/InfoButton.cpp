#include "mapscreen/InfoButton.hpp"

#include "mapscreen/TervoloButtonKit.hpp"

namespace tervolo::mapscreen {

void InfoButton::draw(platform::GraphicsContext& context, const QRectF& rect) {
    TervoloButtonKit::drawInfoButton(context, QRectF(0, 0, rect.width(), rect.height()),
                                     TervoloButtonKit::ResizingBehavior::proportionalFill);
}

}  // namespace tervolo::mapscreen
