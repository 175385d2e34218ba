#include "widgets/popup/PopupController.hpp"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTextEdit>

#include <set>

#include "platform/dispatch/DispatchQueue.hpp"
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

constexpr double kTransitionWatchdogGrace = 1.0;

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

Animator::Options easeOut() {
    Animator::Options options;
    options.curve = Animator::Curve::EaseOut;
    return options;
}

template <class T>
std::optional<T> userInfoValue(const platform::NotificationCenter::UserInfo& info, const char* key) {
    auto found = info.find(key);
    if (found == info.end()) return std::nullopt;
    if (auto* value = std::any_cast<T>(&found->second)) return *value;
    return std::nullopt;
}

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

bool isTextInput(const QWidget* widget) {
    if (qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QTextEdit*>(widget) ||
        qobject_cast<const QPlainTextEdit*>(widget) || qobject_cast<const QAbstractSpinBox*>(widget)) {
        return true;
    }
    if (auto* combo = qobject_cast<const QComboBox*>(widget)) return combo->isEditable();
    return widget->testAttribute(Qt::WA_InputMethodEnabled);
}

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

// --- keyboard ----------------------------------------------------------------

QWidget* PopupController::currentTextInput(QWidget* view) {
    if (view == nullptr) return nullptr;
    // The window's focus widget: set by setFocus even while the window is
    // not the active one.
    QWidget* focused = view->window()->focusWidget();
    if (focused == nullptr || !(focused == view || view->isAncestorOf(focused))) return nullptr;
    return isTextInput(focused) ? focused : nullptr;
}

void PopupController::keyboardWillShow(const platform::NotificationCenter::UserInfo& userInfo) {
    if (currentTextInput(containerView_) == nullptr) return;
    keyboardInfo_ = userInfo;
    adjustContainerViewOrigin();
}

void PopupController::keyboardWillHide(const platform::NotificationCenter::UserInfo& userInfo) {
    keyboardInfo_.reset();
    const double duration =
        userInfoValue<double>(userInfo, platform::UIKeyboardAnimationDurationUserInfoKey).value_or(0);
    QPointer<QWidget> card = containerView_;
    Animator::animate(duration, [card] {
        if (card) platform::setTransform(card, QTransform());
    });
}

void PopupController::firstResponderDidChange() {
    adjustContainerViewOrigin();
}

std::optional<double> PopupController::keyboardOffset(const KeyboardAvoidance& g) {
    if (g.style == PopupStyle::bottomSheet) return g.keyboardHeight - g.safeAreaBottom;
    const double available = g.viewHeight - g.keyboardHeight - g.statusBarHeight;
    if (g.cardHeight <= available) return g.cardY - (g.statusBarHeight + (available - g.cardHeight) * 0.5);
    const double keyboardTop = g.viewHeight - g.keyboardHeight - kKeyboardMargin;
    double offset = g.cardY + g.cardHeight - keyboardTop;
    if (offset <= 0) return std::nullopt;
    if (g.cardY - offset < g.statusBarHeight) {
        offset = g.cardY - g.statusBarHeight;
        const double inputBottom = g.inputTop + g.inputHeight;
        if (inputBottom - offset > keyboardTop) offset = inputBottom - keyboardTop;
    }
    return offset;
}

void PopupController::adjustContainerViewOrigin() {
    if (!keyboardInfo_) return;
    QWidget* input = currentTextInput(containerView_);
    if (input == nullptr) return;
    QWidget* root = containerViewController_->view();
    const auto endFrame = userInfoValue<QRectF>(*keyboardInfo_, platform::UIKeyboardFrameEndUserInfoKey);
    const double duration =
        userInfoValue<double>(*keyboardInfo_, platform::UIKeyboardAnimationDurationUserInfoKey).value_or(0);
    KeyboardAvoidance geometry;
    geometry.style = style_;
    geometry.viewHeight = root->height();
    geometry.statusBarHeight = 0;  // no status bar on a desktop
    const QRect card = platform::frame(containerView_);
    geometry.cardY = card.y();
    geometry.cardHeight = card.height();
    geometry.keyboardHeight = endFrame ? endFrame->height() : 0;
    geometry.safeAreaBottom = safeAreaInsets_.bottom();
    // The input's place with the card at rest: its offset in the card plus
    // the card's frame.
    geometry.inputTop = card.y() + input->mapTo(containerView_, QPoint(0, 0)).y();
    geometry.inputHeight = input->height();
    const auto offset = keyboardOffset(geometry);
    if (!offset) return;
    QPointer<QWidget> guarded = containerView_;
    const double dy = *offset;
    Animator::animate(duration, [guarded, dy] {
        if (guarded) platform::setTransform(guarded, QTransform::fromTranslate(0, -dy));
    });
}

void PopupController::endEditing() {
    if (QWidget* input = containerView_ ? containerView_->window()->focusWidget() : nullptr;
        input != nullptr && containerView_->isAncestorOf(input)) {
        input->clearFocus();
    }
}

void PopupController::bgViewDidTap() {
    endEditing();
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
