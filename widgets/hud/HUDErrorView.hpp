#pragma once

#include <functional>

#include "platform/ui/Animation.hpp"
#include "platform/ui/ShapeLayer.hpp"
#include "widgets/hud/HUDAnimating.hpp"
#include "widgets/hud/HUDSquareBaseView.hpp"

namespace tervolo::widgets::hud {

// The square panel with a drawn cross: two dark grey dashes 88 points long and 6 wide, with round
// ends, centred on the panel's middle. At rest (before startAnimation) they lie on top of each
// other, level; startAnimation turns the first to −45° and the second to +45° with a springy swing
// (the model angles change at once; the swing on screen lasts 1 s). Main thread only; angles in
// radians, clockwise on screen.
class HUDErrorView : public HUDSquareBaseView, public HUDAnimating {
    Q_OBJECT

  public:
    explicit HUDErrorView(const std::optional<std::string>& title = std::nullopt,
                          const std::optional<std::string>& subtitle = std::nullopt,
                          QWidget* parent = nullptr);
    ~HUDErrorView() override;

    const platform::ShapeLayer& dashOneLayer() const { return dashOneLayer_; }
    const platform::ShapeLayer& dashTwoLayer() const { return dashTwoLayer_; }
    // The dashes' turns as drawn now.
    double dashOneRotation() const { return dashOneShown_; }
    double dashTwoRotation() const { return dashTwoShown_; }

    void startAnimation() override;
    bool hasStopAnimation() const override { return true; }
    void stopAnimation() override;

    // One dash, 88 × 88 with the stroke across its middle.
    static platform::ShapeLayer generateDashLayer();
    // The swing of a dash from level to `degrees`: a spring (mass 0.22, stiffness 100, damping 1.5,
    // initial velocity 0.5) sampled over 1 s on an ease-in-ease-out clock. The animation's value is
    // that clock (0 → 1); `apply` receives the angle in radians.
    static platform::Animation rotationAnimation(double degrees, std::function<void(double radians)> apply);

    static constexpr const char* kDashOneKey = "dashOneAnimation";
    static constexpr const char* kDashTwoKey = "dashTwoAnimation";

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    platform::ShapeLayer dashOneLayer_;
    platform::ShapeLayer dashTwoLayer_;
    QPointF anchor_;           // the point both dashes turn about
    double dashOneModel_ = 0;  // the dashes' transforms (rotation about anchor_)
    double dashTwoModel_ = 0;
    double dashOneShown_ = 0;
    double dashTwoShown_ = 0;
};

}  // namespace tervolo::widgets::hud
