#include "widgets/hud/HUDController.hpp"

#include <QApplication>

#include "platform/dispatch/SharedInstance.hpp"
#include "platform/dispatch/Timer.hpp"
#include "platform/foundation/OSLog.hpp"
#include "platform/text/UUID.hpp"
#include "platform/ui/AnimationWidget.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/ViewControllerMainThread.hpp"
#include "widgets/hud/ContainerView.hpp"
#include "widgets/hud/HUDAnimating.hpp"

namespace tervolo::widgets::hud {

namespace {

constexpr double kDimDuration = 0.175;  // seconds

const std::shared_ptr<platform::OSLog>& hudLog() {
    static const auto log = platform::OSLog::make("org.tervolo.TervoloNG", "hud");
    return log;
}

// The window a HUD without a target goes to: the active one, else a main window on screen.
QWidget* keyWindow() {
    if (QWidget* active = QApplication::activeWindow()) return active;
    for (auto* window : platform::MainWindow::windows()) {
        if (window->isVisible()) return window;
    }
    return nullptr;
}

HUDAnimating* animating(QWidget* content) {
    return dynamic_cast<HUDAnimating*>(content);
}

}  // namespace

HUDController& HUDController::sharedHUD() {
    return platform::SharedInstance<HUDController>::get();
}

HUDController::HUDController() {
    container();
    foregroundObservation_ = platform::NotificationCenter::defaultCenter().addObserver(
        kWillEnterForegroundNotification, nullptr, [this](const auto&) { willEnterForeground(); });
    setUserInteractionOnUnderlyingViewsEnabled(false);
}

HUDController::HUDController(QWidget* viewToPresentOn) : HUDController() {
    viewToPresentOn_ = viewToPresentOn;
}

HUDController::~HUDController() {
    foregroundObservation_.reset();
    if (graceTimer_) graceTimer_->invalidate();
    if (hideTimer_) hideTimer_->invalidate();
    delete container_.data();
}

ContainerView& HUDController::container() const {
    if (!container_) {
        container_ = new ContainerView(new FrameView());
        container_->setObjectName(QStringLiteral("HUDController"));
        container_->setUserInteractionEnabled(!interactionOnUnderlyingViews_);
    }
    return *container_;
}

bool HUDController::userInteractionOnUnderlyingViewsEnabled() const {
    return !container().isUserInteractionEnabled();
}

void HUDController::setUserInteractionOnUnderlyingViewsEnabled(bool enabled) {
    interactionOnUnderlyingViews_ = enabled;
    container().setUserInteractionEnabled(!enabled);
}

bool HUDController::isVisible() const {
    return container_ && !container_->isHidden();
}

QWidget* HUDController::contentView() const {
    return container().frameView()->content();
}

void HUDController::setContentView(QWidget* view) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    container().frameView()->setContent(view);
    startAnimatingContent();
}

std::optional<FrameView::BlurStyle> HUDController::effect() const {
    return container().frameView()->effect();
}

void HUDController::setEffect(std::optional<FrameView::BlurStyle> effect) {
    container().frameView()->setEffect(effect);
}

void HUDController::show(QWidget* onView) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    QWidget* target = onView ? onView : viewToPresentOn_ ? viewToPresentOn_.data() : keyWindow();
    if (!target) {
        hudLog()->write(platform::OSLogType::Debug, "HUD not shown: no view to show it on");
        return;
    }
    auto& box = container();
    // A fade still running from an earlier hide must not take this showing away when it ends.
    box.cancelPendingDismissal();
    if (box.parentWidget() != target) {
        box.setParent(target);
        box.setGeometry(target->rect());
        box.hide();
    }
    box.raise();
    if (dimsBackground_) {
        platform::Animator::animate(kDimDuration, [&] { platform::setAlpha(box.backgroundView(), 1.0); });
    }
    if (gracePeriod_ > 0) {
        // A grace period asked for again starts over.
        if (graceTimer_) graceTimer_->invalidate();
        graceTimer_ = platform::Timer::scheduled(gracePeriod_, false,
                                                 [this](platform::Timer& timer) { handleGraceTimer(timer); });
        return;
    }
    showContent();
}

void HUDController::showContent() {
    if (graceTimer_) {
        graceTimer_->invalidate();
        graceTimer_.reset();
    }
    container().revealFrameView();
    startAnimatingContent();
}

void HUDController::handleGraceTimer(platform::Timer& timer) {
    if (graceTimer_.get() != &timer || !timer.isValid()) return;
    showContent();
}

void HUDController::hide(bool animated, HUDCompletion completion) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (graceTimer_) {
        graceTimer_->invalidate();
        graceTimer_.reset();
    }
    container().dismissFrameView(animated, std::move(completion));
    stopAnimatingContent();
}

void HUDController::hide(double afterDelay, HUDCompletion completion) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    const std::string key = platform::UUID::random().uuidString();
    if (completion) timerActions_[key] = std::move(completion);
    if (hideTimer_) {
        // The replaced hide never runs, and neither does its completion: let it go.
        if (const auto* info = std::any_cast<std::map<std::string, std::string>>(&hideTimer_->userInfo())) {
            if (const auto old = info->find(kTimerActionKey); old != info->end())
                timerActions_.erase(old->second);
        }
        hideTimer_->invalidate();
    }
    hideTimer_ = platform::Timer::scheduled(
        afterDelay, false, [this](platform::Timer& timer) { performDelayedHide(&timer); },
        std::map<std::string, std::string>{{kTimerActionKey, key}});
}

void HUDController::performDelayedHide(platform::Timer* timer) {
    HUDCompletion completion;
    if (timer) {
        if (const auto* info = std::any_cast<std::map<std::string, std::string>>(&timer->userInfo())) {
            if (const auto key = info->find(kTimerActionKey); key != info->end()) {
                if (auto action = timerActions_.find(key->second); action != timerActions_.end()) {
                    completion = std::move(action->second);
                    timerActions_.erase(action);
                }
            }
        }
        if (hideTimer_.get() == timer) hideTimer_.reset();
    }
    hide(true, std::move(completion));
}

void HUDController::willEnterForeground() {
    startAnimatingContent();
}

void HUDController::startAnimatingContent() {
    auto* content = animating(contentView());
    if (content && isVisible()) content->startAnimation();
}

void HUDController::stopAnimatingContent() {
    auto* content = animating(contentView());
    if (content && content->hasStopAnimation()) content->stopAnimation();
}

}  // namespace tervolo::widgets::hud
