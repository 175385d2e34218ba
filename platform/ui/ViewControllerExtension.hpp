#pragma once

#include <functional>
#include <memory>

namespace platform {

class ViewController;

// State and behaviour another module attaches to any controller, whatever its
// class: a module that shows controllers inside its own container (a popup
// card) keeps per-controller values there and takes over the calls whose
// meaning changes inside that container. Every hook defaults to "not mine", so
// a controller without extensions behaves exactly as without this file.
// Attached with ViewController::setExtension under a key of the module's own
// (the address of a static object), at most one per key. Main thread only.
class ViewControllerExtension {
  public:
    virtual ~ViewControllerExtension() = default;

    // After loadView(), before viewDidLoad(), on the controller's first load:
    // the view exists and may be given its starting geometry.
    virtual void viewWillLoad(ViewController& controller) { (void)controller; }

    // Return true to take the call over; the controller then does nothing of
    // its own (the extension owns the completion from then on).
    virtual bool present(ViewController& controller, std::shared_ptr<ViewController>& presented,
                         bool animated, std::function<void()>& completion) {
        (void)controller;
        (void)presented;
        (void)animated;
        (void)completion;
        return false;
    }
    virtual bool dismiss(ViewController& controller, bool animated, std::function<void()>& completion) {
        (void)controller;
        (void)animated;
        (void)completion;
        return false;
    }

    // The controller whose presentedViewController() and
    // presentingViewController() answer for this one; null: its own.
    virtual std::shared_ptr<ViewController> presentationLinksOwner(const ViewController& controller) const {
        (void)controller;
        return nullptr;
    }
};

}  // namespace platform
