#include "platform/ui/ViewController.hpp"

#include <QGridLayout>
#include <QLayout>
#include <QVariant>

#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>
#include <typeinfo>

#include "platform/ui/MainWindow.hpp"
#include "platform/ui/NavigationController.hpp"
#include "platform/ui/NavigationItem.hpp"
#include "platform/ui/PopoverPresentationController.hpp"
#include "platform/ui/PresentationOverlay.hpp"
#include "platform/ui/ViewControllerExtension.hpp"
#include "platform/ui/ViewControllerMainThread.hpp"

namespace platform {

namespace {

// The widget property that leads from a root view back to its controller.
constexpr const char* kControllerProperty = "platform.viewController";

ViewController::ScreenAppearedHook& screenAppearedHook() {
    static ViewController::ScreenAppearedHook hook;  // main thread only
    return hook;
}

std::string demangled(const std::type_info& type) {
    int status = 0;
    char* text = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
    std::string name = (status == 0 && text != nullptr) ? text : type.name();
    std::free(text);
    return name;
}

// "tervolo::mapscreen::MainViewController" → "MainViewController"; the
// separators inside template arguments are left alone.
std::string withoutNamespaces(const std::string& name) {
    int depth = 0;
    size_t start = 0;
    for (size_t i = 0; i + 1 < name.size(); ++i) {
        if (name[i] == '<') ++depth;
        if (name[i] == '>') --depth;
        if (depth == 0 && name[i] == ':' && name[i + 1] == ':') start = i + 2;
    }
    return name.substr(start);
}

// Whether `type` is ViewController or derives from it, read from the
// Itanium C++ ABI's class type information (g++ and clang on Linux).
bool reachesViewController(const std::type_info* type) {
    while (type != nullptr) {
        if (*type == typeid(ViewController)) return true;
        if (auto* single = dynamic_cast<const abi::__si_class_type_info*>(type)) {
            type = single->__base_type;
            continue;
        }
        if (auto* multiple = dynamic_cast<const abi::__vmi_class_type_info*>(type)) {
            for (unsigned i = 0; i < multiple->__base_count; ++i) {
                if (reachesViewController(multiple->__base_info[i].__base_type)) return true;
            }
        }
        return false;
    }
    return false;
}

// The base class on the way to ViewController, or null at the top.
const std::type_info* viewControllerBase(const std::type_info* type) {
    if (*type == typeid(ViewController)) return nullptr;
    if (auto* single = dynamic_cast<const abi::__si_class_type_info*>(type)) return single->__base_type;
    if (auto* multiple = dynamic_cast<const abi::__vmi_class_type_info*>(type)) {
        for (unsigned i = 0; i < multiple->__base_count; ++i) {
            if (reachesViewController(multiple->__base_info[i].__base_type)) {
                return multiple->__base_info[i].__base_type;
            }
        }
    }
    return nullptr;
}

bool isInside(const QWidget* widget, const QWidget* ancestor) {
    return widget != nullptr && ancestor != nullptr && (widget == ancestor || ancestor->isAncestorOf(widget));
}

}  // namespace

ViewController::ViewController() {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
}

ViewController::~ViewController() {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    // Children may outlive us (someone else may hold them): their views leave
    // ours before ours is deleted.
    for (const auto& child : children_) {
        child->parent_ = nullptr;
        if (child->view_ && view_ && view_->isAncestorOf(child->view_)) {
            child->view_->hide();
            child->view_->setParent(nullptr);
        }
    }
    if (presentationOverlay_) {
        if (view_ && presentationOverlay_->isAncestorOf(view_)) view_->setParent(nullptr);
        presentationOverlay_->hide();
        presentationOverlay_->deleteLater();
    }
    if (view_) {
        view_->setProperty(kControllerProperty, QVariant());
        delete view_.data();
    }
}

// --- the view ------------------------------------------------------------

QWidget* ViewController::view() {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (view_) return view_.data();
    const bool firstLoad = !viewLoaded_;
    viewLoaded_ = true;
    loadView();
    if (!view_) setView(new QWidget());  // a loadView that set nothing
    // A view deleted behind our back (by a foreign parent) is rebuilt, but
    // viewDidLoad stays a once-in-a-life call.
    if (firstLoad) {
        // Extensions may give the new view its starting geometry first.
        for (const auto& entry : std::vector(extensions_)) entry.second->viewWillLoad(*this);
        viewDidLoad();
    }
    return view_.data();
}

void ViewController::setView(QWidget* view) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (view_ == view) return;
    if (view_) view_->setProperty(kControllerProperty, QVariant());
    view_ = view;
    viewLoaded_ = viewLoaded_ || view != nullptr;
    if (view) view->setProperty(kControllerProperty, QVariant::fromValue(reinterpret_cast<quintptr>(this)));
}

void ViewController::loadView() {
    setView(new QWidget());
}

ViewController* ViewController::owning(const QWidget* widget) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    for (const QWidget* w = widget; w != nullptr; w = w->parentWidget()) {
        const QVariant value = w->property(kControllerProperty);
        if (value.isValid()) return reinterpret_cast<ViewController*>(value.value<quintptr>());
    }
    return nullptr;
}

// --- appearance ------------------------------------------------------------

bool ViewController::isAppearing() const {
    return appearState_ == AppearState::appearing;
}
bool ViewController::isVisible() const {
    return appearState_ == AppearState::appeared;
}
bool ViewController::isDisappeared() const {
    return appearState_ == AppearState::disappeared;
}

TraitCollection ViewController::traitCollection() const {
    return traits_;
}

void ViewController::beginAppearanceTransition(bool appearing, bool animated) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    auto keepAlive = weak_from_this().lock();
    if (appearing) {
        if (appearState_ == AppearState::appearing || appearState_ == AppearState::appeared) return;
        view();  // loaded (and viewDidLoad run) before the first appearance call
        appearState_ = AppearState::appearing;
        appearanceAnimated_ = animated;
        viewWillAppear(animated);
    } else {
        if (appearState_ == AppearState::disappearing || appearState_ == AppearState::disappeared) return;
        appearState_ = AppearState::disappearing;
        appearanceAnimated_ = animated;
        viewWillDisappear(animated);
    }
    for (const auto& child : childrenForAppearanceForwarding())
        child->beginAppearanceTransition(appearing, animated);
}

void ViewController::endAppearanceTransition() {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    auto keepAlive = weak_from_this().lock();
    // Children that took part are in a transition themselves; ending one that
    // is not is a no-op, so a child added meanwhile is ended too.
    auto children = childrenForAppearanceForwarding();
    if (appearState_ == AppearState::appearing) {
        appearState_ = AppearState::appeared;
        viewDidAppear(appearanceAnimated_);
        if (auto& hook = screenAppearedHook()) {
            auto copy = hook;  // the hook may replace itself
            copy(*this, screenAppearance());
        }
    } else if (appearState_ == AppearState::disappearing) {
        appearState_ = AppearState::disappeared;
        viewDidDisappear(appearanceAnimated_);
    } else {
        return;
    }
    for (const auto& child : children) child->endAppearanceTransition();
}

std::vector<std::shared_ptr<ViewController>> ViewController::childrenForAppearanceForwarding() const {
    std::vector<std::shared_ptr<ViewController>> visible;
    for (const auto& child : children_) {
        if (child->view_ && isInside(child->view_, view_)) visible.push_back(child);
    }
    return visible;
}

void ViewController::notifyWillTransition(QSizeF size) {
    auto keepAlive = weak_from_this().lock();
    viewWillTransition(size);
    for (const auto& child : children_) {
        if (child->view_ && isInside(child->view_, view_)) {
            // Children in containers of our own size get the size of their
            // container; the whole size is the best guess before layout.
            child->notifyWillTransition(size);
        }
    }
    if (presented_ && (presented_->modalPresentationStyle_ == ModalPresentationStyle::fullScreen ||
                       presented_->modalPresentationStyle_ == ModalPresentationStyle::custom)) {
        presented_->notifyWillTransition(size);
    }
}

void ViewController::notifyTraitCollectionChange(const TraitCollection& current) {
    auto keepAlive = weak_from_this().lock();
    const TraitCollection previous = traits_;
    traits_ = current;
    if (previous != current) traitCollectionDidChange(previous);
    for (const auto& child : std::vector(children_)) child->notifyTraitCollectionChange(current);
    if (presented_) presented_->notifyTraitCollectionChange(current);
}

// --- containment -----------------------------------------------------------

void ViewController::addChild(std::shared_ptr<ViewController> child) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (!child || child.get() == this || child->parent_ == this) return;
    if (child->parent_ != nullptr) child->removeFromParent();
    child->willMove(this);
    child->parent_ = this;
    child->traits_ = traits_;
    children_.push_back(std::move(child));
}

void ViewController::removeFromParent() {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (parent_ == nullptr) return;
    auto keepAlive = weak_from_this().lock();
    auto& siblings = parent_->children_;
    siblings.erase(
        std::remove_if(siblings.begin(), siblings.end(), [this](const auto& c) { return c.get() == this; }),
        siblings.end());
    parent_ = nullptr;
    didMove(nullptr);
}

void ViewController::addChild(std::shared_ptr<ViewController> child, QWidget* container) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (!child || child.get() == this) return;
    addChild(child);
    QWidget* host = container != nullptr ? container : view();
    QWidget* childView = child->view();
    if (host->layout() == nullptr) {
        auto* layout = new QGridLayout(host);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
    }
    host->layout()->addWidget(childView);
    const bool visible = appearState_ == AppearState::appeared;
    if (visible) child->beginAppearanceTransition(true, false);
    childView->show();
    // While we are appearing ourselves, our own endAppearanceTransition ends
    // the child's too.
    if (appearState_ == AppearState::appearing) child->beginAppearanceTransition(true, appearanceAnimated_);
    if (visible) child->endAppearanceTransition();
    child->didMove(this);
}

void ViewController::removeChild(const std::shared_ptr<ViewController>& child) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (!child || child->parent_ != this) return;
    child->willMove(nullptr);
    const bool visible =
        child->appearState_ == AppearState::appeared || child->appearState_ == AppearState::appearing;
    if (visible) child->beginAppearanceTransition(false, false);
    if (QWidget* childView = child->view_.data()) {
        if (QWidget* host = childView->parentWidget(); host != nullptr && host->layout() != nullptr) {
            host->layout()->removeWidget(childView);
        }
        childView->hide();
        childView->setParent(nullptr);
    }
    if (visible) child->endAppearanceTransition();
    child->removeFromParent();
}

NavigationController* ViewController::navigationController() const {
    for (ViewController* c = parent_; c != nullptr; c = c->parent_) {
        if (auto* navigation = dynamic_cast<NavigationController*>(c)) return navigation;
    }
    // A presented controller inside a navigation controller's stack has it as
    // a parent; one presented by a child of a stack has none.
    return nullptr;
}

NavigationItem& ViewController::navigationItem() {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (!navigationItem_) {
        navigationItem_ = std::make_shared<NavigationItem>();
        if (!title_.empty()) navigationItem_->setTitle(title_);
    }
    return *navigationItem_;
}

// --- identity and sizes ----------------------------------------------------

void ViewController::setTitle(std::string title) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    title_ = std::move(title);
    navigationItem().setTitle(title_);
}

void ViewController::setPreferredContentSize(QSizeF size) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (size == preferredContentSize_) return;
    preferredContentSize_ = size;
    if (parent_ != nullptr) parent_->preferredContentSizeDidChange(*this);
    if (presentationOverlay_) static_cast<PresentationOverlay*>(presentationOverlay_.data())->relayout();
}

void ViewController::setPreferredContentSizeShare(QSizeF share) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    preferredContentSizeShare_ = share;
    if (presentationOverlay_) static_cast<PresentationOverlay*>(presentationOverlay_.data())->relayout();
}

MainWindow* ViewController::window() const {
    const QWidget* widget = view_.data();
    if (widget == nullptr) return nullptr;
    return qobject_cast<MainWindow*>(widget->window());
}

ViewController* ViewController::rootAncestor() {
    ViewController* root = this;
    while (root->parent_ != nullptr) root = root->parent_;
    return root;
}

void ViewController::setModalPresentationStyle(ModalPresentationStyle style) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    modalPresentationStyle_ = style;
    if (style == ModalPresentationStyle::popover && !popover_) {
        popover_ = std::make_unique<PopoverPresentationController>();
    }
}

PopoverPresentationController* ViewController::popoverPresentationController() {
    return modalPresentationStyle_ == ModalPresentationStyle::popover ? popover_.get() : nullptr;
}

// --- extensions ------------------------------------------------------------

ViewControllerExtension* ViewController::extension(const void* key) const {
    for (const auto& entry : extensions_) {
        if (entry.first == key) return entry.second.get();
    }
    return nullptr;
}

void ViewController::setExtension(const void* key, std::shared_ptr<ViewControllerExtension> extension) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    auto found = std::find_if(extensions_.begin(), extensions_.end(),
                              [key](const auto& entry) { return entry.first == key; });
    if (found != extensions_.end()) extensions_.erase(found);
    if (extension) extensions_.emplace_back(key, std::move(extension));
}

// --- the screen-appeared hook ----------------------------------------------

ViewController::ScreenAppearedHook ViewController::setScreenAppearedHook(ScreenAppearedHook hook) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    ScreenAppearedHook previous = std::move(screenAppearedHook());
    screenAppearedHook() = std::move(hook);
    return previous;
}

ScreenAppearance ViewController::screenAppearance() const {
    ScreenAppearance appearance;
    for (const std::type_info* type = &typeid(*this); type != nullptr; type = viewControllerBase(type)) {
        appearance.inheritanceChain.push_back(withoutNamespaces(demangled(*type)));
    }
    appearance.className = appearance.inheritanceChain.front();
    return appearance;
}

}  // namespace platform
