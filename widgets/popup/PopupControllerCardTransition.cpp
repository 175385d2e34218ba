#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/ui/AnimationWidget.hpp"
#include "platform/ui/Animator.hpp"
#include "widgets/popup/PopupController.hpp"

// The popup's presentation and dismissal transitions: the dimming, the card's own animation (built in
// or custom) and the watchdog that ends a transition a custom animator never finishes.
namespace tervolo::widgets::popup {

using platform::Animator;
using platform::ViewController;
using Action = PopupControllerTransitioningContext::Action;
using Key = platform::ViewControllerContextTransitioning::Key;

namespace {

constexpr double kTransitionWatchdogGrace = 1.0;

Animator::Options easeOut() {
    Animator::Options options;
    options.curve = Animator::Curve::EaseOut;
    return options;
}

}  // namespace

// --- transitions -------------------------------------------------------------

std::shared_ptr<platform::ViewControllerAnimatedTransitioning>
PopupController::animationControllerForPresented(ViewController&, ViewController&, ViewController&) {
    return shared_from_this();
}

std::shared_ptr<platform::ViewControllerAnimatedTransitioning>
PopupController::animationControllerForDismissed(ViewController&) {
    return shared_from_this();
}

std::shared_ptr<PopupControllerTransitioning> PopupController::transitionObject() const {
    switch (transitionStyle_) {
        case PopupTransitionStyle::fade:
            return transitioningFade_;
        case PopupTransitionStyle::custom:
            // Without its object a custom popup still arrives: it slides.
            if (auto custom = transitioning_.lock()) return custom;
            return transitioningSlideVertical_;
        case PopupTransitionStyle::slideVertical:
        default:
            return transitioningSlideVertical_;
    }
}

double PopupController::transitionDuration(
    const platform::ViewControllerContextTransitioning& context) const {
    const bool presenting = context.viewController(Key::to) == containerViewController_;
    const PopupControllerTransitioningContext converted(containerView_,
                                                        presenting ? Action::present : Action::dismiss);
    return transitionObject()->popupControllerTransitionDuration(converted);
}

void PopupController::setCardInteraction(bool enabled) {
    for (QWidget* view : {backgroundView_.data(), containerView_.data()}) {
        if (view != nullptr) view->setAttribute(Qt::WA_TransparentForMouseEvents, !enabled);
    }
}

void PopupController::runCardTransition(Action action, std::function<void()> done) {
    auto transition = transitionObject();
    const PopupControllerTransitioningContext context(containerView_, action);
    const double duration = transition->popupControllerTransitionDuration(context);
    // The card's transition must call back exactly once; one that never does
    // would leave the popup half on screen and deaf to input, so it is
    // finished for it a second after it should have ended.
    auto finished = std::make_shared<bool>(false);
    auto finish = [finished, done = std::move(done)] {
        if (*finished) return;
        *finished = true;
        done();
    };
    platform::DispatchQueue::main()->asyncAfter(duration + kTransitionWatchdogGrace, finish);
    transition->popupControllerAnimateTransition(context, finish);
}

void PopupController::animateTransition(platform::ViewControllerContextTransitioning& context) {
    auto container = containerViewController_;
    QWidget* root = container->view();
    auto top = topViewController();
    const double duration = transitionDuration(context);
    auto* transition = &context;
    std::weak_ptr<PopupController> weak = weak_from_this();
    QPointer<QWidget> background = backgroundView_;

    if (context.viewController(Key::to) == container) {
        QPointer<QWidget> host = context.containerView();
        root->setParent(host);
        root->setGeometry(host->rect());
        root->show();
        if (eventFilter_) host->installEventFilter(eventFilter_.data());
        if (top) {
            container->addChild(top);
            placeTopView(*top);
            if (container->isAppearing()) top->beginAppearanceTransition(true, context.isAnimated());
        }
        layoutContainerView();
        updateNavigationBar(false);
        const double kept = background ? platform::alpha(background) : 1.0;
        setCardInteraction(false);
        Animator::performWithoutAnimation([&] {
            if (background) platform::setAlpha(background, 0);
            platform::setTransform(containerView_, QTransform());
        });
        Animator::animateWithSpring(duration, 0, 1.0, 1.0, {}, [background, kept] {
            if (background) platform::setAlpha(background, kept);
        });
        runCardTransition(Action::present, [weak, transition, host, top, container] {
            if (auto self = weak.lock()) self->setCardInteraction(true);
            // The presentation's widget owns the context; gone with its window, nothing is left to end.
            if (!host) return;
            transition->completeTransition(!transition->transitionWasCancelled());
            if (top && top->parent() == container.get()) top->didMove(container.get());
        });
        return;
    }

    if (top) top->willMove(nullptr);
    const double kept = background ? platform::alpha(background) : 1.0;
    setCardInteraction(false);
    Animator::animate(duration, 0, easeOut(), [background] {
        if (background) platform::setAlpha(background, 0);
    });
    QPointer<QWidget> host = context.containerView();
    runCardTransition(Action::dismiss, [weak, transition, host, top, background, kept] {
        auto self = weak.lock();
        if (self) self->setCardInteraction(true);
        if (!host) return;  // see the presentation above
        if (self && self->eventFilter_) host->removeEventFilter(self->eventFilter_.data());
        transition->completeTransition(!transition->transitionWasCancelled());
        if (top) {
            if (QWidget* view = top->viewIfLoaded()) {
                view->hide();
                view->setParent(nullptr);
            }
            top->removeFromParent();
        }
        // A popup presented again starts from the background it had.
        if (background) Animator::performWithoutAnimation([&] { platform::setAlpha(background, kept); });
    });
}

}  // namespace tervolo::widgets::popup
