#include "platform/ui/NavigationController.hpp"

#include <QGridLayout>
#include <QVBoxLayout>

#include "platform/foundation/OSLog.hpp"
#include "platform/ui/PresentationAnimation.hpp"
#include "platform/ui/PresentationTransitionQueue.hpp"
#include "platform/ui/ViewControllerMainThread.hpp"

namespace platform {

namespace {

void warn(const std::string& text) {
    static std::shared_ptr<OSLog> log = OSLog::make("org.tervolo.TervoloNG", "navigation");
    log->write(OSLogType::Error, text);
}

bool appearedOrAppearing(const ViewController& c) {
    return c.isVisible() || c.isAppearing();
}

}  // namespace

NavigationController::NavigationController(std::shared_ptr<ViewController> rootViewController) {
    if (rootViewController) {
        addChild(rootViewController);
        stack_.push_back(std::move(rootViewController));
        // didMove comes once the root is in the stack, as the platform does.
        stack_.back()->didMove(this);
    }
}

NavigationController::~NavigationController() {
    if (bar_) bar_->setItems({});
}

void NavigationController::loadView() {
    auto* root = new QWidget();
    root->setObjectName("navigationControllerView");
    auto* column = new QVBoxLayout(root);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    bar_ = new NavigationBar(root);
    bar_->setBackAction([this] { popViewController(true); });
    bar_->setVisible(!barHidden_);
    column->addWidget(bar_);
    content_ = new QWidget(root);
    content_->setObjectName("navigationContent");
    auto* grid = new QGridLayout(content_);
    grid->setContentsMargins(0, 0, 0, 0);
    column->addWidget(content_, 1);
    setView(root);
    showTop();
    syncBar();
}

NavigationBar& NavigationController::navigationBar() {
    view();
    return *bar_;
}

void NavigationController::setNavigationBarHidden(bool hidden, bool animated) {
    (void)animated;
    barHidden_ = hidden;
    if (bar_ != nullptr) bar_->setVisible(!hidden);
}

std::shared_ptr<ViewController> NavigationController::visibleViewController() const {
    auto top = topViewController();
    if (auto presented = presentedViewController()) return presented;
    return top;
}

std::vector<std::shared_ptr<ViewController>> NavigationController::childrenForAppearanceForwarding() const {
    auto top = topViewController();
    if (top && top->viewIfLoaded() != nullptr && content_ != nullptr &&
        content_->isAncestorOf(top->viewIfLoaded())) {
        return {top};
    }
    return {};
}

void NavigationController::showTop() {
    if (content_ == nullptr) return;
    auto top = topViewController();
    for (const auto& c : stack_) {
        QWidget* v = c == top ? c->view() : c->viewIfLoaded();
        if (v == nullptr) continue;
        if (v->parentWidget() != content_) content_->layout()->addWidget(v);
        v->setVisible(c == top);
    }
}

void NavigationController::syncBar() {
    if (bar_ == nullptr) return;
    std::vector<std::shared_ptr<NavigationItem>> items;
    for (const auto& c : stack_) {
        c->navigationItem();
        items.push_back(c->navigationItem_);
    }
    bar_->setItems(std::move(items));
}

void NavigationController::pushViewController(std::shared_ptr<ViewController> controller, bool animated) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (!controller) return;
    auto weak = std::weak_ptr<ViewController>(weak_from_this());
    runPresentationTransition([this, weak, controller, animated](std::function<void()> done) {
        auto self = weak.lock();
        if (!self) return done();
        if (controller.get() == this || controller->parent() != nullptr ||
            controller->presentingViewController()) {
            warn("Attempt to push " + controller->screenAppearance().className +
                 " which already has a parent or is presented");
            return done();
        }
        auto previous = topViewController();
        const bool visible = appearedOrAppearing(*this) && isViewLoaded();
        addChild(controller);  // willMove(this)
        stack_.push_back(controller);
        if (isViewLoaded()) controller->view();
        if (visible) {
            if (previous) previous->beginAppearanceTransition(false, animated);
            controller->beginAppearanceTransition(true, animated);
        }
        animatePresentationTransition(
            animated && visible, kPresentationTransitionDuration,
            [this] {
                showTop();
                syncBar();
            },
            [this, self, previous, controller, visible, done](bool) {
                if (visible) {
                    if (previous) previous->endAppearanceTransition();
                    controller->endAppearanceTransition();
                }
                controller->didMove(this);
                done();
            });
    });
}

std::shared_ptr<ViewController> NavigationController::popViewController(bool animated) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (stack_.size() < 2) return nullptr;
    auto top = stack_.back();
    popTo(kOneLevel, animated);
    return top;
}

std::vector<std::shared_ptr<ViewController>> NavigationController::popToRootViewController(bool animated) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (stack_.size() < 2) return {};
    std::vector<std::shared_ptr<ViewController>> popped(stack_.begin() + 1, stack_.end());
    popTo(1, animated);
    return popped;
}

void NavigationController::popTo(size_t keepCount, bool animated) {
    auto weak = std::weak_ptr<ViewController>(weak_from_this());
    runPresentationTransition([this, weak, keepCount, animated](std::function<void()> done) {
        auto self = weak.lock();
        // Decided when the pop runs: a pop queued behind a push pops that push.
        const size_t keep = keepCount == kOneLevel ? stack_.size() - 1 : keepCount;
        if (!self || stack_.size() <= keep || keep == 0) return done();
        // Top-most first.
        std::vector<std::shared_ptr<ViewController>> popped(stack_.rbegin(), stack_.rend() - keep);
        auto newTop = stack_[keep - 1];
        const bool visible = appearedOrAppearing(*this) && isViewLoaded();
        for (const auto& c : popped) c->willMove(nullptr);
        if (visible) {
            popped.front()->beginAppearanceTransition(false, animated);
            newTop->beginAppearanceTransition(true, animated);
        }
        stack_.resize(keep);
        animatePresentationTransition(
            animated && visible, kPresentationTransitionDuration,
            [this] {
                showTop();
                syncBar();
            },
            [this, self, popped, newTop, visible, done](bool) {
                if (visible) {
                    popped.front()->endAppearanceTransition();
                    newTop->endAppearanceTransition();
                }
                for (const auto& c : popped) {
                    if (QWidget* v = c->viewIfLoaded(); v != nullptr && v->parentWidget() == content_) {
                        content_->layout()->removeWidget(v);
                        v->hide();
                        v->setParent(nullptr);
                    }
                    c->removeFromParent();  // didMove(nullptr)
                }
                done();
            });
    });
}

void NavigationController::setViewControllers(std::vector<std::shared_ptr<ViewController>> controllers,
                                              bool animated) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    auto weak = std::weak_ptr<ViewController>(weak_from_this());
    runPresentationTransition(
        [this, weak, controllers = std::move(controllers), animated](std::function<void()> done) {
            auto self = weak.lock();
            if (!self || controllers.empty()) return done();
            auto oldTop = topViewController();
            auto newTop = controllers.back();
            std::vector<std::shared_ptr<ViewController>> leaving;
            for (const auto& c : stack_) {
                if (std::find(controllers.begin(), controllers.end(), c) == controllers.end())
                    leaving.push_back(c);
            }
            std::vector<std::shared_ptr<ViewController>> arriving;
            for (const auto& c : controllers) {
                if (c->parent() != this) arriving.push_back(c);
            }
            const bool visible = appearedOrAppearing(*this) && isViewLoaded();
            for (const auto& c : leaving) c->willMove(nullptr);
            for (const auto& c : arriving) addChild(c);
            if (visible && oldTop != newTop) {
                if (oldTop) oldTop->beginAppearanceTransition(false, animated);
                newTop->beginAppearanceTransition(true, animated);
            }
            stack_ = controllers;
            animatePresentationTransition(
                animated && visible, kPresentationTransitionDuration,
                [this] {
                    showTop();
                    syncBar();
                },
                [this, self, oldTop, newTop, leaving, arriving, visible, done](bool) {
                    if (visible && oldTop != newTop) {
                        if (oldTop) oldTop->endAppearanceTransition();
                        newTop->endAppearanceTransition();
                    }
                    for (const auto& c : leaving) {
                        if (QWidget* v = c->viewIfLoaded(); v != nullptr && v->parentWidget() == content_) {
                            content_->layout()->removeWidget(v);
                            v->hide();
                            v->setParent(nullptr);
                        }
                        c->removeFromParent();
                    }
                    for (const auto& c : arriving) c->didMove(this);
                    done();
                });
        });
}

}  // namespace platform
