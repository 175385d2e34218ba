#pragma once

#include <functional>

namespace platform {

// The one place where presentation and navigation transitions meet the
// animation machinery. A transition hands over its visual change and a
// completion; the animator applies the change (at once or over `duration`)
// and calls the completion with whether it ran to its end. Animated
// transitions go through Animator (Animator.hpp) unless another animator is
// installed here (tests hold completions to look between the "will" and
// "did" calls); non-animated ones run the change and then the completion
// inside the call. Main thread only.
//
// An animator may finish later (on the main queue, a timer or a virtual
// clock); the view controllers queue further presentations until then.
using PresentationAnimator = std::function<void(double duration, std::function<void()> changes,
                                                std::function<void(bool finished)> completion)>;

// Seconds an animated presentation, dismissal, push or pop takes.
inline constexpr double kPresentationTransitionDuration = 0.3;

// Installs the animator for every later animated transition; an empty one
// restores Animator. Returns the one it replaces.
PresentationAnimator setPresentationAnimator(PresentationAnimator animator);

// `animated` false: changes(), then completion(true), before returning.
void animatePresentationTransition(bool animated, double duration, std::function<void()> changes,
                                   std::function<void(bool finished)> completion);

}  // namespace platform
