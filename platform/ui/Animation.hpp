#pragma once

#include <QColor>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QTransform>

#include <functional>
#include <optional>
#include <variant>
#include <vector>

#include "platform/ui/TimingCurve.hpp"

namespace platform {

// A value an animation moves between. Transforms interpolate component by component, which is exact
// for scales and translations; a rotation is animated as an angle (a double) by the widget that
// paints it.
using AnimatableValue = std::variant<double, QPointF, QSizeF, QRectF, QTransform, QColor>;

// `from` when t = 0, `to` when t = 1; t outside [0, 1] extrapolates (a spring overshoots). Values of
// different kinds give `to`.
AnimatableValue interpolate(const AnimatableValue& from, const AnimatableValue& to, double t);

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

}  // namespace platform
