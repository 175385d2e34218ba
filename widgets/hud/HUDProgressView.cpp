#include "widgets/hud/HUDProgressView.hpp"

#include "widgets/hud/HUDAnimation.hpp"
#include "widgets/hud/HUDAssets.hpp"

namespace tervolo::widgets::hud {

HUDProgressView::HUDProgressView(const std::optional<std::string>& title,
                                 const std::optional<std::string>& subtitle, QWidget* parent)
    : HUDSquareBaseView(HUDAssets::progressActivityImage(), title, subtitle, parent) {}

void HUDProgressView::startAnimation() {
    HUDAnimation::turn(imageView(), HUDAnimation::discreteRotation());
}

}  // namespace tervolo::widgets::hud
