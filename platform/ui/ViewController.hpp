#pragma once

#include <QPointer>
#include <QSizeF>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

class MainWindow;
class NavigationController;
class NavigationItem;
class PopoverPresentationController;
class RestorationCoder;
class ViewControllerExtension;
class ViewControllerTransitioningDelegate;

// How a presented controller is shown (the raw values are the platform's).
//   fullScreen          covers the presenter's window content; the controllers
//                       below disappear (viewWillDisappear/viewDidDisappear)
//   formSheet           a centred card of preferredContentSize (540 × 620 when
//                       unset) over a dimmed window; the presenter stays visible
//   custom              the transitioning delegate's animator places the view
//                       in the transition's container (whole window content);
//                       without one it fills the container; presenter stays
//   overCurrentContext  covers the presenting controller's view only; presenter stays
//   popover             a panel beside its anchor (popoverPresentationController),
//                       dismissed by a click outside it and its passthrough views
//                       or by Escape; presenter stays
enum class ModalPresentationStyle : int {
    fullScreen = 0,
    formSheet = 2,
    custom = 4,
    overCurrentContext = 6,
    popover = 7,
};

// The environment a controller is shown in. On the desktop only the
// appearance (light or dark palette) changes at run time.
struct TraitCollection {
    enum class UserInterfaceIdiom : int { unspecified = -1, phone = 0, pad = 1, mac = 5 };
    enum class SizeClass : int { unspecified = 0, compact = 1, regular = 2 };
    enum class UserInterfaceStyle : int { unspecified = 0, light = 1, dark = 2 };

    UserInterfaceIdiom userInterfaceIdiom = UserInterfaceIdiom::mac;
    SizeClass horizontalSizeClass = SizeClass::regular;
    SizeClass verticalSizeClass = SizeClass::regular;
    UserInterfaceStyle userInterfaceStyle = UserInterfaceStyle::light;

    bool operator==(const TraitCollection&) const = default;
};

// What the global "screen appeared" hook learns about a controller: its class
// name without namespaces ("MainViewController") and the chain of classes from
// it up to "ViewController" (most derived first), so a listener can match
// "this class or a subclass of it" by name.
struct ScreenAppearance {
    std::string className;
    std::vector<std::string> inheritanceChain;
};

// The base of every screen: a controller that owns one root QWidget and gets
// the lifecycle calls of the platform's view controllers.
//
// Thread: main thread only (checked in debug builds). Held by std::shared_ptr
// (create with std::make_shared); a parent holds its children, a presenting
// controller holds the controller it presents.
//
// Units: sizes and positions are in points, which are Qt's device-independent
// pixels.
//
// The view: view() creates it on first use through loadView() (default: a
// plain QWidget; override and call setView()) and then calls viewDidLoad();
// both run exactly once in the controller's life however often view() is read.
// The controller owns the widget and deletes it with itself; containers that
// put a controller's view into their own widgets take it out again before
// deleting theirs.
//
// Appearance: viewWillAppear / viewDidAppear / viewWillDisappear /
// viewDidDisappear come in pairs (will, then did) whenever the controller's
// visibility changes: its window shows or hides, a full-screen presentation
// covers or uncovers it, a navigation controller pushes or pops it, a
// container adds or removes it as a visible child. A controller never gets
// two "appear" transitions without a "disappear" between them. In every
// transition the order is:
//   1. the "will" calls of the controllers that disappear, top-most first,
//   2. the "will" calls of the controllers that appear,
//   3. the change itself (widgets shown, hidden, animated),
//   4. the "did" calls in the same order as the "will" calls,
//   5. the completion of the call that started it.
// A container's children follow it: the parent's call comes first, then its
// visible children's (see childrenForAppearanceForwarding()). After every
// viewDidAppear the global screen-appeared hook runs (setScreenAppearedHook).
// Which presentations make the presenter disappear: see
// ModalPresentationStyle (only full screen does). A cancelled custom
// transition reverses: what was to appear gets viewWillDisappear and
// viewDidDisappear without ever getting viewDidAppear.
// Overrides of the lifecycle calls need not call the base; the framework does
// the forwarding.
//
// Containment (the platform's rules): addChild() calls child->willMove(this);
// the container then shows the child's view and calls child->didMove(this).
// Removing: the container calls child->willMove(nullptr), takes the view out,
// then child->removeFromParent(), which calls didMove(nullptr).
// addChild(child, into) and removeChild(child) do the whole sequence,
// appearance calls included.
class ViewController : public std::enable_shared_from_this<ViewController> {
  public:
    ViewController();
    virtual ~ViewController();
    ViewController(const ViewController&) = delete;
    ViewController& operator=(const ViewController&) = delete;

    // --- the view -----------------------------------------------------------
    QWidget* view();
    QWidget* viewIfLoaded() const { return view_.data(); }
    bool isViewLoaded() const { return !view_.isNull(); }
    // For loadView(): makes `view` the root widget (the controller owns it).
    void setView(QWidget* view);

    // The controller whose view is `widget` or contains it (nearest first);
    // null when no controller's view holds it.
    static ViewController* owning(const QWidget* widget);

    // --- lifecycle (override these) ----------------------------------------
    virtual void loadView();
    virtual void viewDidLoad() {}
    virtual void viewWillAppear(bool animated) { (void)animated; }
    virtual void viewDidAppear(bool animated) { (void)animated; }
    virtual void viewWillDisappear(bool animated) { (void)animated; }
    virtual void viewDidDisappear(bool animated) { (void)animated; }
    // The view is about to take `size` (points); called before the view's
    // layout sees the new size. Children get it after their parent.
    virtual void viewWillTransition(QSizeF size) { (void)size; }
    // The trait collection changed (light/dark appearance); `previous` is the
    // old one. Children get it after their parent.
    virtual void traitCollectionDidChange(const TraitCollection& previous) { (void)previous; }
    // The system is short of memory. Nothing on the desktop sends it; it is
    // the place where a screen would let go of what it can make again.
    virtual void didReceiveMemoryWarning() {}
    virtual void willMove(ViewController* parent) { (void)parent; }
    virtual void didMove(ViewController* parent) { (void)parent; }

    bool isAppearing() const;    // between viewWillAppear and viewDidAppear
    bool isVisible() const;      // viewDidAppear happened, viewWillDisappear not yet
    bool isDisappeared() const;  // never appeared, or viewDidDisappear happened
    TraitCollection traitCollection() const;

    // Drive appearance by hand, for hosts and custom containers (the
    // platform's begin/endAppearanceTransition): redundant calls are ignored,
    // so a visible controller is never told to appear again.
    void beginAppearanceTransition(bool isAppearing, bool animated);
    void endAppearanceTransition();
    // For the widget that hosts a root controller (MainWindow does it on
    // show and hide): the controller, its visible children and what is
    // presented on it appear or disappear with the host.
    void setHostVisible(bool visible);

    // --- containment --------------------------------------------------------
    ViewController* parent() const { return parent_; }
    const std::vector<std::shared_ptr<ViewController>>& children() const { return children_; }
    void addChild(std::shared_ptr<ViewController> child);
    void removeFromParent();
    // addChild, the child's view into `container` (a widget inside this
    // controller's view; null: the view itself), filling it, appearance calls
    // when this controller is visible, then didMove.
    void addChild(std::shared_ptr<ViewController> child, QWidget* container);
    // willMove(nullptr), appearance calls when visible, the view taken out,
    // removeFromParent().
    void removeChild(const std::shared_ptr<ViewController>& child);
    // The children whose appearance follows this controller's. Default: those
    // whose view is loaded and inside this controller's view. Containers that
    // keep hidden children (a navigation stack) answer their visible ones.
    virtual std::vector<std::shared_ptr<ViewController>> childrenForAppearanceForwarding() const;

    NavigationController* navigationController() const;
    // The navigation bar's item for this controller, created on first use.
    NavigationItem& navigationItem();

    // --- identity and sizes --------------------------------------------------
    const std::string& title() const { return title_; }
    // Also sets navigationItem()'s title, as the platform does.
    void setTitle(std::string title);
    QSizeF preferredContentSize() const { return preferredContentSize_; }
    // Containers and presentations that size by it are told at once
    // (preferredContentSizeDidChange of the parent, the presentation's card).
    void setPreferredContentSize(QSizeF size);
    // A preferred content size given as a share of the presenting controller's view (0.5 × 2/3: half
    // its width, two thirds of its height). While the controller is presented, its preferred content
    // size is that share of the presenter's view, taken again whenever that view changes size, so a
    // sheet follows its window as it grows and as it shrinks. Empty (the default): none.
    QSizeF preferredContentSizeShare() const { return preferredContentSizeShare_; }
    void setPreferredContentSizeShare(QSizeF share);
    // A child told its parent that its preferred content size changed.
    virtual void preferredContentSizeDidChange(ViewController& child) { (void)child; }
    const std::string& restorationIdentifier() const { return restorationIdentifier_; }
    void setRestorationIdentifier(std::string identifier) { restorationIdentifier_ = std::move(identifier); }
    // The restoration archive asks controllers with a restoration identifier
    // for their state at save time and hands it back after launch (decode may
    // come before or after the view is loaded).
    virtual void encodeRestorableState(RestorationCoder& coder) { (void)coder; }
    virtual void decodeRestorableState(const RestorationCoder& coder) { (void)coder; }

    // The main window showing this controller's view, if any.
    MainWindow* window() const;

    // --- presentation -------------------------------------------------------
    // Presents `controller` from this controller's presentation context (its
    // root-most parent). Presenting on a controller that already presents
    // something is refused, with a warning in the system log naming both, and
    // the completion does not run (the platform's rule): present from the
    // top-most controller (topMostViewController()). A presentation,
    // dismissal, push or pop asked for while another transition runs (an
    // animated one, or from inside a lifecycle call or completion of one) is
    // queued, first in first out, and starts when that transition ends;
    // nothing is dropped. A controller that is already presented or has a
    // parent is refused like an occupied presenter. The presented view gets
    // the keyboard focus; dismissal gives it back.
    void present(std::shared_ptr<ViewController> controller, bool animated,
                 std::function<void()> completion = {});
    // Dismisses what this controller presents (with everything presented on
    // top of it); when it presents nothing, asks its presenting controller to
    // dismiss it. Nothing to dismiss: the completion runs at once.
    void dismiss(bool animated, std::function<void()> completion = {});
    // What this controller (or its presentation context) presents.
    std::shared_ptr<ViewController> presentedViewController() const;
    // The controller that presented this one (or this one's root-most parent).
    std::shared_ptr<ViewController> presentingViewController() const;
    bool isBeingPresented() const { return beingPresented_; }
    bool isBeingDismissed() const { return beingDismissed_; }
    // The last controller presented on top of this one's presentation chain.
    std::shared_ptr<ViewController> topMostViewController();

    ModalPresentationStyle modalPresentationStyle() const { return modalPresentationStyle_; }
    void setModalPresentationStyle(ModalPresentationStyle style);
    // Non-null while the style is popover: the anchor and passthrough views.
    PopoverPresentationController* popoverPresentationController();
    // Used with the custom style; held weakly.
    std::shared_ptr<ViewControllerTransitioningDelegate> transitioningDelegate() const {
        return transitioningDelegate_.lock();
    }
    void setTransitioningDelegate(std::weak_ptr<ViewControllerTransitioningDelegate> delegate) {
        transitioningDelegate_ = std::move(delegate);
    }

    // --- the global "screen appeared" hook ----------------------------------
    // Runs after every viewDidAppear of every controller (containers and
    // alerts included), on the main thread. One hook for the process; returns
    // the previous one (an empty function removes it).
    using ScreenAppearedHook = std::function<void(ViewController&, const ScreenAppearance&)>;
    static ScreenAppearedHook setScreenAppearedHook(ScreenAppearedHook hook);
    // The class name and chain of this object (see ScreenAppearance).
    ScreenAppearance screenAppearance() const;

    // --- extensions ---------------------------------------------------------
    // Another module's state and hooks on this controller (see
    // ViewControllerExtension), one per key; null when none is attached.
    ViewControllerExtension* extension(const void* key) const;
    // Attaches (or with null, removes) the extension under `key`.
    void setExtension(const void* key, std::shared_ptr<ViewControllerExtension> extension);

  private:
    friend class NavigationController;
    friend class MainWindow;
    friend class PresentationChain;
    friend class PresentationOverlay;

    enum class AppearState { disappeared, appearing, appeared, disappearing };

    void notifyWillTransition(QSizeF size);
    void notifyTraitCollectionChange(const TraitCollection& previous);
    ViewController* rootAncestor();
    void forgetView();

    QPointer<QWidget> view_;
    bool viewLoaded_ = false;  // loadView/viewDidLoad ran
    AppearState appearState_ = AppearState::disappeared;
    bool appearanceAnimated_ = false;

    ViewController* parent_ = nullptr;  // the parent holds us
    std::vector<std::shared_ptr<ViewController>> children_;

    std::string title_;
    std::string restorationIdentifier_;
    QSizeF preferredContentSize_;
    QSizeF preferredContentSizeShare_;
    std::shared_ptr<NavigationItem> navigationItem_;

    // Presentation: a presenting controller holds what it presents.
    std::shared_ptr<ViewController> presented_;
    std::weak_ptr<ViewController> presenting_;
    ModalPresentationStyle modalPresentationStyle_ = ModalPresentationStyle::fullScreen;
    std::unique_ptr<PopoverPresentationController> popover_;
    std::weak_ptr<ViewControllerTransitioningDelegate> transitioningDelegate_;
    QPointer<QWidget> presentationOverlay_;  // the widget hosting our view while presented
    bool beingPresented_ = false;
    bool beingDismissed_ = false;
    // Set by hosts (MainWindow) on a root controller: its window is shown.
    bool hostVisible_ = false;
    TraitCollection traits_;
    std::vector<std::pair<const void*, std::shared_ptr<ViewControllerExtension>>> extensions_;
};

}  // namespace platform
