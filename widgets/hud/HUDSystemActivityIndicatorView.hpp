#pragma once

#include "widgets/hud/HUDAnimating.hpp"
#include "widgets/hud/HUDSquareBaseView.hpp"

namespace platform {
class ActivityIndicator;
}

namespace tervolo::widgets::hud {

// The square panel with the platform's large spinning wheel, black, in its middle and nothing else
// (no picture, no texts). startAnimation starts the wheel; there is no stop. Main thread only.
class HUDSystemActivityIndicatorView : public HUDSquareBaseView, public HUDAnimating {
    Q_OBJECT

  public:
    explicit HUDSystemActivityIndicatorView(QWidget* parent = nullptr);
    explicit HUDSystemActivityIndicatorView(const QRect& frame, QWidget* parent = nullptr);

    platform::ActivityIndicator* activityIndicatorView() const { return activityIndicatorView_; }

    void startAnimation() override;

  protected:
    void layoutSubviews() override;

  private:
    void setUp();

    platform::ActivityIndicator* activityIndicatorView_ = nullptr;
};

}  // namespace tervolo::widgets::hud
