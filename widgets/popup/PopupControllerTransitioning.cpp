#include "widgets/popup/PopupControllerTransitioning.hpp"

#include <QTransform>

#include "platform/ui/AnimationWidget.hpp"
#include "platform/ui/Animator.hpp"

namespace tervolo::widgets::popup {

using platform::Animator;
using Action = PopupControllerTransitioningContext::Action;

namespace {

Animator::Options easeOutOptions() {
    Animator::Options options;
    options.curve = Animator::Curve::EaseOut;
    return options;
}

}  // namespace

double PopupControllerTransitioningSlideVertical::popupControllerTransitionDuration(
    const PopupControllerTransitioningContext& context) {
    return context.action() == Action::present ? kPresentDuration : kDismissDuration;
}

void PopupControllerTransitioningSlideVertical::popupControllerAnimateTransition(
    const PopupControllerTransitioningContext& context, std::function<void()> completion) {
    QWidget* card = context.containerView();
    if (card == nullptr || card->parentWidget() == nullptr) {
        if (completion) completion();
        return;
    }
    const double screenHeight = card->parentWidget()->height();
    // The frame is kept apart from the transform, so it is the card's place
    // at rest whatever a drag has done to it.
    const double y = platform::frame(card).y();
    const double duration = popupControllerTransitionDuration(context);
    QPointer<QWidget> guarded = card;
    if (context.action() == Action::present) {
        Animator::performWithoutAnimation(
            [&] { platform::setTransform(card, QTransform::fromTranslate(0, screenHeight - y)); });
        Animator::animateWithSpring(
            duration, 0, 1.0, 1.0, {},
            [guarded] {
                if (guarded) platform::setTransform(guarded, QTransform());
            },
            [completion](bool) {
                if (completion) completion();
            });
        return;
    }
    const double height = platform::frame(card).height();
    Animator::animate(
        duration, 0, easeOutOptions(),
        [guarded, screenHeight, y, height] {
            if (guarded)
                platform::setTransform(guarded, QTransform::fromTranslate(0, screenHeight - y + height));
        },
        [guarded, completion](bool) {
            if (guarded) {
                Animator::performWithoutAnimation([&] { platform::setTransform(guarded, QTransform()); });
            }
            if (completion) completion();
        });
}

double PopupControllerTransitioningFade::popupControllerTransitionDuration(
    const PopupControllerTransitioningContext& context) {
    return context.action() == Action::present ? kPresentDuration : kDismissDuration;
}

void PopupControllerTransitioningFade::popupControllerAnimateTransition(
    const PopupControllerTransitioningContext& context, std::function<void()> completion) {
    QWidget* card = context.containerView();
    if (card == nullptr) {
        if (completion) completion();
        return;
    }
    const double duration = popupControllerTransitionDuration(context);
    QPointer<QWidget> guarded = card;
    if (context.action() == Action::present) {
        Animator::performWithoutAnimation([&] {
            platform::setAlpha(card, 0);
            platform::setTransform(card, QTransform::fromScale(kPresentScale, kPresentScale));
        });
        Animator::animate(
            duration, 0, easeOutOptions(),
            [guarded] {
                if (!guarded) return;
                platform::setAlpha(guarded, 1);
                platform::setTransform(guarded, QTransform());
            },
            [completion](bool) {
                if (completion) completion();
            });
        return;
    }
    Animator::animate(
        duration, 0, easeOutOptions(),
        [guarded] {
            if (guarded) platform::setAlpha(guarded, 0);
        },
        [guarded, completion](bool) {
            if (guarded) Animator::performWithoutAnimation([&] { platform::setAlpha(guarded, 1); });
            if (completion) completion();
        });
}

}  // namespace tervolo::widgets::popup
