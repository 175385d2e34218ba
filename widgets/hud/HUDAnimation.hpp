#pragma once

#include "platform/ui/Animation.hpp"

namespace tervolo::widgets::hud {

class HUDImageView;

// The two endless turns of the HUD's progress pictures, as Animator keyed animations of an angle in
// radians (0 → 2π every 1.2 s, repeating until removed). Users copy one and set its `apply`. Built
// once; main thread only (as the Animator).
class HUDAnimation {
  public:
    // Jumps in twelve 30° steps, one every 0.1 s.
    static const platform::Animation& discreteRotation();
    // Turns evenly.
    static const platform::Animation& smoothRotation();

    // Turns `picture` with `rotation` (one of the two above) under kAnimationKey, replacing a turn
    // already running; it runs until removed or the picture goes away.
    static void turn(HUDImageView* picture, const platform::Animation& rotation);

    static constexpr double kTurnDuration = 1.2;  // seconds per full turn
    static constexpr const char* kAnimationKey = "progressAnimation";
};

}  // namespace tervolo::widgets::hud
