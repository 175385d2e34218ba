#pragma once

#include <QColor>
#include <QMarginsF>
#include <QPointer>
#include <QSizeF>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "platform/dispatch/NotificationCenter.hpp"
#include "platform/ui/NavigationItem.hpp"
#include "platform/ui/PresentationTransitioning.hpp"
#include "widgets/popup/PopupContainerViewController.hpp"
#include "widgets/popup/PopupControllerTransitioning.hpp"
#include "widgets/popup/PopupLeftBarItem.hpp"
#include "widgets/popup/PopupNavigationBar.hpp"
#include "widgets/popup/PopupNavigationTouchEventDelegate.hpp"
#include "widgets/popup/PopupStyle.hpp"
#include "widgets/popup/PopupTransitionStyle.hpp"

namespace tervolo::widgets::popup {

// A card floating over a dimmed background, centred (form sheet) or standing
// on the bottom edge (bottom sheet), with its own navigation bar and its own
// stack of controllers; each controller states its size in the card
// (contentSizeInPopup). Not a controller itself: it presents a transparent
// container controller over the caller and builds the card inside it.
//
// A presented popup keeps itself alive until its dismissal has finished, so
// callers need not hold it. Dragging the bar down by more than 150 pt
// dismisses it; the close item dismisses it, the back item pops. Main thread
// only; sizes in points.
class PopupController : public platform::ViewControllerTransitioningDelegate,
                        public platform::ViewControllerAnimatedTransitioning,
                        public PopupNavigationTouchEventDelegate,
                        public std::enable_shared_from_this<PopupController> {
  public:
    static constexpr double kBottomSheetOverhang = 80;  // the card runs on below the screen's edge
    static constexpr double kDismissDragDistance = 150;
    static constexpr double kKeyboardMargin = 5;  // between a focused input and the keyboard

    static std::shared_ptr<PopupController> make();
    static std::shared_ptr<PopupController> make(
        std::shared_ptr<platform::ViewController> rootViewController);
    ~PopupController() override;
    PopupController(const PopupController&) = delete;
    PopupController& operator=(const PopupController&) = delete;

    // --- presentation --------------------------------------------------------
    // Nothing happens (and the completion does not run) when already presented.
    void present(platform::ViewController& viewController, std::function<void()> completion = {});
    // Nothing happens when not presented; the completion runs after the dismissal.
    void dismiss(std::function<void()> completion = {});
    // The container controller has a presenter.
    bool isPresented() const;

    // --- the stack ----------------------------------------------------------
    void pushViewController(std::shared_ptr<platform::ViewController> viewController, bool animated);
    // With one controller left, dismisses the popup.
    void popViewController(bool animated);
    void popToRootViewController(bool animated);
    std::shared_ptr<platform::ViewController> topViewController() const;
    const std::vector<std::shared_ptr<platform::ViewController>>& viewControllers() const {
        return viewControllers_;
    }

    // --- configuration -------------------------------------------------------
    PopupStyle style() const { return style_; }
    void setStyle(PopupStyle style) { style_ = style; }  // from the next layout on
    PopupTransitionStyle transitionStyle() const { return transitionStyle_; }
    void setTransitionStyle(PopupTransitionStyle style) { transitionStyle_ = style; }
    // Used with the custom transition style; held weakly. Without one the
    // card slides.
    std::shared_ptr<PopupControllerTransitioning> transitioning() const { return transitioning_.lock(); }
    void setTransitioning(std::weak_ptr<PopupControllerTransitioning> transitioning) {
        transitioning_ = std::move(transitioning);
    }
    double cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(double radius);
    bool isNavigationBarHidden() const { return navigationBarHidden_; }
    void setNavigationBarHidden(bool hidden, bool animated = false);
    bool hidesCloseButton() const { return hidesCloseButton_; }
    void setHidesCloseButton(bool hides);
    // The bottom inset goes below a bottom sheet's content. Taken from the
    // presenter's window at presentation (none on a desktop) unless set here.
    QMarginsF safeAreaInsets() const { return safeAreaInsets_; }
    void setSafeAreaInsets(QMarginsF insets);

    PopupNavigationBar* navigationBar() const { return navigationBar_.data(); }
    // Full-screen, behind the card; a tap on it ends editing in the card.
    QWidget* backgroundView() const { return backgroundView_.data(); }
    // The popup takes `view` (it is deleted with the popup).
    void setBackgroundView(QWidget* view);
    // The card: white, clipping its subviews.
    QWidget* containerView() const { return containerView_.data(); }
    QWidget* contentView() const { return contentView_.data(); }
    PopupLeftBarItem& defaultLeftBarItem() const { return *defaultLeftBarItem_; }
    std::shared_ptr<PopupContainerViewController> containerViewController() const {
        return containerViewController_;
    }

    // The owner calls it when the window's size class or orientation changes:
    // the card fades out, is laid out again and fades back in.
    void orientationDidChange();

    // --- the pieces others call ---------------------------------------------
    void layoutContainerView();
    void updateNavigationBar(bool animated);
    // The bar height of a plain navigation controller.
    static double preferredNavigationBarHeight();
    QSizeF contentSizeOfTopView() const;

    // How far (points, upwards) the card moves for the keyboard; none: it
    // stays where it is.
    struct KeyboardAvoidance {
        PopupStyle style = PopupStyle::formSheet;
        double viewHeight = 0;       // H
        double statusBarHeight = 0;  // s
        double cardY = 0;            // y
        double cardHeight = 0;       // h
        double keyboardHeight = 0;   // k
        double safeAreaBottom = 0;
        double inputTop = 0;  // in the view's coordinates
        double inputHeight = 0;
    };
    static std::optional<double> keyboardOffset(const KeyboardAvoidance& geometry);

    // --- the platform's transition calls -------------------------------------
    std::shared_ptr<platform::ViewControllerAnimatedTransitioning> animationControllerForPresented(
        platform::ViewController& presented, platform::ViewController& presenting,
        platform::ViewController& source) override;
    std::shared_ptr<platform::ViewControllerAnimatedTransitioning> animationControllerForDismissed(
        platform::ViewController& dismissed) override;
    double transitionDuration(const platform::ViewControllerContextTransitioning& context) const override;
    void animateTransition(platform::ViewControllerContextTransitioning& context) override;

    // --- the bar's drag -----------------------------------------------------
    void popupNavigationBarTouchDidMove(PopupNavigationBar& bar, double offset) override;
    void popupNavigationBarTouchDidEnd(PopupNavigationBar& bar, double offset) override;

    // Key presses of the card's items (public for the bar's and the tests' sake).
    void leftBarItemDidTap();
    void bgViewDidTap();
    // Called on the keyboard notifications and focus changes.
    void keyboardWillShow(const platform::NotificationCenter::UserInfo& userInfo);
    void keyboardWillHide(const platform::NotificationCenter::UserInfo& userInfo);
    void firstResponderDidChange();
    void adjustContainerViewOrigin();
    // The focused text input inside `view`, or null.
    static QWidget* currentTextInput(QWidget* view);

  protected:
    // For subclasses: construct, then setup() before any other call.
    PopupController();
    void setup();

  private:
    void setupObservers();
    void destroyObservers();
    void setupObservers(const std::shared_ptr<platform::ViewController>& viewController);
    void destroyObservers(const platform::ViewController& viewController);
    void transit(const std::shared_ptr<platform::ViewController>& from,
                 const std::shared_ptr<platform::ViewController>& to, bool animated);
    void placeTopView(platform::ViewController& top);
    std::shared_ptr<PopupControllerTransitioning> transitionObject() const;
    void runCardTransition(PopupControllerTransitioningContext::Action action, std::function<void()> done);
    void setCardInteraction(bool enabled);
    void endEditing();
    void releaseHostedTitleView();
    static bool isShown(platform::ViewController& viewController);

    std::shared_ptr<PopupContainerViewController> containerViewController_;
    std::vector<std::shared_ptr<platform::ViewController>> viewControllers_;
    QPointer<QWidget> contentView_;
    std::shared_ptr<PopupLeftBarItem> defaultLeftBarItem_;
    std::optional<platform::NotificationCenter::UserInfo> keyboardInfo_;
    bool didOverrideSafeAreaInsets_ = false;
    bool observing_ = false;
    std::shared_ptr<PopupControllerTransitioningSlideVertical> transitioningSlideVertical_;
    std::shared_ptr<PopupControllerTransitioningFade> transitioningFade_;

    PopupStyle style_ = PopupStyle::formSheet;
    PopupTransitionStyle transitionStyle_ = PopupTransitionStyle::slideVertical;
    std::weak_ptr<PopupControllerTransitioning> transitioning_;
    double cornerRadius_ = 0;
    bool navigationBarHidden_ = false;
    bool hidesCloseButton_ = false;
    QMarginsF safeAreaInsets_;
    QPointer<PopupNavigationBar> navigationBar_;
    QPointer<QWidget> backgroundView_;
    QPointer<QWidget> containerView_;

    // What the bar shows now, and a controller's title view lent to it.
    std::shared_ptr<platform::NavigationItem> barItem_;
    QPointer<QWidget> hostedTitleView_;
    QPointer<QObject> eventFilter_;
    std::vector<std::unique_ptr<platform::NotificationCenter::Token>> notificationTokens_;
    std::unique_ptr<platform::NavigationObservers::Token> barToken_;
    std::map<const platform::ViewController*,
             std::vector<std::unique_ptr<platform::NavigationObservers::Token>>>
        viewControllerTokens_;
};

}  // namespace tervolo::widgets::popup
