#pragma once

#include <QPointer>

#include <memory>
#include <vector>

#include "platform/ui/NavigationBar.hpp"
#include "platform/ui/ViewController.hpp"

namespace platform {

// A stack of controllers under a navigation bar; only the top one's view
// shows. Push and pop follow the platform's order (see ViewController):
//   push B over A:  B.willMove(nav), B.viewDidLoad (first time),
//                   A.viewWillDisappear, B.viewWillAppear, [change],
//                   A.viewDidDisappear, B.viewDidAppear, B.didMove(nav)
//   pop B to A:     B.willMove(nullptr), B.viewWillDisappear, A.viewWillAppear,
//                   [change], B.viewDidDisappear, A.viewDidAppear,
//                   B.didMove(nullptr)
//   pop to root:    as pop, for the top controller; the ones between only
//                   get willMove(nullptr) and didMove(nullptr), top-most first
// The appearance calls come only while the navigation controller itself is
// visible. Pushes and pops share the presentation transitions' queue: one
// asked for while a transition runs starts after it. Main thread only.
class NavigationController : public ViewController {
  public:
    explicit NavigationController(std::shared_ptr<ViewController> rootViewController = nullptr);
    ~NavigationController() override;

    const std::vector<std::shared_ptr<ViewController>>& viewControllers() const { return stack_; }
    std::shared_ptr<ViewController> topViewController() const {
        return stack_.empty() ? nullptr : stack_.back();
    }
    // What the user sees: what the top controller presents, else the top controller.
    std::shared_ptr<ViewController> visibleViewController() const;

    // Refused (with a warning in the system log) for a controller that
    // already has a parent or is presented.
    void pushViewController(std::shared_ptr<ViewController> controller, bool animated);
    // The controller that is on top now, or none when only the root is left
    // (the root is never popped). A pop waiting behind a running transition
    // pops whatever is on top when it runs.
    std::shared_ptr<ViewController> popViewController(bool animated);
    std::vector<std::shared_ptr<ViewController>> popToRootViewController(bool animated);
    // Replaces the stack; the old top disappears, the new top appears.
    void setViewControllers(std::vector<std::shared_ptr<ViewController>> controllers, bool animated);

    NavigationBar& navigationBar();
    bool isNavigationBarHidden() const { return barHidden_; }
    void setNavigationBarHidden(bool hidden, bool animated);

    void loadView() override;
    std::vector<std::shared_ptr<ViewController>> childrenForAppearanceForwarding() const override;

  private:
    void showTop();
    void syncBar();
    // Pops until `keepCount` controllers are left; kOneLevel pops the top.
    static constexpr size_t kOneLevel = static_cast<size_t>(-1);
    void popTo(size_t keepCount, bool animated);

    std::vector<std::shared_ptr<ViewController>> stack_;
    QPointer<NavigationBar> bar_;
    QPointer<QWidget> content_;
    bool barHidden_ = false;
};

}  // namespace platform
