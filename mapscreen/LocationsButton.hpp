#pragma once

#include "mapscreen/StyleKitButton.hpp"

namespace tervolo::mapscreen {

// The map button for the point list: three pins, drawn by the button kit to fill the button. Main thread
// only.
class LocationsButton : public StyleKitButton {
    Q_OBJECT

  public:
    using StyleKitButton::StyleKitButton;

  protected:
    void draw(platform::GraphicsContext& context, const QRectF& rect) override;
};

}  // namespace tervolo::mapscreen
