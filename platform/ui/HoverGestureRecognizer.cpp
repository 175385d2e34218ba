#include "platform/ui/HoverGestureRecognizer.hpp"

namespace platform {

void HoverGestureRecognizer::hovered(QEvent::Type type, QPointF position) {
    setLocation(position);
    switch (type) {
        case QEvent::HoverEnter:
            if (state() != State::Began && state() != State::Changed) {
                resetToPossible();
                tryToRecognize(State::Began);
            }
            break;
        case QEvent::HoverMove:
            if (state() == State::Began || state() == State::Changed) report(State::Changed);
            break;
        case QEvent::HoverLeave:
            if (state() == State::Began || state() == State::Changed) report(State::Ended);
            break;
        default:
            break;
    }
}

}  // namespace platform
