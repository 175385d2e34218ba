#include "mapscreen/AddLocationButton.hpp"

#include "mapscreen/TervoloButtonKit.hpp"

namespace tervolo::mapscreen {

void AddLocationButton::draw(platform::GraphicsContext& context, const QRectF& rect) {
    TervoloButtonKit::drawAddLocationButton(context, QRectF(0, 0, rect.width(), rect.height()),
                                            TervoloButtonKit::ResizingBehavior::proportionalFill);
}

}  // namespace tervolo::mapscreen
