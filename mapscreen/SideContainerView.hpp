#pragma once

#include <QPointF>
#include <QWidget>

#include "platform/ui/LayoutConstraint.hpp"

namespace tervolo::mapscreen {

// The map screen's button column: a transparent view over the map's right edge
// that holds the map buttons. Only its buttons take the mouse: a click (press,
// move, wheel) on the column's empty background goes to the map below, as if
// the column were not there. It keeps its own constraints; the screen finds
// the column's width among them under kWidthConstraintIdentifier. Main thread
// only; lengths in points.
class SideContainerView : public QWidget {
    Q_OBJECT

  public:
    static constexpr const char* kWidthConstraintIdentifier = "sideContainerWidth";

    explicit SideContainerView(QWidget* parent = nullptr);

    platform::LayoutConstraintList& constraints() { return constraints_; }
    const platform::LayoutConstraintList& constraints() const { return constraints_; }

    // The view a click at `point` (the column's coordinates) reaches inside the
    // column: the visible child under it, or none when the point lies on the
    // column's own background (or outside it).
    QWidget* hitTest(QPointF point) const;

  protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Qt routes the mouse by widget masks: the column's mask is the union of
    // its visible children, so everything outside them falls through to the
    // widget beneath.
    void updateHitMask();

    platform::LayoutConstraintList constraints_;
};

}  // namespace tervolo::mapscreen
