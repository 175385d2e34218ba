#include "mapscreen/LocationsButton.hpp"

#include "mapscreen/TervoloButtonKit.hpp"

namespace tervolo::mapscreen {

void LocationsButton::draw(platform::GraphicsContext& context, const QRectF& rect) {
    TervoloButtonKit::drawLocationsButton(context, QRectF(0, 0, rect.width(), rect.height()),
                                          TervoloButtonKit::ResizingBehavior::proportionalFill);
}

}  // namespace tervolo::mapscreen
