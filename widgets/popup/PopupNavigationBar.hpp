#pragma once

#include <QFont>
#include <QPointF>

#include <optional>

#include <memory>

#include "platform/ui/NavigationBar.hpp"
#include "widgets/popup/PopupNavigationTouchEventDelegate.hpp"

class QMouseEvent;

namespace tervolo::widgets::popup {

// A popup's navigation bar: a vertical drag that starts on the bar's own
// surface (the bar, its content or a view placed directly on it, such as the
// title) is reported to the touch delegate as offsets, which the popup uses to
// drag its card away. Controls on the bar keep their clicks. While the bar is
// draggable it takes every press that reaches it, so nothing behind it reacts;
// a bar that is not draggable behaves like the plain navigation bar.
// The mouse is the one touch; the touches* calls are the same path for
// synthetic touches. Main thread only.
class PopupNavigationBar : public platform::NavigationBar {
  public:
    // The look every popup bar made from then on takes (a process-wide
    // setting, as an appearance proxy is): the bar style (0 default), the
    // title's font and colour, and the font of the bar's button items. Bars
    // already made keep theirs. Main thread only.
    struct Appearance {
        int barStyle = 0;
        TitleTextAttributes titleTextAttributes;
        std::optional<QFont> barButtonItemFont;
    };
    static Appearance& appearance();

    explicit PopupNavigationBar(QWidget* parent = nullptr);

    bool isDraggable() const { return draggable_; }
    void setDraggable(bool draggable) { draggable_ = draggable; }
    std::shared_ptr<PopupNavigationTouchEventDelegate> touchEventDelegate() const {
        return touchEventDelegate_.lock();
    }
    void setTouchEventDelegate(std::weak_ptr<PopupNavigationTouchEventDelegate> delegate) {
        touchEventDelegate_ = std::move(delegate);
    }
    bool isMoving() const { return moving_; }

    // `view` is the widget the touch began on, positions are in window
    // coordinates. Each returns true when the bar consumed the touch (it is
    // draggable); false means it belongs to the inherited handling.
    bool touchesBegan(const QWidget* view, QPointF windowPosition);
    bool touchesMoved(QPointF windowPosition);
    bool touchesEnded(QPointF windowPosition);
    bool touchesCancelled(QPointF windowPosition);
    // Ends the drag and reports `offset`.
    void movingDidEndWithOffset(float offset);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    bool startsDrag(const QWidget* view) const;
    float offsetAt(QPointF windowPosition) const;

    bool moving_ = false;
    double movingStartY_ = 0;
    bool draggable_ = true;
    std::weak_ptr<PopupNavigationTouchEventDelegate> touchEventDelegate_;
};

}  // namespace tervolo::widgets::popup
