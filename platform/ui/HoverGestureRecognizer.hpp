#pragma once

#include "platform/ui/GestureRecognizer.hpp"

namespace platform {

// Reports the pointer over the widget with no button pressed: Began when it enters, Changed as it
// moves, Ended when it leaves. It does not compete with the other recognisers. Main thread only.
class HoverGestureRecognizer : public GestureRecognizer {
    Q_OBJECT

  public:
    using GestureRecognizer::GestureRecognizer;

  protected:
    void pressed(QPointF, double) override {}
    void moved(QPointF, double) override {}
    void released(QPointF, double) override {}
    void hovered(QEvent::Type type, QPointF position) override;
    bool competes() const override { return false; }
};

}  // namespace platform
