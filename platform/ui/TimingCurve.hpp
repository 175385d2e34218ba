#pragma once

#include <optional>

#include "platform/ui/SpringParameters.hpp"

namespace platform {

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

}  // namespace platform
