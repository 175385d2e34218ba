// Presentation and dismissal of view controllers: the chain of presented
// controllers above a root, the appearance calls a change of that chain
// causes, and the overlay widgets that show it.

#include <QWidget>

#include <algorithm>
#include <set>

#include "platform/foundation/OSLog.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/AnimationWidget.hpp"
#include "platform/ui/PresentationAnimation.hpp"
#include "platform/ui/PresentationOverlay.hpp"
#include "platform/ui/PresentationRecorder.hpp"
#include "platform/ui/PresentationTransitionQueue.hpp"
#include "platform/ui/PresentationTransitioning.hpp"
#include "platform/ui/ViewController.hpp"
#include "platform/ui/ViewControllerExtension.hpp"
#include "platform/ui/ViewControllerMainThread.hpp"

namespace platform {

namespace {

std::shared_ptr<OSLog> presentationLog() {
    static std::shared_ptr<OSLog> log = OSLog::make("org.tervolo.TervoloNG", "presentation");
    return log;
}

void warn(const std::string& text) {
    presentationLog()->write(OSLogType::Error, text);
    if (auto* recorder = PresentationRecorder::current()) recorder->noteRefused(text);
}

std::string describe(const ViewController& controller) {
    std::string text = controller.screenAppearance().className;
    if (!controller.title().empty()) text += " \"" + controller.title() + "\"";
    return text;
}

// The transition context handed to a custom animator.
class TransitionContext : public ViewControllerContextTransitioning {
  public:
    TransitionContext(QWidget* container, std::shared_ptr<ViewController> from,
                      std::shared_ptr<ViewController> to, QWidget* presentedView, bool presenting,
                      bool animated)
        : container_(container),
          from_(std::move(from)),
          to_(std::move(to)),
          presentedView_(presentedView),
          presenting_(presenting),
          animated_(animated) {}

    // Runs once, at completeTransition; it may hold this context alive until then.
    void setFinish(std::function<void(bool)> finish) { finish_ = std::move(finish); }

    QWidget* containerView() const override { return container_; }
    std::shared_ptr<ViewController> viewController(Key key) const override {
        return key == Key::from ? from_.lock() : to_.lock();
    }
    QWidget* view(Key key) const override {
        // The presented controller is `to` when presenting, `from` when dismissing.
        const bool presentedSide = presenting_ ? key == Key::to : key == Key::from;
        return presentedSide ? presentedView_.data() : nullptr;
    }
    bool isAnimated() const override { return animated_; }
    QRectF initialFrame(const ViewController& controller) const override {
        const bool presentedOne = &controller == (presenting_ ? to_ : from_).lock().get();
        return (!presenting_ && presentedOne && container_) ? QRectF(container_->rect()) : QRectF();
    }
    QRectF finalFrame(const ViewController& controller) const override {
        const bool presentedOne = &controller == (presenting_ ? to_ : from_).lock().get();
        return (presenting_ && presentedOne && container_) ? QRectF(container_->rect()) : QRectF();
    }
    void completeTransition(bool didComplete) override {
        if (completed_) return;
        completed_ = true;
        cancelled_ = !didComplete;
        // Moved out first: running it may release the last hold on this context.
        auto finish = std::move(finish_);
        finish_ = nullptr;
        if (finish) finish(didComplete);
    }
    bool transitionWasCancelled() const override { return cancelled_; }

  private:
    QPointer<QWidget> container_;
    // Weak: the overlay holds the context, and must not keep the presenter alive.
    std::weak_ptr<ViewController> from_;
    std::weak_ptr<ViewController> to_;
    QPointer<QWidget> presentedView_;
    bool presenting_;
    bool animated_;
    std::function<void(bool)> finish_;
    bool completed_ = false;
    bool cancelled_ = false;
};

}  // namespace

// The chain of controllers presented above one root, and the appearance
// changes between two states of it.
class PresentationChain {
  public:
    // The controller at the bottom of the chain that `controller` is in.
    static ViewController* base(ViewController& controller) {
        ViewController* c = controller.rootAncestor();
        while (auto presenting = c->presenting_.lock()) c = presenting->rootAncestor();
        return c;
    }

    // Bottom first.
    static std::vector<std::shared_ptr<ViewController>> members(ViewController& base) {
        std::vector<std::shared_ptr<ViewController>> chain;
        if (auto self = base.weak_from_this().lock()) chain.push_back(self);
        for (auto c = base.presented_; c; c = c->presented_) chain.push_back(c);
        return chain;
    }

    // The members that are on screen: all while the base's host shows it,
    // except those a full-screen presentation above them covers.
    static std::set<ViewController*> visible(ViewController& base) {
        std::set<ViewController*> shown;
        if (!base.hostVisible_) return shown;
        auto chain = members(base);
        bool covered = false;
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            if (!covered) shown.insert(it->get());
            if ((*it)->presentingViewController() &&
                (*it)->modalPresentationStyle_ == ModalPresentationStyle::fullScreen) {
                covered = true;
            }
        }
        return shown;
    }

    struct Change {
        std::vector<std::shared_ptr<ViewController>> disappearing;  // top-most first
        std::vector<std::shared_ptr<ViewController>> appearing;     // bottom-most first
    };

    // `before` and `after` are bottom-first member lists with their visible sets.
    static Change difference(const std::vector<std::shared_ptr<ViewController>>& beforeMembers,
                             const std::set<ViewController*>& before,
                             const std::vector<std::shared_ptr<ViewController>>& afterMembers,
                             const std::set<ViewController*>& after) {
        Change change;
        for (auto it = beforeMembers.rbegin(); it != beforeMembers.rend(); ++it) {
            if (before.count(it->get()) && !after.count(it->get())) change.disappearing.push_back(*it);
        }
        for (const auto& member : afterMembers) {
            if (after.count(member.get()) && !before.count(member.get())) change.appearing.push_back(member);
        }
        return change;
    }

    static void begin(const Change& change, bool animated) {
        for (const auto& c : change.disappearing) c->beginAppearanceTransition(false, animated);
        for (const auto& c : change.appearing) c->beginAppearanceTransition(true, animated);
    }
    static void end(const Change& change) {
        for (const auto& c : change.disappearing) c->endAppearanceTransition();
        for (const auto& c : change.appearing) c->endAppearanceTransition();
    }

    // Ends a cancelled transition: those that were to appear disappear
    // again without having appeared, those that were to disappear come back.
    static void undo(const Change& change) {
        Change back;
        back.disappearing.assign(change.appearing.rbegin(), change.appearing.rend());
        back.appearing.assign(change.disappearing.rbegin(), change.disappearing.rend());
        begin(back, false);
        end(back);
    }

    // The host of a root controller showed or hid it.
    static void hostVisibilityChanged(ViewController& root, bool visible) {
        ViewController& bottom = *base(root);
        const auto membersBefore = members(bottom);
        const auto before = PresentationChain::visible(bottom);
        bottom.hostVisible_ = visible;
        const auto change =
            difference(membersBefore, before, membersBefore, PresentationChain::visible(bottom));
        begin(change, false);
        end(change);
    }

    static void present(ViewController& caller, std::shared_ptr<ViewController> controller, bool animated,
                        std::function<void()> completion, std::function<void()> done);
    static void dismiss(ViewController& caller, bool animated, std::function<void()> completion,
                        std::function<void()> done);
};

void PresentationChain::present(ViewController& caller, std::shared_ptr<ViewController> controller,
                                bool animated, std::function<void()> completion, std::function<void()> done) {
    ViewController* context = caller.rootAncestor();
    if (context->presented_) {
        warn("Attempt to present " + describe(*controller) + " on " + describe(*context) +
             " which is already presenting " + describe(*context->presented_));
        done();
        return;
    }
    if (controller.get() == context || controller->parent_ != nullptr || !controller->presenting_.expired()) {
        warn("Attempt to present " + describe(*controller) +
             " which is already presented or shown in a container");
        done();
        return;
    }
    auto contextShared = context->weak_from_this().lock();
    if (!contextShared) {
        warn("Attempt to present " + describe(*controller) +
             " from a controller not held by a shared pointer");
        done();
        return;
    }
    if (auto* recorder = PresentationRecorder::current()) recorder->notePresented(controller, animated);

    ViewController& bottom = *base(*context);
    const auto membersBefore = members(bottom);
    const auto before = visible(bottom);
    context->presented_ = controller;
    controller->presenting_ = contextShared;
    controller->beingPresented_ = true;
    controller->traits_ = context->traits_;
    const auto membersAfter = members(bottom);
    const auto change = difference(membersBefore, before, membersAfter, visible(bottom));

    QWidget* presentedView = controller->view();  // viewDidLoad before any appearance call
    QWidget* host = PresentationOverlay::hostFor(*context);
    auto* overlay = new PresentationOverlay(host, *controller, *context);
    overlay->hide();
    controller->presentationOverlay_ = overlay;

    std::shared_ptr<ViewControllerAnimatedTransitioning> animator;
    if (controller->modalPresentationStyle_ == ModalPresentationStyle::custom) {
        if (auto delegate = controller->transitioningDelegate()) {
            animator = delegate->animationControllerForPresented(*controller, *context, caller);
        }
    }
    overlay->embed(presentedView, !animator);
    begin(change, animated);
    overlay->show();
    overlay->relayout();
    overlay->takeFocus();

    auto finish = [controller, contextShared, change, completion = std::move(completion),
                   done = std::move(done), animator](bool completed) {
        controller->beingPresented_ = false;
        if (!completed) {
            // A cancelled presentation: as if it never happened.
            if (auto* overlay = static_cast<PresentationOverlay*>(controller->presentationOverlay_.data())) {
                overlay->detach();
                overlay->hide();
                overlay->deleteLater();
            }
            if (contextShared->presented_ == controller) contextShared->presented_.reset();
            controller->presenting_.reset();
            undo(change);
        } else {
            end(change);
        }
        if (animator) animator->animationEnded(completed);
        if (completion) completion();
        done();
    };

    if (animator) {
        auto transition = std::make_shared<TransitionContext>(overlay, contextShared, controller,
                                                              presentedView, true, animated);
        transition->setFinish(std::move(finish));
        // The overlay keeps the context alive as long as an animator may hold on to it.
        overlay->setTransitionContext(transition);
        animator->animateTransition(*transition);
        return;
    }
    // The overlay fades in (popovers keep their shadow and just appear).
    QPointer<QWidget> fading = overlay;
    const bool fades = animated && controller->modalPresentationStyle_ != ModalPresentationStyle::popover;
    if (fades) Animator::performWithoutAnimation([&] { setAlpha(overlay, 0); });
    animatePresentationTransition(
        animated, kPresentationTransitionDuration,
        [fading, fades] {
            if (fades && fading) setAlpha(fading, 1);
        },
        std::move(finish));
}

void PresentationChain::dismiss(ViewController& caller, bool animated, std::function<void()> completion,
                                std::function<void()> done) {
    ViewController* context = caller.rootAncestor();
    std::shared_ptr<ViewController> presenter;
    if (context->presented_) {
        presenter = context->weak_from_this().lock();
    } else if (auto presenting = context->presenting_.lock()) {
        presenter = presenting;
    }
    if (!presenter || !presenter->presented_) {
        if (completion) completion();
        done();
        return;
    }

    ViewController& bottom = *base(*presenter);
    const auto membersBefore = members(bottom);
    const auto before = visible(bottom);
    // Everything from the directly dismissed controller up.
    std::vector<std::shared_ptr<ViewController>> removed;
    for (auto c = presenter->presented_; c; c = c->presented_) removed.push_back(c);
    auto dismissed = removed.front();
    presenter->presented_.reset();
    for (const auto& c : removed) c->beingDismissed_ = true;
    const auto change = difference(membersBefore, before, members(bottom), visible(bottom));

    std::shared_ptr<ViewControllerAnimatedTransitioning> animator;
    if (removed.size() == 1 && dismissed->modalPresentationStyle_ == ModalPresentationStyle::custom) {
        if (auto delegate = dismissed->transitioningDelegate())
            animator = delegate->animationControllerForDismissed(*dismissed);
    }
    begin(change, animated);

    auto finish = [presenter, removed, change, completion = std::move(completion), done = std::move(done),
                   animator](bool completed) {
        auto dismissed = removed.front();
        if (!completed) {
            // A cancelled dismissal: the controller stays presented.
            presenter->presented_ = dismissed;
            for (const auto& c : removed) c->beingDismissed_ = false;
            undo(change);
        } else {
            for (auto it = removed.rbegin(); it != removed.rend(); ++it) {
                ViewController& c = **it;
                if (auto* overlay = static_cast<PresentationOverlay*>(c.presentationOverlay_.data())) {
                    overlay->detach();
                    overlay->hide();
                    // Later: the dismissal may run inside an event handler of the overlay.
                    overlay->deleteLater();
                }
                c.presentationOverlay_ = nullptr;
                c.presenting_.reset();
                c.presented_.reset();
            }
            end(change);
            for (const auto& c : removed) c->beingDismissed_ = false;
            if (auto* recorder = PresentationRecorder::current()) {
                for (const auto& c : removed) recorder->noteDismissed(c);
            }
        }
        if (animator) animator->animationEnded(completed);
        if (completion) completion();
        done();
    };

    if (animator) {
        auto* overlay = static_cast<PresentationOverlay*>(dismissed->presentationOverlay_.data());
        auto transition = std::make_shared<TransitionContext>(overlay, dismissed, presenter,
                                                              dismissed->viewIfLoaded(), false, animated);
        transition->setFinish(std::move(finish));
        if (overlay != nullptr) overlay->setTransitionContext(transition);
        animator->animateTransition(*transition);
        return;
    }
    QPointer<QWidget> fading = dismissed->presentationOverlay_;
    const bool fades = animated && dismissed->modalPresentationStyle_ != ModalPresentationStyle::popover;
    animatePresentationTransition(
        animated, kPresentationTransitionDuration,
        [fading, fades] {
            if (fades && fading) setAlpha(fading, 0);
        },
        std::move(finish));
}

void ViewController::present(std::shared_ptr<ViewController> controller, bool animated,
                             std::function<void()> completion) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (!controller) return;
    // An extension (a popup showing this controller) may take the call over.
    for (const auto& entry : std::vector(extensions_)) {
        if (entry.second->present(*this, controller, animated, completion)) return;
    }
    auto self = weak_from_this();
    runPresentationTransition([self, controller = std::move(controller), animated,
                               completion = std::move(completion)](std::function<void()> done) mutable {
        auto caller = self.lock();
        if (!caller) {
            warn("Attempt to present " + describe(*controller) + " from a controller that no longer exists");
            done();
            return;
        }
        PresentationChain::present(*caller, std::move(controller), animated, std::move(completion),
                                   std::move(done));
    });
}

void ViewController::dismiss(bool animated, std::function<void()> completion) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    // An extension (a popup showing this controller) may take the call over.
    for (const auto& entry : std::vector(extensions_)) {
        if (entry.second->dismiss(*this, animated, completion)) return;
    }
    auto self = weak_from_this();
    runPresentationTransition(
        [self, animated, completion = std::move(completion)](std::function<void()> done) mutable {
            auto caller = self.lock();
            if (!caller) {
                if (completion) completion();
                done();
                return;
            }
            PresentationChain::dismiss(*caller, animated, std::move(completion), std::move(done));
        });
}

std::shared_ptr<ViewController> ViewController::presentedViewController() const {
    for (const auto& entry : extensions_) {
        if (auto owner = entry.second->presentationLinksOwner(*this); owner && owner.get() != this)
            return owner->presentedViewController();
    }
    const ViewController* c = this;
    while (c->parent_ != nullptr) c = c->parent_;
    return c->presented_;
}

std::shared_ptr<ViewController> ViewController::presentingViewController() const {
    for (const auto& entry : extensions_) {
        if (auto owner = entry.second->presentationLinksOwner(*this); owner && owner.get() != this)
            return owner->presentingViewController();
    }
    const ViewController* c = this;
    while (c->parent_ != nullptr) c = c->parent_;
    return c->presenting_.lock();
}

std::shared_ptr<ViewController> ViewController::topMostViewController() {
    ViewController* c = rootAncestor();
    std::shared_ptr<ViewController> top = c->weak_from_this().lock();
    for (auto next = c->presented_; next; next = next->presented_) top = next;
    return top;
}

void ViewController::setHostVisible(bool visible) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (hostVisible_ == visible) return;
    PresentationChain::hostVisibilityChanged(*this, visible);
}

}  // namespace platform
