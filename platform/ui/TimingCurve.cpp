#include "platform/ui/TimingCurve.hpp"

#include <algorithm>
#include <cmath>

namespace platform {

namespace {

// One coordinate of a cubic Bezier from (0,0) to (1,1) with control values p1 and p2.
double bezier(double p1, double p2, double s) {
    const double u = 1 - s;
    return 3 * u * u * s * p1 + 3 * u * s * s * p2 + s * s * s;
}

double bezierSlope(double p1, double p2, double s) {
    const double u = 1 - s;
    return 3 * u * u * p1 + 6 * u * s * (p2 - p1) + 3 * s * s * (1 - p2);
}

}  // namespace

TimingCurve TimingCurve::linear() {
    return cubicBezier(0, 0, 1, 1);
}
TimingCurve TimingCurve::easeIn() {
    return cubicBezier(0.42, 0, 1, 1);
}
TimingCurve TimingCurve::easeOut() {
    return cubicBezier(0, 0, 0.58, 1);
}
TimingCurve TimingCurve::easeInOut() {
    return cubicBezier(0.42, 0, 0.58, 1);
}

TimingCurve TimingCurve::cubicBezier(double x1, double y1, double x2, double y2) {
    TimingCurve curve;
    curve.x1_ = std::clamp(x1, 0.0, 1.0);
    curve.y1_ = y1;
    curve.x2_ = std::clamp(x2, 0.0, 1.0);
    curve.y2_ = y2;
    return curve;
}

TimingCurve TimingCurve::spring(SpringParameters parameters) {
    TimingCurve curve;
    curve.spring_ = parameters;
    return curve;
}

double TimingCurve::valueAt(double elapsed, double duration) const {
    if (spring_) return elapsed >= duration ? 1.0 : spring_->valueAt(elapsed);
    if (duration <= 0 || elapsed >= duration) return 1.0;
    if (elapsed <= 0) return 0.0;
    const double x = elapsed / duration;
    if (x1_ == y1_ && x2_ == y2_) return x;
    // Solve bezier_x(s) = x: Newton steps, falling back to bisection where the slope is flat.
    double s = x;
    for (int i = 0; i < 8; ++i) {
        const double error = bezier(x1_, x2_, s) - x;
        if (std::abs(error) < 1e-9) return bezier(y1_, y2_, s);
        const double slope = bezierSlope(x1_, x2_, s);
        if (std::abs(slope) < 1e-6) break;
        s -= error / slope;
    }
    double lo = 0, hi = 1;
    s = x;
    for (int i = 0; i < 60; ++i) {
        const double value = bezier(x1_, x2_, s);
        if (std::abs(value - x) < 1e-9) break;
        (value < x ? lo : hi) = s;
        s = (lo + hi) / 2;
    }
    return bezier(y1_, y2_, s);
}

}  // namespace platform
