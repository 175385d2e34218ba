#pragma once

#include "mapscreen/StyleKitButton.hpp"

namespace tervolo::mapscreen {

// The map button for zooming in: a plus, drawn by the button kit to fill the button. Main thread only.
class ZoomInButton : public StyleKitButton {
    Q_OBJECT

  public:
    using StyleKitButton::StyleKitButton;

  protected:
    void draw(platform::GraphicsContext& context, const QRectF& rect) override;
};

}  // namespace tervolo::mapscreen
