#include "platform/ui/Animation.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace platform {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kForeverRepeatCount = 2147483648.0;  // 2^31

double lerp(double a, double b, double t) {
    return a + (b - a) * t;
}

struct Interpolator {
    double t;
    AnimatableValue operator()(double a, double b) const { return lerp(a, b, t); }
    AnimatableValue operator()(const QPointF& a, const QPointF& b) const {
        return QPointF(lerp(a.x(), b.x(), t), lerp(a.y(), b.y(), t));
    }
    AnimatableValue operator()(const QSizeF& a, const QSizeF& b) const {
        return QSizeF(lerp(a.width(), b.width(), t), lerp(a.height(), b.height(), t));
    }
    AnimatableValue operator()(const QRectF& a, const QRectF& b) const {
        return QRectF(lerp(a.x(), b.x(), t), lerp(a.y(), b.y(), t), lerp(a.width(), b.width(), t),
                      lerp(a.height(), b.height(), t));
    }
    AnimatableValue operator()(const QTransform& a, const QTransform& b) const {
        return QTransform(lerp(a.m11(), b.m11(), t), lerp(a.m12(), b.m12(), t), lerp(a.m13(), b.m13(), t),
                          lerp(a.m21(), b.m21(), t), lerp(a.m22(), b.m22(), t), lerp(a.m23(), b.m23(), t),
                          lerp(a.m31(), b.m31(), t), lerp(a.m32(), b.m32(), t), lerp(a.m33(), b.m33(), t));
    }
    AnimatableValue operator()(const QColor& a, const QColor& b) const {
        const QColor ra = a.toRgb(), rb = b.toRgb();
        auto channel = [&](double x, double y) { return std::clamp(lerp(x, y, t), 0.0, 1.0); };
        return QColor::fromRgbF(static_cast<float>(channel(ra.redF(), rb.redF())),
                                static_cast<float>(channel(ra.greenF(), rb.greenF())),
                                static_cast<float>(channel(ra.blueF(), rb.blueF())),
                                static_cast<float>(channel(ra.alphaF(), rb.alphaF())));
    }
    template <typename A, typename B>
    AnimatableValue operator()(const A&, const B& b) const {
        return b;
    }
};

}  // namespace

AnimatableValue interpolate(const AnimatableValue& from, const AnimatableValue& to, double t) {
    return std::visit(Interpolator{t}, from, to);
}

Animation Animation::basic(AnimatableValue from, AnimatableValue to, double duration) {
    Animation animation;
    animation.from = std::move(from);
    animation.to = std::move(to);
    animation.duration = duration;
    return animation;
}

Animation Animation::keyframes(std::vector<AnimatableValue> values, double duration, bool discrete) {
    Animation animation;
    animation.values = std::move(values);
    animation.duration = duration;
    animation.discrete = discrete;
    return animation;
}

Animation Animation::spring(AnimatableValue from, AnimatableValue to, SpringParameters parameters) {
    Animation animation = basic(std::move(from), std::move(to), parameters.settlingDuration());
    animation.curve = TimingCurve::spring(parameters);
    return animation;
}

bool Animation::repeatsForever() const {
    return std::isinf(repeatCount) || repeatCount >= kForeverRepeatCount;
}

double Animation::activeDuration() const {
    if (repeatsForever()) return kInfinity;
    const double passes = repeatCount > 0 ? repeatCount : 1.0;
    return delay + std::max(duration, 0.0) * passes * (autoreverses ? 2 : 1);
}

AnimatableValue Animation::valueAt(double elapsed) const {
    double local = elapsed - delay;
    double passTime = 0;  // seconds into the current pass, running backwards on a reversed pass
    if (local <= 0 || duration <= 0) {
        passTime = local <= 0 ? 0 : duration;
    } else if (local >= activeDuration() - delay) {
        // Ended: the last pass's end, which is the start when it was a reversed pass.
        const double passes = (repeatCount > 0 ? repeatCount : 1.0) * (autoreverses ? 2 : 1);
        const double whole = std::ceil(passes - 1e-9);
        const double fraction = passes - (whole - 1);
        const bool backwards = autoreverses && static_cast<long long>(whole - 1) % 2 == 1;
        passTime = (backwards ? 1 - fraction : fraction) * duration;
        if (fraction >= 1 - 1e-9) passTime = backwards ? 0 : duration;
    } else {
        const double pass = std::floor(local / duration);
        passTime = local - pass * duration;
        if (autoreverses && static_cast<long long>(pass) % 2 == 1) passTime = duration - passTime;
    }

    if (values.empty()) return interpolate(from, to, curve.valueAt(passTime, duration));
    if (values.size() == 1) return values.front();
    const double progress = curve.valueAt(passTime, duration);
    const size_t n = values.size();
    auto keyTime = [&](size_t i) {
        if (keyTimes.size() == n) return keyTimes[i];
        return discrete ? static_cast<double>(i) / static_cast<double>(n)
                        : static_cast<double>(i) / static_cast<double>(n - 1);
    };
    size_t index = 0;
    while (index + 1 < n && progress >= keyTime(index + 1)) ++index;
    if (discrete || index + 1 >= n) return values[index];
    const double span = keyTime(index + 1) - keyTime(index);
    const double t = span > 0 ? (progress - keyTime(index)) / span : 1.0;
    return interpolate(values[index], values[index + 1], t);
}

}  // namespace platform
