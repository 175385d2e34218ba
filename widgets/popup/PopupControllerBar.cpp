#include <QGridLayout>
#include <QLabel>

#include "platform/ui/AnimationWidget.hpp"
#include "platform/ui/Animator.hpp"
#include "widgets/popup/PopupCardView.hpp"
#include "widgets/popup/PopupController.hpp"

// The popup's bar: its item made from the top controller's, the title's cross-fade, the left item's
// cross or arrow, and drags on the bar that move the card.
namespace tervolo::widgets::popup {

using platform::Animator;
using platform::ViewController;
using Action = PopupControllerTransitioningContext::Action;
using Key = platform::ViewControllerContextTransitioning::Key;

namespace {

// The title the bar shows now: a title view, or the bar's own label (a
// replaced bar content waits hidden for its deletion).
QWidget* shownTitle(const platform::NavigationBar& bar, const platform::NavigationItem* item) {
    if (item != nullptr && item->titleView() != nullptr) return item->titleView();
    QWidget* shown = nullptr;
    for (QLabel* label : bar.findChildren<QLabel*>(QStringLiteral("titleLabel"))) {
        if (label->parentWidget() != nullptr && !label->parentWidget()->isHidden()) shown = label;
    }
    return shown;
}

}  // namespace

// --- the bar -----------------------------------------------------------------

void PopupController::releaseHostedTitleView() {
    // A controller's title view shown on the bar goes back to its item, which
    // owns it, before the bar's own item (and the holder) are dropped.
    if (hostedTitleView_ && hostedTitleView_->parentWidget() != nullptr &&
        hostedTitleView_->parentWidget()->objectName() == QStringLiteral("popupTitleViewHolder")) {
        hostedTitleView_->hide();
        hostedTitleView_->setParent(nullptr);
    }
    hostedTitleView_ = nullptr;
}

void PopupController::updateNavigationBar(bool animated) {
    auto top = topViewController();
    if (!top || !navigationBar_) return;
    bool leftAnimates = false;
    if (animated && barItem_) {
        for (const auto& item : barItem_->leftBarButtonItems())
            leftAnimates = leftAnimates || item == defaultLeftBarItem_;
    }
    // The outgoing title fades out as a picture centred on the bar while the
    // new one fades in.
    QPointer<QLabel> outgoing;
    if (QWidget* title = animated ? shownTitle(*navigationBar_, barItem_.get()) : nullptr;
        title != nullptr && title->width() > 0) {
        outgoing = new QLabel(navigationBar_);
        outgoing->setObjectName(QStringLiteral("popupOutgoingTitle"));
        outgoing->setAttribute(Qt::WA_TransparentForMouseEvents);
        outgoing->setPixmap(title->grab());
        outgoing->resize(title->size());
        outgoing->move((navigationBar_->width() - title->width()) / 2,
                       (navigationBar_->height() - title->height()) / 2);
        outgoing->show();
        outgoing->raise();
    }
    auto& navigation = top->navigationItem();
    auto item = std::make_shared<platform::NavigationItem>();

    std::vector<std::shared_ptr<platform::BarButtonItem>> left = navigation.leftBarButtonItems();
    if (left.empty() && !navigation.hidesBackButton()) left = {defaultLeftBarItem_};
    if (hidesCloseButton_ && top == viewControllers_.front() && left.size() == 1 &&
        left.front() == defaultLeftBarItem_) {
        left.clear();
    }
    item->setLeftBarButtonItems(std::move(left));
    item->setRightBarButtonItems(navigation.rightBarButtonItems());

    QWidget* lent = navigation.titleView();
    if (lent != hostedTitleView_.data()) releaseHostedTitleView();
    if (lent != nullptr) {
        auto* holder = new QWidget();
        holder->setObjectName(QStringLiteral("popupTitleViewHolder"));
        auto* layout = new QGridLayout(holder);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(lent, 0, 0, Qt::AlignCenter);
        lent->show();
        hostedTitleView_ = lent;
        item->setTitleView(holder);
    } else {
        item->setTitle(!top->title().empty() ? top->title() : navigation.title());
    }
    navigationBar_->setItems({item});
    barItem_ = item;  // the previous item (and its holder) go now

    if (animated) {
        QPointer<QWidget> incoming = shownTitle(*navigationBar_, item.get());
        if (incoming) Animator::performWithoutAnimation([&] { platform::setAlpha(incoming, 0); });
        Animator::animateWithSpring(
            0.5, 0, 1.0, 0, {},
            [incoming, outgoing] {
                if (incoming) platform::setAlpha(incoming, 1);
                if (outgoing) platform::setAlpha(outgoing, 0);
            },
            [outgoing](bool) { delete outgoing.data(); });
    }
    defaultLeftBarItem_->setTintColor(navigationBar_->tintColor());
    defaultLeftBarItem_->setType(
        viewControllers_.size() > 1 ? PopupLeftBarItem::Type::arrow : PopupLeftBarItem::Type::cross,
        leftAnimates);
}

void PopupController::setNavigationBarHidden(bool hidden, bool animated) {
    navigationBarHidden_ = hidden;
    QPointer<PopupNavigationBar> bar = navigationBar_;
    if (!animated) {
        layoutContainerView();
        bar->setVisible(!hidden);
        Animator::performWithoutAnimation([&] { platform::setAlpha(bar, 1); });
        return;
    }
    Animator::performWithoutAnimation([&] { platform::setAlpha(bar, hidden ? 1 : 0); });
    if (!hidden) bar->setVisible(true);
    std::weak_ptr<PopupController> weak = weak_from_this();
    Animator::animateWithSpring(
        0.5, 0, 1.0, 0, {},
        [weak, bar, hidden] {
            if (bar) platform::setAlpha(bar, hidden ? 0 : 1);
            if (auto self = weak.lock()) self->layoutContainerView();
        },
        [weak, bar](bool) {
            auto self = weak.lock();
            if (self && bar) bar->setVisible(!self->navigationBarHidden_);
        });
}

void PopupController::setHidesCloseButton(bool hides) {
    hidesCloseButton_ = hides;
    updateNavigationBar(false);
}

void PopupController::setCornerRadius(double radius) {
    cornerRadius_ = radius;
    // Painted, antialiased, by the card and by the bar over its top corners.
    if (auto* card = dynamic_cast<PopupCardView*>(containerView_.data())) card->setCornerRadius(radius);
    if (navigationBar_) navigationBar_->setTopCornerRadius(radius);
}

void PopupController::setSafeAreaInsets(QMarginsF insets) {
    safeAreaInsets_ = insets;
    didOverrideSafeAreaInsets_ = true;
}

// --- the bar's drag and item -------------------------------------------------

void PopupController::popupNavigationBarTouchDidMove(PopupNavigationBar&, double offset) {
    endEditing();
    if (style_ == PopupStyle::bottomSheet && offset < -kBottomSheetOverhang) return;
    QWidget* card = containerView_.data();
    Animator::performWithoutAnimation(
        [&] { platform::setTransform(card, QTransform::fromTranslate(0, offset)); });
}

void PopupController::popupNavigationBarTouchDidEnd(PopupNavigationBar&, double offset) {
    if (offset > kDismissDragDistance) {
        // The card leaves downwards from where the finger let go of it,
        // whatever the popup's own transition.
        const PopupTransitionStyle kept = transitionStyle_;
        transitionStyle_ = PopupTransitionStyle::slideVertical;
        std::weak_ptr<PopupController> weak = weak_from_this();
        dismiss([weak, kept] {
            if (auto self = weak.lock()) self->transitionStyle_ = kept;
        });
        return;
    }
    endEditing();
    QPointer<QWidget> card = containerView_;
    Animator::animateWithSpring(0.4, 0, 0.7, 0, {}, [card] {
        if (card) platform::setTransform(card, QTransform());
    });
}

void PopupController::leftBarItemDidTap() {
    if (defaultLeftBarItem_->type() == PopupLeftBarItem::Type::cross) {
        dismiss();
    } else {
        popViewController(true);
    }
}

}  // namespace tervolo::widgets::popup
