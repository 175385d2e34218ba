#pragma once

#include <QPointer>
#include <QRectF>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

namespace platform {

class BarButtonItem;

// Where a popover-style presentation is anchored and what it lets through.
// The popover panel opens beside the anchor (below it when there is room,
// else above, else beside), kept inside the window. A mouse press outside the
// panel that does not land in a passthrough view, or Escape, dismisses it;
// the press is consumed. Main thread only; rects in points.
class PopoverPresentationController {
  public:
    // The anchor: a bar button item, or a widget and a rect in its
    // coordinates (an empty rect means the whole widget). Without either the
    // panel opens centred in the window.
    std::shared_ptr<BarButtonItem> barButtonItem() const { return barButtonItem_.lock(); }
    void setBarButtonItem(const std::shared_ptr<BarButtonItem>& item) { barButtonItem_ = item; }
    QWidget* sourceView() const { return sourceView_.data(); }
    void setSourceView(QWidget* view) { sourceView_ = view; }
    QRectF sourceRect() const { return sourceRect_; }
    void setSourceRect(QRectF rect) { sourceRect_ = rect; }

    // Presses inside these views reach them and leave the popover open.
    const std::vector<QPointer<QWidget>>& passthroughViews() const { return passthroughViews_; }
    void setPassthroughViews(std::vector<QPointer<QWidget>> views) { passthroughViews_ = std::move(views); }

    // Arrow directions the presenter allows (stored; the panel draws no arrow).
    enum ArrowDirection : unsigned { up = 1, down = 2, left = 4, right = 8, any = 15 };
    unsigned permittedArrowDirections() const { return permittedArrowDirections_; }
    void setPermittedArrowDirections(unsigned directions) { permittedArrowDirections_ = directions; }

    // Asked before a press outside or Escape dismisses the popover (default:
    // yes); told after such a dismissal (not after a programmatic dismiss).
    std::function<bool()> shouldDismissPopover;
    std::function<void()> didDismissPopover;

  private:
    std::weak_ptr<BarButtonItem> barButtonItem_;
    QPointer<QWidget> sourceView_;
    QRectF sourceRect_;
    std::vector<QPointer<QWidget>> passthroughViews_;
    unsigned permittedArrowDirections_ = any;
};

}  // namespace platform
