#pragma once

#include "widgets/hud/HUDAnimating.hpp"
#include "widgets/hud/HUDSquareBaseView.hpp"

namespace tervolo::widgets::hud {

// The square panel with the caller's picture, which startAnimation turns evenly, once every 1.2 s,
// until the panel goes away: stopping leaves it turning. Main thread only.
class HUDRotatingImageView : public HUDSquareBaseView, public HUDAnimating {
    Q_OBJECT

  public:
    HUDRotatingImageView(const platform::NamedImage& image, const std::optional<std::string>& title,
                         const std::optional<std::string>& subtitle, QWidget* parent = nullptr);
    explicit HUDRotatingImageView(const QRect& frame, QWidget* parent = nullptr);

    void startAnimation() override;
    bool hasStopAnimation() const override { return true; }
    void stopAnimation() override {}
};

}  // namespace tervolo::widgets::hud
