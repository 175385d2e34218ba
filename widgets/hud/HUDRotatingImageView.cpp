#include "widgets/hud/HUDRotatingImageView.hpp"

#include "widgets/hud/HUDAnimation.hpp"

namespace tervolo::widgets::hud {

HUDRotatingImageView::HUDRotatingImageView(const platform::NamedImage& image,
                                           const std::optional<std::string>& title,
                                           const std::optional<std::string>& subtitle, QWidget* parent)
    : HUDSquareBaseView(image, title, subtitle, parent) {}

HUDRotatingImageView::HUDRotatingImageView(const QRect& frame, QWidget* parent)
    : HUDSquareBaseView(frame, parent) {}

void HUDRotatingImageView::startAnimation() {
    HUDAnimation::turn(imageView(), HUDAnimation::smoothRotation());
}

}  // namespace tervolo::widgets::hud
