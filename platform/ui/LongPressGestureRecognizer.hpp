#pragma once

#include <cstdint>

#include "platform/ui/GestureRecognizer.hpp"

namespace platform {

// A continuous gesture: begins once the button has been held for minimumPressDuration without moving
// more than allowableMovement, reports Changed on every move after that and Ended on release.
// Releasing or moving too far before it began makes it fail. Its actions run on each of those state
// changes, so they must not assume they run once. Main thread only.
class LongPressGestureRecognizer : public GestureRecognizer {
    Q_OBJECT

  public:
    using GestureRecognizer::GestureRecognizer;

    double minimumPressDuration() const { return minimumPressDuration_; }  // seconds, default 0.5
    void setMinimumPressDuration(double seconds) { minimumPressDuration_ = seconds; }
    double allowableMovement() const { return allowableMovement_; }  // pixels, default 10
    void setAllowableMovement(double pixels) { allowableMovement_ = pixels; }

  protected:
    void pressed(QPointF position, double seconds) override;
    void moved(QPointF position, double seconds) override;
    void released(QPointF position, double seconds) override;

  private:
    double minimumPressDuration_ = 0.5;
    double allowableMovement_ = 10;
    QPointF origin_;
    uint64_t pressGeneration_ = 0;  // a timer from an earlier press does nothing
};

}  // namespace platform
