#include "platform/ui/TapGestureRecognizer.hpp"

#include <QLineF>

#include "platform/ui/LongPressGestureRecognizer.hpp"

namespace platform {

namespace {

double distance(QPointF a, QPointF b) {
    return QLineF(a, b).length();
}

}  // namespace

void TapGestureRecognizer::pressed(QPointF position, double seconds) {
    if (taps_ > 0 && seconds - releasedAt_ > kMultiTapInterval) taps_ = 0;
    if (taps_ == 0) origin_ = position;
    pressedAt_ = seconds;
}

void TapGestureRecognizer::moved(QPointF position, double) {
    if (state() == State::Possible && distance(position, origin_) > kMovementTolerance) {
        taps_ = 0;
        fail();
    }
}

void TapGestureRecognizer::released(QPointF position, double seconds) {
    if (state() != State::Possible || distance(position, origin_) > kMovementTolerance) {
        taps_ = 0;
        fail();
        return;
    }
    const double held = seconds - pressedAt_;
    for (auto* other : gestureRecognizers(view())) {
        auto* longPress = qobject_cast<LongPressGestureRecognizer*>(other);
        if (longPress && longPress->isEnabled() && held >= longPress->minimumPressDuration()) {
            taps_ = 0;
            fail();
            return;
        }
    }
    releasedAt_ = seconds;
    if (++taps_ < tapsRequired_) return;
    taps_ = 0;
    setLocation(position);
    tryToRecognize(State::Ended);
}

}  // namespace platform
