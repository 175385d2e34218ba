#pragma once

#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>

namespace tervolo::widgets::popup {

// What a card transition is told: which way it runs and the card to move.
class PopupControllerTransitioningContext {
  public:
    enum class Action : std::uint64_t { present = 0, dismiss = 1 };

    PopupControllerTransitioningContext(QWidget* containerView, Action action)
        : action_(action), containerView_(containerView) {}

    Action action() const { return action_; }
    // The popup's card.
    QWidget* containerView() const { return containerView_.data(); }

  private:
    Action action_;
    QPointer<QWidget> containerView_;
};

// Moves a popup's card in or out. The popup controller fades the background
// and blocks input around it. Main thread only.
class PopupControllerTransitioning {
  public:
    virtual ~PopupControllerTransitioning() = default;
    // Seconds.
    virtual double popupControllerTransitionDuration(const PopupControllerTransitioningContext& context) = 0;
    // Animates the card and calls `completion` once, when the card has
    // arrived. A transition that never calls it is finished for it by the
    // popup controller a second after its duration.
    virtual void popupControllerAnimateTransition(const PopupControllerTransitioningContext& context,
                                                  std::function<void()> completion) = 0;
};

// The card rises from the bottom edge with a spring (0.5 s) and leaves
// through it (0.35 s, ease-out), starting from wherever a drag left it.
class PopupControllerTransitioningSlideVertical : public PopupControllerTransitioning {
  public:
    static constexpr double kPresentDuration = 0.5;
    static constexpr double kDismissDuration = 0.35;

    double popupControllerTransitionDuration(const PopupControllerTransitioningContext& context) override;
    void popupControllerAnimateTransition(const PopupControllerTransitioningContext& context,
                                          std::function<void()> completion) override;
};

// The card fades in while shrinking from 1.05 to its size (0.25 s) and fades
// out (0.2 s), both ease-out.
class PopupControllerTransitioningFade : public PopupControllerTransitioning {
  public:
    static constexpr double kPresentDuration = 0.25;
    static constexpr double kDismissDuration = 0.2;
    static constexpr double kPresentScale = 1.05;

    double popupControllerTransitionDuration(const PopupControllerTransitioningContext& context) override;
    void popupControllerAnimateTransition(const PopupControllerTransitioningContext& context,
                                          std::function<void()> completion) override;
};

}  // namespace tervolo::widgets::popup
