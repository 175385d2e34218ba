#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/Animation.hpp"

class QObject;

namespace platform {

// Runs every animation of the program: block animations in the manner of the platform the program
// came from (model values change at once, the screen catches up, the completion runs at the end),
// and keyed animations of one value. Frames come from a main-queue timer at 60 Hz, so under a
// VirtualClock (tests) the animations advance only with VirtualClock::advance and completions run
// exactly when the clock passes their end. Main thread only.
//
//   Animator::animate(0.3, [&] { setAlpha(label, 0); },
//                     [&](bool finished) { label->hide(); });
//   // alpha(label) == 0 here; the label fades over 0.3 s, then hides.
//
// Order: completions that fall due at the same time run in the order their animations began (an
// outer block animation before one nested in its changes). Removing or replacing an animation runs
// its completion at once with finished = false; when that happens inside a block's changes, once the
// outermost block's changes have run, so the completion's own changes are not animated with them.
class Animator {
  public:
    enum class Curve { EaseInOut, EaseIn, EaseOut, Linear };
    // Options of a block animation.
    struct Options {
        Curve curve = Curve::EaseInOut;
        bool repeat = false;       // runs until removed; the completion then gets finished = false
        bool autoreverse = false;  // each repetition runs forwards, then backwards
    };

    // Runs `changes` now. Every animatable value changed inside it through setValue (or the widget
    // helpers in AnimationWidget.hpp) moves from its current presentation value to the new one over
    // `duration` seconds after `delay`. The completion runs once the animation ends, even when
    // nothing animatable changed. Calls may nest; an inner call uses its own timing.
    static void animate(double duration, double delay, Options options, std::function<void()> changes,
                        AnimationCompletion completion = {});
    static void animate(double duration, std::function<void()> changes, AnimationCompletion completion = {});
    // The same with a spring of `dampingRatio` that settles within `duration`.
    static void animateWithSpring(double duration, double delay, double dampingRatio, double initialVelocity,
                                  Options options, std::function<void()> changes,
                                  AnimationCompletion completion = {});
    // Runs `changes` with every value changing at once, even inside an animation block.
    static void performWithoutAnimation(const std::function<void()>& changes);

    // Reports a change of `owner`'s `property` to `to`. The caller has already stored the model
    // value; `current` is what the screen shows now. Inside an animation block the value is
    // animated (from the presentation value of a running animation of the same property, which is
    // replaced, else from `current`); otherwise, or in immediate mode, `apply(to)` runs at once.
    static void setValue(QObject* owner, const std::string& property, const AnimatableValue& current,
                         const AnimatableValue& to, std::function<void(const AnimatableValue&)> apply);
    // True while the changes of an animation block run (and animation is on).
    static bool inAnimationBlock();

    // Adds a keyed animation to `owner`, replacing (finished = false) one under the same key.
    static void add(QObject* owner, const std::string& key, Animation animation);
    // Removes keyed and block animations of `owner` (of one key / property, or all); each removed
    // animation applies its final or resting value and its completion gets finished = false.
    static void remove(QObject* owner, const std::string& key);
    static void removeAll(QObject* owner);
    // Keys of the keyed animations and properties of the block animations running on `owner`.
    static std::vector<std::string> animationKeys(QObject* owner);
    // The value on screen of a property or key that is animating.
    static std::optional<AnimatableValue> presentationValue(QObject* owner, const std::string& key);

    // Immediate mode: block animations apply their values and run their completions (finished =
    // true) before animate() returns; keyed animations jump to their end, except those that repeat
    // forever, which stay registered without running. Switching it on finishes what is running.
    static void setImmediate(bool immediate);
    static bool isImmediate();

    // Animations currently registered (tests and diagnostics).
    static size_t runningCount();
    static constexpr double kFrameInterval = 1.0 / 60.0;
};

// Switches animations to immediate mode for its lifetime and puts back the previous mode.
class ImmediateAnimationsScope {
  public:
    ImmediateAnimationsScope();
    ~ImmediateAnimationsScope();
    ImmediateAnimationsScope(const ImmediateAnimationsScope&) = delete;
    ImmediateAnimationsScope& operator=(const ImmediateAnimationsScope&) = delete;

  private:
    bool previous_;
};

}  // namespace platform
