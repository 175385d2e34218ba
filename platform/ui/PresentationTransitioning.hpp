#pragma once

#include <QRectF>

#include <memory>

class QWidget;

namespace platform {

class ViewController;

// The custom-presentation contract (modal style custom): a presented
// controller's transitioning delegate hands out an animator for its
// presentation and its dismissal; the animator moves the views inside the
// transition's container and reports the end with completeTransition().
// Main thread only. Frames are in points, in the container's coordinates.

// What an animator gets: the container (a transparent widget covering the
// presenter's window content), the two controllers and their views.
class ViewControllerContextTransitioning {
  public:
    enum class Key { from, to };

    virtual ~ViewControllerContextTransitioning() = default;
    // Presenting: the animator adds view(to) to the container (it is not in
    // it yet). Dismissing: view(from) is in it; the framework removes it
    // after completeTransition(true).
    virtual QWidget* containerView() const = 0;
    virtual std::shared_ptr<ViewController> viewController(Key key) const = 0;
    // The view of viewController(key) when it takes part in the animation:
    // the presented controller's view both ways; null for the presenter,
    // whose view stays where it is.
    virtual QWidget* view(Key key) const = 0;
    virtual bool isAnimated() const = 0;
    // Where the controller's view starts and ends: the container's bounds for
    // the presented controller when presenting (final) and dismissing
    // (initial); an empty rect otherwise.
    virtual QRectF initialFrame(const ViewController& controller) const = 0;
    virtual QRectF finalFrame(const ViewController& controller) const = 0;
    // Ends the transition; call it once. false cancels: a cancelled
    // presentation leaves nothing presented (the controller gets
    // viewWillDisappear and viewDidDisappear, never viewDidAppear), a
    // cancelled dismissal leaves the controller presented. Later calls are
    // ignored. The context stays valid while the presentation's widgets
    // exist (at least until the dismissal ends).
    virtual void completeTransition(bool didComplete) = 0;
    virtual bool transitionWasCancelled() const = 0;
};

class ViewControllerAnimatedTransitioning {
  public:
    virtual ~ViewControllerAnimatedTransitioning() = default;
    // Seconds.
    virtual double transitionDuration(const ViewControllerContextTransitioning& context) const = 0;
    // Starts the animation; it may end later (completeTransition).
    virtual void animateTransition(ViewControllerContextTransitioning& context) = 0;
    // After completeTransition, with its argument.
    virtual void animationEnded(bool transitionCompleted) { (void)transitionCompleted; }
};

class ViewControllerTransitioningDelegate {
  public:
    virtual ~ViewControllerTransitioningDelegate() = default;
    // No animator (the default): the presented view fills the container at once.
    virtual std::shared_ptr<ViewControllerAnimatedTransitioning> animationControllerForPresented(
        ViewController& presented, ViewController& presenting, ViewController& source) {
        (void)presented;
        (void)presenting;
        (void)source;
        return nullptr;
    }
    virtual std::shared_ptr<ViewControllerAnimatedTransitioning> animationControllerForDismissed(
        ViewController& dismissed) {
        (void)dismissed;
        return nullptr;
    }
};

}  // namespace platform
