#pragma once

namespace tervolo::widgets::hud {

// A content view that animates while the HUD shows it. The controller starts the animation when the
// content becomes visible (and again when the application returns to the foreground) and stops it
// when the HUD hides. Stopping is optional: the controller asks hasStopAnimation() first. Main thread
// only.
class HUDAnimating {
  public:
    virtual ~HUDAnimating() = default;
    virtual void startAnimation() = 0;
    virtual bool hasStopAnimation() const { return false; }
    virtual void stopAnimation() {}
};

}  // namespace tervolo::widgets::hud
