#pragma once

#include "platform/ui/GestureRecognizer.hpp"

namespace platform {

// A discrete gesture: recognised (Ended) on the release that completes the required number of taps.
// A tap fails when the pointer moves more than kMovementTolerance from where it was pressed, when
// taps are further apart than kMultiTapInterval, and when a press lasts at least the minimum of a
// long press attached to the same widget, so a long press never also counts as a tap. Main thread
// only.
class TapGestureRecognizer : public GestureRecognizer {
    Q_OBJECT

  public:
    using GestureRecognizer::GestureRecognizer;
    static constexpr double kMovementTolerance = 10;   // pixels
    static constexpr double kMultiTapInterval = 0.35;  // seconds from a release to the next press

    int numberOfTapsRequired() const { return tapsRequired_; }
    void setNumberOfTapsRequired(int taps) { tapsRequired_ = taps < 1 ? 1 : taps; }

  protected:
    void pressed(QPointF position, double seconds) override;
    void moved(QPointF position, double seconds) override;
    void released(QPointF position, double seconds) override;

  private:
    int tapsRequired_ = 1;
    int taps_ = 0;
    double pressedAt_ = 0;
    double releasedAt_ = 0;
    QPointF origin_;
};

}  // namespace platform
