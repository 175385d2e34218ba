#include "platform/ui/PresentationAnimation.hpp"

#include "platform/ui/Animator.hpp"
#include "platform/ui/ViewControllerMainThread.hpp"

namespace platform {

namespace {

PresentationAnimator& installedAnimator() {
    static PresentationAnimator animator;  // main thread only
    return animator;
}

}  // namespace

PresentationAnimator setPresentationAnimator(PresentationAnimator animator) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    PresentationAnimator previous = std::move(installedAnimator());
    installedAnimator() = std::move(animator);
    return previous;
}

void animatePresentationTransition(bool animated, double duration, std::function<void()> changes,
                                   std::function<void(bool finished)> completion) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (animated && installedAnimator()) {
        // A copy: the animator may replace itself from inside a completion.
        PresentationAnimator animator = installedAnimator();
        animator(duration, std::move(changes), std::move(completion));
        return;
    }
    if (animated) {
        // The program's animation helper: immediate in its immediate mode,
        // on the main queue's (virtual) clock otherwise.
        Animator::animate(duration, std::move(changes), [completion = std::move(completion)](bool finished) {
            if (completion) completion(finished);
        });
        return;
    }
    if (changes) changes();
    if (completion) completion(true);
}

}  // namespace platform
