#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

#include "platform/ui/AnimationWidget.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/KeyboardNotifications.hpp"
#include "widgets/popup/PopupController.hpp"

// The popup and the keyboard: the card moves up out of the way of a focused input.
namespace tervolo::widgets::popup {

using platform::Animator;
using platform::ViewController;
using Action = PopupControllerTransitioningContext::Action;
using Key = platform::ViewControllerContextTransitioning::Key;

namespace {

template <class T>
std::optional<T> userInfoValue(const platform::NotificationCenter::UserInfo& info, const char* key) {
    auto found = info.find(key);
    if (found == info.end()) return std::nullopt;
    if (auto* value = std::any_cast<T>(&found->second)) return *value;
    return std::nullopt;
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

}  // namespace tervolo::widgets::popup
