#pragma once

#include "platform/ui/ShapeLayer.hpp"
#include "widgets/hud/HUDAnimating.hpp"
#include "widgets/hud/HUDSquareBaseView.hpp"

namespace tervolo::widgets::hud {

// The square panel with a drawn check mark: a dark grey stroke 6 points wide, with round ends and
// joint, from (38, 77) down to (68, 106) and up to (122, 50) in panel points (the mark's 88 × 56 box
// centred on the panel's middle). startAnimation draws the mark in 0.35 s; it then stays.
// Main thread only.
class HUDSuccessView : public HUDSquareBaseView, public HUDAnimating {
    Q_OBJECT

  public:
    explicit HUDSuccessView(const std::optional<std::string>& title = std::nullopt,
                            const std::optional<std::string>& subtitle = std::nullopt,
                            QWidget* parent = nullptr);
    ~HUDSuccessView() override;

    // The mark as drawn now (its strokeEnd moves while it draws itself).
    const platform::ShapeLayer& checkmarkShapeLayer() const { return checkmarkShapeLayer_; }

    void startAnimation() override;
    bool hasStopAnimation() const override { return true; }
    void stopAnimation() override;

    static constexpr const char* kAnimationKey = "checkmarkStrokeAnimation";

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    platform::ShapeLayer checkmarkShapeLayer_;
};

}  // namespace tervolo::widgets::hud
