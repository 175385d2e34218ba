#include "platform/ui/LongPressGestureRecognizer.hpp"

#include <QLineF>
#include <QPointer>

#include "platform/dispatch/DispatchQueue.hpp"

namespace platform {

namespace {

double distance(QPointF a, QPointF b) {
    return QLineF(a, b).length();
}

}  // namespace

void LongPressGestureRecognizer::pressed(QPointF position, double) {
    origin_ = position;
    const uint64_t generation = ++pressGeneration_;
    QPointer<LongPressGestureRecognizer> self(this);
    DispatchQueue::main()->asyncAfter(minimumPressDuration_, [self, generation] {
        if (!self || self->pressGeneration_ != generation || !self->isPressed()) return;
        self->tryToRecognize(State::Began);
    });
}

void LongPressGestureRecognizer::moved(QPointF position, double) {
    if (state() == State::Possible) {
        if (distance(position, origin_) > allowableMovement_)
            fail();
        else
            setLocation(position);
        return;
    }
    if (state() == State::Began || state() == State::Changed) {
        setLocation(position);
        report(State::Changed);
    }
}

void LongPressGestureRecognizer::released(QPointF position, double) {
    ++pressGeneration_;
    if (state() == State::Began || state() == State::Changed) {
        setLocation(position);
        report(State::Ended);
    } else {
        fail();
    }
}

}  // namespace platform
