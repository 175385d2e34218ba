#pragma once

#include <QPointer>
#include <QWidget>

#include <memory>

#include "platform/ui/PresentationTransitioning.hpp"
#include "platform/ui/ViewController.hpp"

namespace platform {

// The widget that shows a presented controller's view in its presenter's
// window, shaped by the presentation style: a full-window cover, a dimmed
// layer with a centred card, a cover over the presenting controller's view,
// the transparent container of a custom transition, or a panel beside a
// popover's anchor. It follows the window's size. The controller's view is
// put in container() and taken out again (detach()) before the overlay goes.
// Tab and Shift+Tab go round the presented view's controls only.
// Internal to the presentation machinery; main thread only.
class PresentationOverlay : public QWidget {
  public:
    // `host` is the window content the overlay covers; `context` the
    // controller presented from.
    PresentationOverlay(QWidget* host, ViewController& presented, ViewController& context);
    ~PresentationOverlay() override;

    // Where the presented view lives.
    QWidget* container() const { return container_; }
    // Puts the presented view into the container, filling it (all styles but
    // custom with an animator, whose animator places it).
    void embed(QWidget* view, bool fill);
    // Takes the presented view out (it becomes a hidden top-level widget)
    // and gives the keyboard focus back to where it was before.
    void detach();
    // Moves the keyboard focus into the presented view unless it is there: to the view's focus
    // proxy, else its first Tab stop that does not skip the first focus (FirstFocus.hpp).
    void takeFocus();
    // Geometry from the host's size, the style, the presented controller's
    // preferred content size and the popover anchor.
    void relayout();

    // Keeps a custom transition's context for as long as the overlay lives
    // (an animator may keep using it after completing).
    void setTransitionContext(std::shared_ptr<ViewControllerContextTransitioning> context) {
        transitionContext_ = std::move(context);
    }

    // The window content that presentations of `controller`'s chain cover.
    static QWidget* hostFor(ViewController& controller);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    QRect popoverGeometry(QSize size) const;
    // Whether the global point lies on the panel or on a screen presented above its controller.
    bool isInsidePresentation(QPoint global) const;
    void dismissPopoverByUser();
    void restoreFocus();

    QPointer<QWidget> host_;
    QPointer<QWidget> contextView_;  // the presenter's view, whose size a size share follows
    bool relayingOut_ = false;
    std::weak_ptr<ViewController> presented_;
    std::weak_ptr<ViewController> context_;
    ModalPresentationStyle style_;
    QWidget* container_ = nullptr;  // the card, or this overlay
    QPointer<QWidget> view_;
    QPointer<QWidget> previousFocus_;  // where the focus was before the presentation
    std::shared_ptr<ViewControllerContextTransitioning> transitionContext_;
};

}  // namespace platform
