#pragma once

#include "mapscreen/StyleKitButton.hpp"

namespace tervolo::mapscreen {

// The map button for the map layers: three stacked plates, drawn by the button kit to fill the button. Main
// thread only.
class MapLayersButton : public StyleKitButton {
    Q_OBJECT

  public:
    using StyleKitButton::StyleKitButton;

  protected:
    void draw(platform::GraphicsContext& context, const QRectF& rect) override;
};

}  // namespace tervolo::mapscreen
