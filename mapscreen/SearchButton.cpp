#include "mapscreen/SearchButton.hpp"

#include "mapscreen/TervoloButtonKit.hpp"

namespace tervolo::mapscreen {

void SearchButton::draw(platform::GraphicsContext& context, const QRectF& rect) {
    TervoloButtonKit::drawSearchButton(context, QRectF(0, 0, rect.width(), rect.height()),
                                       TervoloButtonKit::ResizingBehavior::proportionalFill);
}

}  // namespace tervolo::mapscreen
