#include "platform/ui/HoverGestureRecognizer.hpp"

namespace platform {

void HoverGestureRecognizer::hovered(QEvent::Type type, QPointF position) {
    setLocation(position);
    switch (type) {
        case QEvent::HoverEnter:
            if (state() != GestureState::Began && state() != GestureState::Changed) {
                resetToPossible();
                tryToRecognize(GestureState::Began);
            }
            break;
        case QEvent::HoverMove:
            if (state() == GestureState::Began || state() == GestureState::Changed)
                report(GestureState::Changed);
            break;
        case QEvent::HoverLeave:
            if (state() == GestureState::Began || state() == GestureState::Changed)
                report(GestureState::Ended);
            break;
        default:
            break;
    }
}

}  // namespace platform
