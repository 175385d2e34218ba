#include "widgets/popup/PopupViewControllerExtension.hpp"

#include <QApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QWidget>

#include "platform/dispatch/NotificationCenter.hpp"
#include "platform/ui/ViewController.hpp"
#include "widgets/popup/PopupController.hpp"

namespace tervolo::widgets::popup {

using platform::ViewController;

namespace {

// The key the extension is attached under.
const char kExtensionKey = 0;

bool isLandscape(int orientation) {
    return orientation == 3 || orientation == 4;
}

// The bounds the zero-width fill-in measures: the window the controller is
// shown in, else the active window, else a shown main window, else the
// primary screen, so that a popup asked for "full width" gets the width of
// the window it covers rather than of a whole desktop.
QSizeF fillInBounds(ViewController& controller) {
    if (QWidget* view = controller.view(); view != nullptr && view->window() != view) {
        return view->window()->size();
    }
    if (QWidget* active = QApplication::activeWindow()) return active->size();
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && window->windowType() == Qt::Window) return window->size();
    }
    if (QScreen* screen = QGuiApplication::primaryScreen()) return screen->availableGeometry().size();
    return {};
}

}  // namespace

PopupViewControllerExtension& PopupViewControllerExtension::of(ViewController& controller) {
    if (auto* found = find(controller)) return *found;
    auto extension = std::make_shared<PopupViewControllerExtension>();
    auto& result = *extension;
    controller.setExtension(&kExtensionKey, std::move(extension));
    return result;
}

PopupViewControllerExtension* PopupViewControllerExtension::find(const ViewController& controller) {
    return static_cast<PopupViewControllerExtension*>(controller.extension(&kExtensionKey));
}

void PopupViewControllerExtension::viewWillLoad(ViewController& controller) {
    QSizeF size = contentSize_;
    if (isLandscape(interfaceOrientation(controller)) && !landscapeContentSize_.isNull()) {
        size = landscapeContentSize_;
    }
    if (!size.isNull() && controller.viewIfLoaded() != nullptr) {
        controller.viewIfLoaded()->setGeometry(0, 0, qRound(size.width()), qRound(size.height()));
    }
}

bool PopupViewControllerExtension::present(ViewController& controller,
                                           std::shared_ptr<ViewController>& presented, bool animated,
                                           std::function<void()>& completion) {
    auto popup = ::tervolo::widgets::popup::popupController(controller);
    if (!popup) return false;
    auto container = popup->containerViewController();
    if (!container || container.get() == &controller) return false;
    container->present(std::move(presented), animated, std::move(completion));
    return true;
}

bool PopupViewControllerExtension::dismiss(ViewController& controller, bool animated,
                                           std::function<void()>& completion) {
    (void)animated;  // a popup always leaves animated
    auto popup = ::tervolo::widgets::popup::popupController(controller);
    if (!popup) return false;
    popup->dismiss(std::move(completion));
    return true;
}

std::shared_ptr<ViewController> PopupViewControllerExtension::presentationLinksOwner(
    const ViewController& controller) const {
    auto popup = ::tervolo::widgets::popup::popupController(controller);
    return popup ? popup->containerViewController() : nullptr;
}

QSizeF contentSizeInPopup(const ViewController& controller) {
    auto* extension = PopupViewControllerExtension::find(controller);
    return extension != nullptr ? extension->contentSizeInPopup() : QSizeF(0, 0);
}

QSizeF landscapeContentSizeInPopup(const ViewController& controller) {
    auto* extension = PopupViewControllerExtension::find(controller);
    return extension != nullptr ? extension->landscapeContentSizeInPopup() : QSizeF(0, 0);
}

void PopupViewControllerExtension::storeSize(ViewController& controller, QSizeF size, bool landscapeSize) {
    if (size.width() == 0 && size.height() != 0) {
        // The portrait width is the window's width in portrait, the landscape
        // width its width in landscape.
        const QSizeF bounds = fillInBounds(controller);
        const bool swapped = isLandscape(interfaceOrientation(controller)) != landscapeSize;
        size.setWidth(swapped ? bounds.height() : bounds.width());
    }
    auto& extension = of(controller);
    (landscapeSize ? extension.landscapeContentSize_ : extension.contentSize_) = size;
    extension.observers_.notify();
}

void setContentSizeInPopup(ViewController& controller, QSizeF size) {
    PopupViewControllerExtension::storeSize(controller, size, false);
}

void setLandscapeContentSizeInPopup(ViewController& controller, QSizeF size) {
    PopupViewControllerExtension::storeSize(controller, size, true);
}

std::shared_ptr<PopupController> popupController(const ViewController& controller) {
    for (const ViewController* c = &controller; c != nullptr; c = c->parent()) {
        if (auto* extension = PopupViewControllerExtension::find(*c)) {
            if (auto popup = extension->popupController()) return popup;
        }
    }
    return nullptr;
}

int interfaceOrientation(const ViewController& controller) {
    (void)controller;
    return 0;
}

void startPostingFirstResponderChanges() {
    // Once per application object (tests make several in turn); main thread only.
    static QPointer<QObject> connectedTo;
    if (qApp == nullptr || connectedTo == qApp) return;
    connectedTo = qApp;
    // Qt reports every focus change of the process; the one that gives a
    // widget the focus is a successful "become first responder".
    QObject::connect(qApp, &QApplication::focusChanged, qApp, [](QWidget*, QWidget* now) {
        if (now == nullptr) return;
        std::shared_ptr<void> object(static_cast<void*>(now), [](void*) {});
        platform::NotificationCenter::defaultCenter().post(PopupFirstResponderDidChangeNotification, object);
    });
}

}  // namespace tervolo::widgets::popup
