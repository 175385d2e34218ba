#include "platform/ui/PanGestureRecognizer.hpp"

#include <QLineF>
#include <QWidget>

namespace platform {

namespace {

double distance(QPointF a, QPointF b) {
    return QLineF(a, b).length();
}

}  // namespace

QPointF PanGestureRecognizer::translation(const QWidget* widget) const {
    if (!widget || !view() || widget == view()) return location() - origin_;
    return location(widget) - widget->mapFromGlobal(view()->mapToGlobal(origin_));
}

void PanGestureRecognizer::pressed(QPointF position, double seconds) {
    origin_ = position;
    velocity_ = {};
    lastMoveAt_ = seconds;
}

void PanGestureRecognizer::moved(QPointF position, double seconds) {
    const QPointF previous = location();
    const double elapsed = seconds - lastMoveAt_;
    lastMoveAt_ = seconds;
    if (state() == State::Possible) {
        if (distance(position, origin_) < kMinimumDistance) return;
        setLocation(position);
        tryToRecognize(State::Began);
        return;
    }
    if (state() != State::Began && state() != State::Changed) return;
    if (elapsed > 0) velocity_ = (position - previous) / elapsed;
    setLocation(position);
    report(State::Changed);
}

void PanGestureRecognizer::released(QPointF position, double) {
    if (state() == State::Began || state() == State::Changed) {
        setLocation(position);
        report(State::Ended);
    } else {
        fail();
    }
}

}  // namespace platform
