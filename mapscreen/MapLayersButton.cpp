#include "mapscreen/MapLayersButton.hpp"

#include "mapscreen/TervoloButtonKit.hpp"

namespace tervolo::mapscreen {

void MapLayersButton::draw(platform::GraphicsContext& context, const QRectF& rect) {
    TervoloButtonKit::drawMapLayersButton(context, QRectF(0, 0, rect.width(), rect.height()),
                                          TervoloButtonKit::ResizingBehavior::proportionalFill);
}

}  // namespace tervolo::mapscreen
