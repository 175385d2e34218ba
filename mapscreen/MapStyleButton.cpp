#include "mapscreen/MapStyleButton.hpp"

#include "mapscreen/TervoloButtonKit.hpp"

namespace tervolo::mapscreen {

void MapStyleButton::draw(platform::GraphicsContext& context, const QRectF& rect) {
    TervoloButtonKit::drawMapStyleButton(context, QRectF(0, 0, rect.width(), rect.height()),
                                         TervoloButtonKit::ResizingBehavior::proportionalFill);
}

}  // namespace tervolo::mapscreen
