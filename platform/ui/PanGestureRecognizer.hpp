#pragma once

#include "platform/ui/GestureRecognizer.hpp"

namespace platform {

// A continuous gesture: begins when the pressed pointer has moved kMinimumDistance pixels (a mouse
// is precise, so less than a finger needs), reports Changed on each move and Ended on release.
// Beginning makes a long press that has not begun yet fail. Main thread only.
class PanGestureRecognizer : public GestureRecognizer {
    Q_OBJECT

  public:
    using GestureRecognizer::GestureRecognizer;
    static constexpr double kMinimumDistance = 5;  // pixels

    // Movement since the press, in `widget`'s coordinates (the view's when null).
    QPointF translation(const QWidget* widget = nullptr) const;
    // Pixels per second over the last move.
    QPointF velocity() const { return velocity_; }

  protected:
    void pressed(QPointF position, double seconds) override;
    void moved(QPointF position, double seconds) override;
    void released(QPointF position, double seconds) override;

  private:
    QPointF origin_;
    QPointF velocity_;
    double lastMoveAt_ = 0;
};

}  // namespace platform
