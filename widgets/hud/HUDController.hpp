#pragma once

#include <QPointer>
#include <QWidget>

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/NotificationCenter.hpp"
#include "widgets/hud/FrameView.hpp"
#include "widgets/hud/HUDCompletion.hpp"

namespace platform {
class Timer;
}

namespace tervolo::widgets::hud {

class ContainerView;

// Shows one content view in the HUD's panel over a target view, and takes it away: at once or after
// a grace period (gracePeriod, seconds), and at once, with a 0.8 s fade, or after a delay. The HUD
// façade drives the shared instance; screens use the façade.
//
// Timing (run-loop timers on the main queue, so a VirtualClock drives them in tests):
// - show: the dimming fades in over 0.175 s (dimsBackground); the panel appears at once, or when the
//   grace period ends unless a hide came first;
// - hide(animated): the panel and dimming fade over 0.8 s, then the container leaves the target and
//   the completion gets true; a hide while nothing shows does nothing and calls no completion;
// - hide(afterDelay): one pending delayed hide at a time; a newer one replaces it, and the replaced
//   completion is dropped without being called.
// A show during a fading hide keeps the new panel on screen. Returning to the foreground
// ("UIApplicationWillEnterForegroundNotification") restarts the content's animation while visible.
// Main thread only.
class HUDController {
  public:
    HUDController();
    explicit HUDController(QWidget* viewToPresentOn);
    virtual ~HUDController();
    HUDController(const HUDController&) = delete;
    HUDController& operator=(const HUDController&) = delete;

    // The instance the HUD façade and the panels' layout use; made on first use (a QApplication must
    // exist by then). Tests put their own in its place with SharedInstance::replaceForTesting.
    static HUDController& sharedHUD();

    // The view to show on when show() is given none (not owned).
    QWidget* viewToPresentOn() const { return viewToPresentOn_; }
    void setViewToPresentOn(QWidget* view) { viewToPresentOn_ = view; }
    double gracePeriod() const { return gracePeriod_; }
    void setGracePeriod(double seconds) { gracePeriod_ = seconds; }
    double graceTime() const { return gracePeriod_; }
    void setGraceTime(double seconds) { gracePeriod_ = seconds; }
    bool dimsBackground() const { return dimsBackground_; }
    void setDimsBackground(bool dims) { dimsBackground_ = dims; }
    // False (the default): the HUD takes the mouse over the whole target while it shows.
    bool userInteractionOnUnderlyingViewsEnabled() const;
    void setUserInteractionOnUnderlyingViewsEnabled(bool enabled);
    // Insets (points) that move the square panels' rows right by their sum.
    double leadingMargin() const { return leadingMargin_; }
    void setLeadingMargin(double margin) { leadingMargin_ = margin; }
    double trailingMargin() const { return trailingMargin_; }
    void setTrailingMargin(double margin) { trailingMargin_ = margin; }

    // True while the panel is revealed (also while it fades out).
    bool isVisible() const;
    // The panel's content. Setting it replaces (and releases) the previous one and starts the new
    // one's animation when the HUD is visible.
    QWidget* contentView() const;
    void setContentView(QWidget* view);
    std::optional<FrameView::BlurStyle> effect() const;
    void setEffect(std::optional<FrameView::BlurStyle> effect);

    // Target: `onView`, else viewToPresentOn, else the active window (else the first visible main
    // window); with none, nothing happens.
    virtual void show(QWidget* onView = nullptr);
    virtual void hide(bool animated, HUDCompletion completion = {});
    virtual void hide(double afterDelay, HUDCompletion completion = {});

    // The full-size layer with the panel (the façade's keyboard registration, tests). Made anew if a
    // target that held it was destroyed.
    ContainerView& container() const;

    static constexpr const char* kTimerActionKey = "timerActionKey";
    static constexpr const char* kWillEnterForegroundNotification =
        "UIApplicationWillEnterForegroundNotification";

  private:
    void showContent();
    void handleGraceTimer(platform::Timer& timer);
    void performDelayedHide(platform::Timer* timer);
    void willEnterForeground();
    void startAnimatingContent();
    void stopAnimatingContent();

    QPointer<QWidget> viewToPresentOn_;
    mutable QPointer<ContainerView> container_;
    std::shared_ptr<platform::Timer> hideTimer_;
    std::map<std::string, HUDCompletion> timerActions_;
    double gracePeriod_ = 0;
    std::shared_ptr<platform::Timer> graceTimer_;
    bool dimsBackground_ = true;
    double leadingMargin_ = 0;
    double trailingMargin_ = 0;
    bool interactionOnUnderlyingViews_ = false;
    std::unique_ptr<platform::NotificationCenter::Token> foregroundObservation_;
};

}  // namespace tervolo::widgets::hud
