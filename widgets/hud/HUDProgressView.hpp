#pragma once

#include "widgets/hud/HUDAnimating.hpp"
#include "widgets/hud/HUDSquareBaseView.hpp"

namespace tervolo::widgets::hud {

// The square panel with the kit's progress picture ("progress_activity"), which startAnimation turns
// in 30° steps, a full turn every 1.2 s, until the panel goes away: stopping leaves it turning.
// Main thread only.
class HUDProgressView : public HUDSquareBaseView, public HUDAnimating {
    Q_OBJECT

  public:
    explicit HUDProgressView(const std::optional<std::string>& title = std::nullopt,
                             const std::optional<std::string>& subtitle = std::nullopt,
                             QWidget* parent = nullptr);

    void startAnimation() override;
    bool hasStopAnimation() const override { return true; }
    void stopAnimation() override {}
};

}  // namespace tervolo::widgets::hud
