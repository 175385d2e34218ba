#pragma once

#include <QColor>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QTransform>

#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

class QObject;

namespace platform {

// A value an animation moves between. Transforms interpolate component by component, which is exact
// for scales and translations; a rotation is animated as an angle (a double) by the widget that
// paints it.
using AnimatableValue = std::variant<double, QPointF, QSizeF, QRectF, QTransform, QColor>;

// `from` when t = 0, `to` when t = 1; t outside [0, 1] extrapolates (a spring overshoots). Values of
// different kinds give `to`.
AnimatableValue interpolate(const AnimatableValue& from, const AnimatableValue& to, double t);

// A damped spring from 0 to 1: mass (kg-like units), stiffness and damping coefficients, and the
// initial velocity in whole distances per second (positive moves towards the target).
struct SpringParameters {
    double mass = 1.0;
    double stiffness = 100.0;
    double damping = 10.0;
    double initialVelocity = 0.0;

    // The spring a duration-based spring animation uses: it responds within `duration` seconds with
    // `dampingRatio` (1 = no overshoot, 0.7 = a slight one). `initialVelocity` as above.
    static SpringParameters withDuration(double duration, double dampingRatio, double initialVelocity);
    double dampingRatio() const;
    // Seconds until the distance to the target stays below 0.001 of the whole distance (≤ 60 s).
    double settlingDuration() const;
};

// How progress maps onto time. Bezier curves take the fraction of the duration; a spring takes
// seconds since the start (its shape is physical) and is forced to 1 at the animation's end.
class TimingCurve {
  public:
    static TimingCurve linear();
    static TimingCurve easeIn();     // (0.42, 0, 1, 1)
    static TimingCurve easeOut();    // (0, 0, 0.58, 1)
    static TimingCurve easeInOut();  // (0.42, 0, 0.58, 1)
    static TimingCurve cubicBezier(double x1, double y1, double x2, double y2);
    static TimingCurve spring(SpringParameters parameters);

    // Progress (0 → 1, a spring may leave the range) at `elapsed` seconds of `duration`.
    double valueAt(double elapsed, double duration) const;
    bool isSpring() const { return spring_.has_value(); }
    const std::optional<SpringParameters>& springParameters() const { return spring_; }

  private:
    double x1_ = 0, y1_ = 0, x2_ = 1, y2_ = 1;
    std::optional<SpringParameters> spring_;
};

// Closed-form displacement of the unit spring: the value (0 at t = 0, tending to 1) at `t` seconds.
double springValue(const SpringParameters& spring, double t);

enum class AnimationCurve { EaseInOut, EaseIn, EaseOut, Linear };

// Options of a block animation.
struct AnimationOptions {
    AnimationCurve curve = AnimationCurve::EaseInOut;
    bool repeat = false;       // runs until removed; the completion then gets finished = false
    bool autoreverse = false;  // each repetition runs forwards, then backwards
};

// `finished` is true when the animation ran to its end, false when it was removed or replaced first.
using AnimationCompletion = std::function<void(bool finished)>;

// A keyed animation of one value of an owner (see Animator::add). The model value is the owner's own
// business: the animation only shows presentation values through `apply`, and applies `restingValue`
// (when given) once it ends or is removed.
struct Animation {
    AnimatableValue from = 0.0;
    AnimatableValue to = 1.0;
    // Keyframes: when not empty they replace from/to. `keyTimes` (fractions of the duration, rising,
    // one per value) default to even spacing: i/n when discrete, i/(n-1) otherwise. Discrete
    // keyframes hold each value until the next key time.
    std::vector<AnimatableValue> values;
    std::vector<double> keyTimes;
    bool discrete = false;

    TimingCurve curve = TimingCurve::linear();
    double duration = 0.25;  // seconds of one pass
    double delay = 0;        // seconds before the first pass
    // Passes to run (fractions allowed); 0 means one. At least 2^31, or infinity: until removed.
    double repeatCount = 0;
    bool autoreverses = false;

    std::function<void(const AnimatableValue&)> apply;
    std::optional<AnimatableValue> restingValue;
    AnimationCompletion completion;

    static Animation basic(AnimatableValue from, AnimatableValue to, double duration);
    static Animation keyframes(std::vector<AnimatableValue> values, double duration, bool discrete);
    // Lasts the spring's settling duration.
    static Animation spring(AnimatableValue from, AnimatableValue to, SpringParameters parameters);

    // The presentation value `elapsed` seconds after the start (delay included).
    AnimatableValue valueAt(double elapsed) const;
    bool repeatsForever() const;
    // Seconds from the start until the animation ends (infinity when it repeats forever).
    double activeDuration() const;
};

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
// its completion at once with finished = false.
class Animator {
  public:
    // Runs `changes` now. Every animatable value changed inside it through setValue (or the widget
    // helpers in AnimationWidget.hpp) moves from its current presentation value to the new one over
    // `duration` seconds after `delay`. The completion runs once the animation ends, even when
    // nothing animatable changed. Calls may nest; an inner call uses its own timing.
    static void animate(double duration, double delay, AnimationOptions options,
                        std::function<void()> changes, AnimationCompletion completion = {});
    static void animate(double duration, std::function<void()> changes, AnimationCompletion completion = {});
    // The same with a spring of `dampingRatio` that settles within `duration`.
    static void animateWithSpring(double duration, double delay, double dampingRatio, double initialVelocity,
                                  AnimationOptions options, std::function<void()> changes,
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
