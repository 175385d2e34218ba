#pragma once

#include <QPointF>
#include <QWidget>

#include <cstdint>
#include <memory>

#include "platform/dispatch/NotificationCenter.hpp"
#include "widgets/hud/HUDCompletion.hpp"

namespace tervolo::widgets::hud {

class FrameView;

// The HUD's full-size layer over its target view: a dimming view (black at a quarter opacity, itself
// faded in and out) under the panel (FrameView), which it keeps in its middle, or in the middle of
// the part above the on-screen keyboard while one is reported. It follows the target's size. Hidden
// while no panel shows, and taken out of the target after each completed dismissal. While it takes
// user interaction (the default) it swallows the mouse over the whole target.
//
// A reveal cancels a fading dismissal still running: that fade's completion then only reports to its
// own caller and no longer hides and detaches the container, so a panel shown during the fade stays.
// Main thread only; points.
class ContainerView : public QWidget {
    Q_OBJECT

  public:
    explicit ContainerView(FrameView* frameView, QWidget* parent = nullptr);
    ~ContainerView() override;

    FrameView* frameView() const { return frameView_; }
    QWidget* backgroundView() const { return backgroundView_; }
    bool keyboardIsVisible() const { return keyboardIsVisible_; }
    double keyboardHeight() const { return keyboardHeight_; }

    // Whether the container takes the mouse (else events reach the views below).
    bool isUserInteractionEnabled() const { return interactive_; }
    void setUserInteractionEnabled(bool enabled);

    // Where layout puts the panel's centre: the middle, or above a reported keyboard.
    QPointF frameViewCenter() const;

    void revealFrameView();
    // Fades the panel and the dimming out over 0.8 s (animated) or takes them away at once; then
    // hides and detaches the container and calls `completion` with true. A hidden container does
    // nothing and never calls the completion.
    void dismissFrameView(bool animated, HUDCompletion completion = {});
    // Stops a running fade from hiding and detaching the container when it ends.
    void cancelPendingDismissal();

    // Handlers of the keyboard notifications (user info: platform/ui/KeyboardNotifications.hpp).
    void keyboardWillShowWithNotification(const platform::NotificationCenter::Notification& notification);
    void keyboardWillBeHiddenWithNotification(const platform::NotificationCenter::Notification& notification);
    // Observes "UIKeyboardDidShowNotification" and "UIKeyboardWillHideNotification" on the default
    // centre from any sender, until stopObservingKeyboard (or the container's end).
    void startObservingKeyboard();
    void stopObservingKeyboard();

    void layoutSubviews();

  protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void centreFrameView(QPointF centre);
    void moveFrameViewAnimated(const platform::NotificationCenter::Notification& notification,
                               QPointF centre);

    bool keyboardIsVisible_ = false;
    double keyboardHeight_ = 0;
    FrameView* frameView_;
    QWidget* backgroundView_;
    bool interactive_ = true;
    uint64_t dismissalGeneration_ = 0;
    QWidget* watchedParent_ = nullptr;
    std::unique_ptr<platform::NotificationCenter::Token> keyboardShown_;
    std::unique_ptr<platform::NotificationCenter::Token> keyboardHidden_;
};

}  // namespace tervolo::widgets::hud
