#include "widgets/popup/PopupController.hpp"

#include <QEvent>
#include <QLabel>
#include <QPainter>

#include <set>

#include "platform/dispatch/SharedInstance.hpp"
#include "platform/ui/AnimationWidget.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/KeyboardNotifications.hpp"
#include "widgets/popup/PopupCardView.hpp"
#include "widgets/popup/PopupViewControllerExtension.hpp"

namespace tervolo::widgets::popup {

using platform::Animator;
using platform::ViewController;
using Action = PopupControllerTransitioningContext::Action;
using Key = platform::ViewControllerContextTransitioning::Key;

namespace {

// Every presented popup, from its presentation until its dismissal has
// finished: callers need not keep a presented popup.
struct PresentedPopups {
    std::set<std::shared_ptr<PopupController>> popups;
};
PresentedPopups& presentedPopups() {
    return platform::SharedInstance<PresentedPopups>::get();
}

// A view filled with one colour (the dimmed background).
class FilledView : public QWidget {
  public:
    explicit FilledView(QColor color) : color_(color) {
        setObjectName(QStringLiteral("popupBackgroundView"));
    }

  protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), color_); }

  private:
    QColor color_;
};

// Calls the popup back on the widget events it follows: a click on the
// background, a new size of the presentation's container or of the card.
class EventFilter : public QObject {
  public:
    std::function<void()> backgroundTapped;
    std::function<void()> containerResized;
    std::function<void()> cardResized;
    QPointer<QWidget> background;
    QPointer<QWidget> card;

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonRelease && watched == background.data() && backgroundTapped) {
            backgroundTapped();
        } else if (event->type() == QEvent::Resize) {
            if (watched == card.data()) {
                if (cardResized) cardResized();
            } else if (watched != background.data() && containerResized) {
                containerResized();
            }
        }
        return false;
    }
};

}  // namespace

void PopupContainerViewController::loadView() {
    auto* view = new QWidget();
    view->setObjectName(QStringLiteral("popupContainerControllerView"));
    view->setAttribute(Qt::WA_NoSystemBackground);
    setView(view);
}

// --- making and tearing down -------------------------------------------------

PopupController::PopupController() = default;

std::shared_ptr<PopupController> PopupController::make() {
    std::shared_ptr<PopupController> popup(new PopupController());
    popup->setup();
    return popup;
}

std::shared_ptr<PopupController> PopupController::make(std::shared_ptr<ViewController> rootViewController) {
    auto popup = make();
    popup->pushViewController(std::move(rootViewController), false);
    return popup;
}

PopupController::~PopupController() {
    destroyObservers();
    for (const auto& controller : viewControllers_) {
        destroyObservers(*controller);
        if (auto* extension = PopupViewControllerExtension::find(*controller))
            extension->setPopupController({});
    }
    releaseHostedTitleView();
    barItem_.reset();
    delete eventFilter_.data();
    // The controllers on the stack may live on: their views leave the card.
    for (const auto& controller : viewControllers_) {
        if (QWidget* view = controller->viewIfLoaded();
            view != nullptr && contentView_ && contentView_->isAncestorOf(view)) {
            view->hide();
            view->setParent(nullptr);
        }
        if (controller->parent() == containerViewController_.get()) controller->removeFromParent();
    }
}

void PopupController::setup() {
    startPostingFirstResponderChanges();
    containerViewController_ = std::make_shared<PopupContainerViewController>();
    QWidget* root = containerViewController_->view();
    // A custom presentation: the card is placed by this object, over the
    // presenter, which stays on screen.
    containerViewController_->setModalPresentationStyle(platform::ModalPresentationStyle::custom);
    containerViewController_->setTransitioningDelegate(weak_from_this());

    auto* filter = new EventFilter();
    eventFilter_ = filter;
    std::weak_ptr<PopupController> weak = weak_from_this();
    filter->backgroundTapped = [weak] {
        if (auto self = weak.lock()) self->bgViewDidTap();
    };
    filter->containerResized = [weak] {
        auto self = weak.lock();
        if (!self) return;
        QWidget* root = self->containerViewController_->viewIfLoaded();
        if (root != nullptr && root->parentWidget() != nullptr) {
            root->setGeometry(root->parentWidget()->rect());
            self->layoutContainerView();
        }
    };
    filter->cardResized = [weak] {
        auto self = weak.lock();
        if (self) self->setCornerRadius(self->cornerRadius_);
    };

    setBackgroundView(new FilledView(QColor::fromRgbF(0, 0, 0, 0.5f)));

    auto* card = new PopupCardView(root);
    card->setObjectName(QStringLiteral("popupContainerView"));
    containerView_ = card;
    filter->card = card;
    card->installEventFilter(filter);
    contentView_ = new QWidget(card);
    contentView_->setObjectName(QStringLiteral("popupContentView"));

    auto* bar = new PopupNavigationBar(card);
    bar->setObjectName(QStringLiteral("popupNavigationBar"));
    bar->setTouchEventDelegate(weak_from_this());
    navigationBar_ = bar;
    defaultLeftBarItem_ = std::make_shared<PopupLeftBarItem>([weak] {
        if (auto self = weak.lock()) self->leftBarItemDidTap();
    });

    transitioningSlideVertical_ = std::make_shared<PopupControllerTransitioningSlideVertical>();
    transitioningFade_ = std::make_shared<PopupControllerTransitioningFade>();
}

void PopupController::setBackgroundView(QWidget* view) {
    if (view == backgroundView_.data()) return;
    if (backgroundView_) {
        backgroundView_->removeEventFilter(eventFilter_.data());
        delete backgroundView_.data();
    }
    backgroundView_ = view;
    if (view == nullptr) return;
    QWidget* root = containerViewController_->view();
    view->setParent(root);
    view->lower();  // index 0: behind the card
    view->setGeometry(root->rect());
    view->show();
    if (auto* filter = static_cast<EventFilter*>(eventFilter_.data())) {
        filter->background = view;
        view->installEventFilter(filter);
    }
}

// --- observers ---------------------------------------------------------------

void PopupController::setupObservers() {
    if (observing_) return;
    observing_ = true;
    std::weak_ptr<PopupController> weak = weak_from_this();
    barToken_ = navigationBar_->observe([weak] {
        auto self = weak.lock();
        if (!self) return;
        if (auto top = self->topViewController(); top && isShown(*top)) self->updateNavigationBar(false);
    });
    auto& center = platform::NotificationCenter::defaultCenter();
    auto onShow = [weak](const platform::NotificationCenter::Notification& note) {
        if (auto self = weak.lock()) self->keyboardWillShow(note.userInfo);
    };
    notificationTokens_.push_back(
        center.addObserver(platform::UIKeyboardWillShowNotification, nullptr, onShow));
    notificationTokens_.push_back(
        center.addObserver(platform::UIKeyboardWillChangeFrameNotification, nullptr, onShow));
    notificationTokens_.push_back(
        center.addObserver(platform::UIKeyboardWillHideNotification, nullptr,
                           [weak](const platform::NotificationCenter::Notification& note) {
                               if (auto self = weak.lock()) self->keyboardWillHide(note.userInfo);
                           }));
    notificationTokens_.push_back(
        center.addObserver(PopupFirstResponderDidChangeNotification, nullptr,
                           [weak](const platform::NotificationCenter::Notification&) {
                               if (auto self = weak.lock()) self->firstResponderDidChange();
                           }));
}

void PopupController::destroyObservers() {
    observing_ = false;
    barToken_.reset();
    notificationTokens_.clear();
}

void PopupController::setupObservers(const std::shared_ptr<ViewController>& viewController) {
    std::weak_ptr<PopupController> weak = weak_from_this();
    std::weak_ptr<ViewController> weakController = viewController;
    auto& tokens = viewControllerTokens_[viewController.get()];
    tokens.push_back(PopupViewControllerExtension::of(*viewController).observe([weak, weakController] {
        auto self = weak.lock();
        auto controller = weakController.lock();
        if (!self || !controller || controller != self->topViewController() || !isShown(*controller)) return;
        Animator::animateWithSpring(
            0.3, 0, 1.0, 0, {}, [self] { self->layoutContainerView(); },
            [weak](bool) {
                if (auto self = weak.lock()) self->adjustContainerViewOrigin();
            });
    }));
    tokens.push_back(viewController->navigationItem().observe([weak, weakController] {
        auto self = weak.lock();
        auto controller = weakController.lock();
        if (!self || !controller || controller != self->topViewController() || !isShown(*controller)) return;
        self->updateNavigationBar(false);
    }));
}

void PopupController::destroyObservers(const ViewController& viewController) {
    viewControllerTokens_.erase(&viewController);
}

bool PopupController::isShown(ViewController& viewController) {
    QWidget* view = viewController.viewIfLoaded();
    return view != nullptr && view->parentWidget() != nullptr;
}

// --- presentation ------------------------------------------------------------

bool PopupController::isPresented() const {
    return containerViewController_->presentingViewController() != nullptr;
}

void PopupController::present(ViewController& viewController, std::function<void()> completion) {
    if (isPresented()) return;
    setupObservers();
    auto self = shared_from_this();
    presentedPopups().popups.insert(self);
    // A desktop window has no unsafe areas; the caller's insets stand.
    if (!didOverrideSafeAreaInsets_) safeAreaInsets_ = QMarginsF();
    viewController.present(containerViewController_, true, std::move(completion));
}

void PopupController::dismiss(std::function<void()> completion) {
    if (!isPresented()) return;
    destroyObservers();
    auto presenter = containerViewController_->presentingViewController();
    auto self = shared_from_this();
    // Through the presenter, so that whatever the popup presents goes too.
    presenter->dismiss(true, [self, completion = std::move(completion)] {
        presentedPopups().popups.erase(self);
        if (completion) completion();
    });
}

// --- the stack ---------------------------------------------------------------

std::shared_ptr<ViewController> PopupController::topViewController() const {
    return viewControllers_.empty() ? nullptr : viewControllers_.back();
}

void PopupController::pushViewController(std::shared_ptr<ViewController> viewController, bool animated) {
    if (!viewController) return;
    auto previous = topViewController();
    PopupViewControllerExtension::of(*viewController).setPopupController(weak_from_this());
    viewControllers_.push_back(viewController);
    if (isPresented()) transit(previous, viewController, animated);
    setupObservers(viewController);
}

void PopupController::popViewController(bool animated) {
    if (viewControllers_.size() < 2) {
        dismiss();
        return;
    }
    auto top = viewControllers_.back();
    destroyObservers(*top);
    viewControllers_.pop_back();
    if (isPresented()) transit(top, viewControllers_.back(), animated);
    PopupViewControllerExtension::of(*top).setPopupController({});
}

void PopupController::popToRootViewController(bool animated) {
    if (viewControllers_.size() < 2) return;
    auto formerTop = viewControllers_.back();
    for (size_t i = 1; i < viewControllers_.size(); ++i) {
        destroyObservers(*viewControllers_[i]);
        PopupViewControllerExtension::of(*viewControllers_[i]).setPopupController({});
    }
    viewControllers_.resize(1);
    if (isPresented()) transit(formerTop, viewControllers_.front(), animated);
}

void PopupController::placeTopView(ViewController& top) {
    QWidget* view = top.view();
    view->setParent(contentView_);
    view->setGeometry(contentView_->rect());
    view->show();
}

void PopupController::transit(const std::shared_ptr<ViewController>& from,
                              const std::shared_ptr<ViewController>& to, bool animated) {
    auto container = containerViewController_;
    if (from) {
        from->beginAppearanceTransition(false, animated);
        from->willMove(nullptr);
    }
    to->beginAppearanceTransition(true, animated);
    container->addChild(to);
    auto takeOut = [](const std::shared_ptr<ViewController>& leaving) {
        if (!leaving) return;
        if (QWidget* view = leaving->viewIfLoaded()) {
            view->hide();
            view->setParent(nullptr);
        }
    };
    if (!animated) {
        layoutContainerView();
        placeTopView(*to);
        updateNavigationBar(false);
        takeOut(from);
        if (from) from->removeFromParent();
        to->didMove(container.get());
        if (from) from->endAppearanceTransition();
        to->endAppearanceTransition();
        return;
    }
    // The leaving screen cross-fades as a picture, so the card can take the
    // arriving one's size meanwhile.
    QPointer<QLabel> picture;
    if (QWidget* leavingView = from ? from->viewIfLoaded() : nullptr) {
        picture = new QLabel(containerView_);
        picture->setObjectName(QStringLiteral("popupTransitionSnapshot"));
        picture->setPixmap(leavingView->grab());
        picture->setGeometry(QRect(contentView_->geometry().topLeft(), leavingView->size()));
        picture->lower();
        picture->show();
    }
    takeOut(from);
    setCardInteraction(false);
    QWidget* arriving = to->view();
    Animator::performWithoutAnimation([&] { platform::setAlpha(arriving, 0); });
    std::weak_ptr<PopupController> weak = weak_from_this();
    Animator::animateWithSpring(
        0.5, 0, 1.0, 0, {},
        [this, to, picture, arriving] {
            layoutContainerView();
            placeTopView(*to);
            if (picture) platform::setAlpha(picture, 0);
            platform::setAlpha(arriving, 1);
        },
        [weak, from, to, picture, container](bool) {
            delete picture.data();
            if (from) from->removeFromParent();
            if (auto self = weak.lock()) self->setCardInteraction(true);
            to->didMove(container.get());
            if (from) from->endAppearanceTransition();
            to->endAppearanceTransition();
        });
    updateNavigationBar(true);
}

// --- layout ------------------------------------------------------------------

double PopupController::preferredNavigationBarHeight() {
    return platform::NavigationBar::kDefaultHeight;
}

QSizeF PopupController::contentSizeOfTopView() const {
    auto top = topViewController();
    if (!top) return {0, 0};
    const int orientation = interfaceOrientation(*top);
    if ((orientation == 3 || orientation == 4) && !landscapeContentSizeInPopup(*top).isNull()) {
        return landscapeContentSizeInPopup(*top);
    }
    return contentSizeInPopup(*top);
}

void PopupController::layoutContainerView() {
    QWidget* root = containerViewController_->view();
    QWidget* card = containerView_.data();
    if (card == nullptr) return;
    // Frames are kept apart from the card's transform (a drag, the keyboard),
    // so they are computed as if it were the identity.
    if (backgroundView_) backgroundView_->setGeometry(root->rect());
    const double barHeight = preferredNavigationBarHeight();
    const double contentOffset = navigationBarHidden_ ? 0 : barHeight;
    const QSizeF content = contentSizeOfTopView();
    const double viewWidth = root->width();
    const double viewHeight = root->height();
    double cardHeight = content.height() + contentOffset;
    double y = 0;
    if (style_ == PopupStyle::formSheet) {
        y = (viewHeight - cardHeight) * 0.5;
    } else {
        cardHeight += safeAreaInsets_.bottom();
        y = viewHeight - cardHeight;
        cardHeight += kBottomSheetOverhang;
    }
    const double x = (viewWidth - content.width()) * 0.5;
    const int width = qRound(content.width());
    platform::setFrame(card, QRect(qRound(x), qRound(y), width, qRound(cardHeight)));
    platform::setFrame(navigationBar_, QRect(0, 0, width, qRound(barHeight)));
    platform::setFrame(contentView_, QRect(0, qRound(contentOffset), width, qRound(content.height())));
    if (auto top = topViewController()) {
        if (QWidget* view = top->viewIfLoaded(); view != nullptr && view->parentWidget() == contentView_) {
            view->setGeometry(0, 0, width, qRound(content.height()));
        }
    }
}

void PopupController::orientationDidChange() {
    endEditing();
    std::weak_ptr<PopupController> weak = weak_from_this();
    QPointer<QWidget> card = containerView_;
    Animator::animateWithSpring(
        0.2, 0, 1.0, 0, {},
        [card] {
            if (card) platform::setAlpha(card, 0);
        },
        [weak, card](bool) {
            auto self = weak.lock();
            if (!self || !card) return;
            self->layoutContainerView();
            self->updateNavigationBar(false);
            Animator::animateWithSpring(0.2, 0, 1.0, 0, {}, [card] {
                if (card) platform::setAlpha(card, 1);
            });
        });
}

}  // namespace tervolo::widgets::popup
