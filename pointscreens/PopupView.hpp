#pragma once

#include <QPointer>
#include <QSizeF>
#include <QWidget>

#include <functional>
#include <memory>

#include "platform/ui/ViewController.hpp"
#include "widgets/popup/PopupController.hpp"
#include "widgets/popup/PopupStyle.hpp"

namespace tervolo::pointscreens {

// Shows a content widget in a popup while a flag is true: the value the
// owner keeps (isPresented, style, dismissal call, content) and the bridge
// controller that turns its updates into a popup. The content is made by a
// factory, so that each update can hand in fresh content. Main thread only.
struct PopupView {
    // Makes the content widget (the popup owns what it returns).
    using ContentFactory = std::function<QWidget*()>;

    bool isPresented = false;
    widgets::popup::PopupStyle style = widgets::popup::PopupStyle::formSheet;
    std::function<void()> onDismiss;
    ContentFactory contentView;

    class PopupViewController;
    class HostingController;

    // A new bridge controller in its initial state.
    static std::shared_ptr<PopupViewController> makeViewController();
    // Copies content, isPresented, style and onDismiss into `controller`, in
    // this order, then lets it update its popup.
    void updateViewController(PopupViewController& controller) const;
};

// Shows one content widget; its root view can be replaced in place.
class PopupView::HostingController : public platform::ViewController {
  public:
    explicit HostingController(ContentFactory rootView) : rootView_(std::move(rootView)) {}
    void setRootView(ContentFactory rootView);
    QWidget* content() const { return content_; }
    // The content's preferred size, at most `bounds`.
    QSizeF sizeThatFits(QSizeF bounds) const;
    void loadView() override;

  private:
    void build();
    ContentFactory rootView_;
    QPointer<QWidget> content_;
};

// The bridge: waits for its first appearance, is idle without a popup, and
// shows one (hostingController present) from an update with isPresented
// true and content until an update with isPresented false. Destroyed while
// showing, it closes its popup.
class PopupView::PopupViewController : public platform::ViewController {
  public:
    PopupViewController();
    ~PopupViewController() override;

    const ContentFactory& contentView() const { return contentView_; }
    void setContentView(ContentFactory content) { contentView_ = std::move(content); }
    bool isPresented() const { return isPresented_; }
    void setIsPresented(bool presented) { isPresented_ = presented; }
    widgets::popup::PopupStyle style() const { return style_; }
    void setStyle(widgets::popup::PopupStyle style) { style_ = style; }
    const std::function<void()>& onDismiss() const { return onDismiss_; }
    void setOnDismiss(std::function<void()> onDismiss) { onDismiss_ = std::move(onDismiss); }
    const std::shared_ptr<HostingController>& hostingController() const { return hostingController_; }
    bool didAppear() const { return didAppear_; }

    void loadView() override;
    void viewDidAppear(bool animated) override;
    // After each layout of the view (its resizes): a shown content gets the
    // size it fits in this view's bounds.
    void viewDidLayoutSubviews();
    void updatePopup();

  private:
    QSizeF boundsSize() const;

    ContentFactory contentView_;
    bool isPresented_ = false;
    widgets::popup::PopupStyle style_ = widgets::popup::PopupStyle::formSheet;
    std::function<void()> onDismiss_;
    std::shared_ptr<HostingController> hostingController_;
    bool didAppear_ = false;
    QPointer<QObject> layoutEvents_;
};

}  // namespace tervolo::pointscreens
