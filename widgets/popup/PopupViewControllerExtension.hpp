#pragma once

#include <QSizeF>

#include <memory>

#include "platform/ui/NavigationObservers.hpp"
#include "platform/ui/ViewControllerExtension.hpp"

namespace platform {
class ViewController;
}

namespace tervolo::widgets::popup {

class PopupController;

// What every controller knows about popups: the size it wants inside one,
// in portrait and landscape, and the popup showing it. Inside a popup its
// present, dismiss and presentation links go to the popup (a dismissal ends
// the whole popup, always animated), and its view starts at the size it asks
// for. Attached to a controller on first use; main thread only.
class PopupViewControllerExtension : public platform::ViewControllerExtension {
  public:
    // The controller's extension, attached now when it has none.
    static PopupViewControllerExtension& of(platform::ViewController& controller);
    // Null when none was attached.
    static PopupViewControllerExtension* find(const platform::ViewController& controller);

    QSizeF contentSizeInPopup() const { return contentSize_; }
    QSizeF landscapeContentSizeInPopup() const { return landscapeContentSize_; }
    std::shared_ptr<PopupController> popupController() const { return popupController_.lock(); }
    void setPopupController(std::weak_ptr<PopupController> controller) {
        popupController_ = std::move(controller);
    }

    // Told after each change of either content size.
    [[nodiscard]] std::unique_ptr<platform::NavigationObservers::Token> observe(
        platform::NavigationObservers::Callback callback) {
        return observers_.add(std::move(callback));
    }

    void viewWillLoad(platform::ViewController& controller) override;
    bool present(platform::ViewController& controller, std::shared_ptr<platform::ViewController>& presented,
                 bool animated, std::function<void()>& completion) override;
    bool dismiss(platform::ViewController& controller, bool animated,
                 std::function<void()>& completion) override;
    std::shared_ptr<platform::ViewController> presentationLinksOwner(
        const platform::ViewController& controller) const override;

    // What setContentSizeInPopup and setLandscapeContentSizeInPopup do.
    static void storeSize(platform::ViewController& controller, QSizeF size, bool landscapeSize);

  private:
    QSizeF contentSize_{0, 0};
    QSizeF landscapeContentSize_{0, 0};
    // Weak: a popup destroyed without tearing down leaves no dangling link.
    std::weak_ptr<PopupController> popupController_;
    platform::NavigationObservers observers_;
};

// A zero size means "not set". A size of zero width and some height takes its
// width from the window the controller is (or will be) shown in: its width
// for the portrait size, its height for the landscape size.
QSizeF contentSizeInPopup(const platform::ViewController& controller);
void setContentSizeInPopup(platform::ViewController& controller, QSizeF size);
// Zero: the portrait size serves in landscape too.
QSizeF landscapeContentSizeInPopup(const platform::ViewController& controller);
void setLandscapeContentSizeInPopup(platform::ViewController& controller, QSizeF size);
// The popup showing the controller or one of its parents; null outside any.
std::shared_ptr<PopupController> popupController(const platform::ViewController& controller);

// Interface orientation as the platform numbers it: 0 unknown, 1 portrait,
// 2 upside down, 3 and 4 landscape. A desktop window has none (0), so the
// portrait rules apply.
int interfaceOrientation(const platform::ViewController& controller);

// The notification posted whenever a widget of the process takes the keyboard
// focus (object: the widget, not owned; no user info). Posting starts with the
// first popup controller made.
inline constexpr const char* PopupFirstResponderDidChangeNotification =
    "PopupFirstResponderDidChangeNotification";
void startPostingFirstResponderChanges();

}  // namespace tervolo::widgets::popup
