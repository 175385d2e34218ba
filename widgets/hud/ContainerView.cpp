#include "widgets/hud/ContainerView.hpp"

#include <QEvent>
#include <QPainter>
#include <QPointer>

#include <any>
#include <cmath>

#include "platform/ui/AnimationWidget.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/KeyboardNotifications.hpp"
#include "widgets/hud/FrameView.hpp"

namespace tervolo::widgets::hud {

namespace {

constexpr double kDismissDuration = 0.8;  // seconds

// Black at a quarter opacity over the whole target.
class DimmingView final : public QWidget {
  public:
    explicit DimmingView(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_TranslucentBackground);
        setObjectName(QStringLiteral("HUDDimmingView"));
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter(this).fillRect(rect(), QColor::fromRgbF(0, 0, 0, 0.25f));
    }
};

// A number in a notification's user info, whichever arithmetic type the poster used.
std::optional<double> numberIn(const platform::NotificationCenter::UserInfo& info, const char* key) {
    const auto found = info.find(key);
    if (found == info.end()) return std::nullopt;
    const std::any& value = found->second;
    if (const auto* d = std::any_cast<double>(&value)) return *d;
    if (const auto* f = std::any_cast<float>(&value)) return *f;
    if (const auto* i = std::any_cast<int64_t>(&value)) return static_cast<double>(*i);
    if (const auto* i = std::any_cast<int>(&value)) return *i;
    if (const auto* u = std::any_cast<uint64_t>(&value)) return static_cast<double>(*u);
    return std::nullopt;
}

// The platform's animation curves by raw value; the keyboard's own (7) eases out.
platform::Animator::Curve curveFor(int64_t raw) {
    switch (raw) {
        case 1:
            return platform::Animator::Curve::EaseIn;
        case 2:
        case 7:
            return platform::Animator::Curve::EaseOut;
        case 3:
            return platform::Animator::Curve::Linear;
        default:
            return platform::Animator::Curve::EaseInOut;
    }
}

}  // namespace

ContainerView::ContainerView(FrameView* frameView, QWidget* parent)
    : QWidget(parent), frameView_(frameView), backgroundView_(new DimmingView(this)) {
    platform::setAlpha(backgroundView_, 0);
    setAttribute(Qt::WA_TranslucentBackground);
    hide();
    frameView_->setParent(this);
    frameView_->show();
    backgroundView_->show();
    frameView_->raise();
}

ContainerView::~ContainerView() {
    // A fade cut short here still reports to its caller, but must not touch this half-destroyed view.
    ++dismissalGeneration_;
    platform::Animator::removeAll(this);
    platform::Animator::removeAll(frameView_);
    platform::Animator::removeAll(backgroundView_);
}

void ContainerView::setUserInteractionEnabled(bool enabled) {
    interactive_ = enabled;
    setAttribute(Qt::WA_TransparentForMouseEvents, !enabled);
}

QPointF ContainerView::frameViewCenter() const {
    const QPointF middle = QRectF(rect()).center();
    if (keyboardIsVisible_) return QPointF(middle.x(), (height() - keyboardHeight_) * 0.5);
    return middle;
}

void ContainerView::centreFrameView(QPointF centre) {
    const QSize size = platform::frame(frameView_).size();
    platform::setFrame(frameView_, QRect(static_cast<int>(std::lround(centre.x() - size.width() / 2.0)),
                                         static_cast<int>(std::lround(centre.y() - size.height() / 2.0)),
                                         size.width(), size.height()));
}

void ContainerView::layoutSubviews() {
    centreFrameView(frameViewCenter());
    backgroundView_->setGeometry(rect());
}

void ContainerView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutSubviews();
}

bool ContainerView::event(QEvent* event) {
    switch (event->type()) {
        case QEvent::ParentChange:
            // Follow the target's size for as long as the container lies in it.
            if (watchedParent_) watchedParent_->removeEventFilter(this);
            watchedParent_ = parentWidget();
            if (watchedParent_) watchedParent_->installEventFilter(this);
            break;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
            // Taken here so that they do not travel on to the target below.
            event->accept();
            return true;
        default:
            break;
    }
    return QWidget::event(event);
}

bool ContainerView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == watchedParent_ && event->type() == QEvent::Resize) setGeometry(watchedParent_->rect());
    return QWidget::eventFilter(watched, event);
}

void ContainerView::revealFrameView() {
    platform::Animator::removeAll(this);
    cancelPendingDismissal();
    centreFrameView(frameViewCenter());
    // The picture behind the panel, taken while the container is still hidden.
    if (isHidden()) frameView_->captureBackdrop(parentWidget(), pos());
    platform::setAlpha(frameView_, 1.0);
    show();
    raise();
}

void ContainerView::cancelPendingDismissal() {
    ++dismissalGeneration_;
}

void ContainerView::dismissFrameView(bool animated, HUDCompletion completion) {
    if (isHidden()) return;
    const uint64_t generation = ++dismissalGeneration_;
    QPointer<ContainerView> self(this);
    auto finish = [self, generation, completion = std::move(completion)] {
        // A reveal since this dismissal began owns the container now.
        if (self && self->dismissalGeneration_ == generation) {
            self->hide();
            self->setParent(nullptr);
        }
        if (completion) completion(true);
    };
    if (!animated) {
        platform::Animator::performWithoutAnimation([&] { platform::setAlpha(frameView_, 0); });
        finish();
        return;
    }
    platform::Animator::animate(
        kDismissDuration,
        [&] {
            platform::setAlpha(frameView_, 0);
            platform::setAlpha(backgroundView_, 0);
        },
        [finish = std::move(finish)](bool) { finish(); });
}

void ContainerView::moveFrameViewAnimated(const platform::NotificationCenter::Notification& notification,
                                          QPointF centre) {
    const auto duration = numberIn(notification.userInfo, platform::UIKeyboardAnimationDurationUserInfoKey);
    const auto curve = numberIn(notification.userInfo, platform::UIKeyboardAnimationCurveUserInfoKey);
    if (!duration || !curve) return;
    platform::Animator::Options options;
    options.curve = curveFor(static_cast<int64_t>(*curve));
    platform::Animator::animate(*duration, 0, options, [&] { centreFrameView(centre); });
}

void ContainerView::keyboardWillShowWithNotification(
    const platform::NotificationCenter::Notification& notification) {
    keyboardIsVisible_ = true;
    if (notification.userInfo.empty()) return;
    const auto frame = notification.userInfo.find(platform::UIKeyboardFrameBeginUserInfoKey);
    if (frame != notification.userInfo.end()) {
        if (const auto* rect = std::any_cast<QRectF>(&frame->second)) keyboardHeight_ = rect->height();
    }
    if (!isHidden()) moveFrameViewAnimated(notification, frameViewCenter());
}

void ContainerView::keyboardWillBeHiddenWithNotification(
    const platform::NotificationCenter::Notification& notification) {
    keyboardIsVisible_ = false;
    if (isHidden() || notification.userInfo.empty()) return;
    moveFrameViewAnimated(notification, QRectF(rect()).center());
}

void ContainerView::startObservingKeyboard() {
    auto& center = platform::NotificationCenter::defaultCenter();
    QPointer<ContainerView> self(this);
    keyboardShown_ =
        center.addObserver(platform::UIKeyboardDidShowNotification, nullptr, [self](const auto& note) {
            if (self) self->keyboardWillShowWithNotification(note);
        });
    keyboardHidden_ =
        center.addObserver(platform::UIKeyboardWillHideNotification, nullptr, [self](const auto& note) {
            if (self) self->keyboardWillBeHiddenWithNotification(note);
        });
}

void ContainerView::stopObservingKeyboard() {
    keyboardShown_.reset();
    keyboardHidden_.reset();
}

}  // namespace tervolo::widgets::hud
