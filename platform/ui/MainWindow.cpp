#include "platform/ui/MainWindow.hpp"

#include <QApplication>
#include <QEvent>
#include <QResizeEvent>

#include <algorithm>

#include "platform/dispatch/SharedInstance.hpp"
#include "platform/ui/PresentationOverlay.hpp"
#include "platform/ui/Toolbar.hpp"
#include "platform/ui/ViewControllerMainThread.hpp"

namespace platform {

namespace {

std::vector<MainWindow*>& allWindows() {
    return SharedInstance<std::vector<MainWindow*>>::get();  // main thread only
}

}  // namespace

TraitCollection currentTraitCollection() {
    TraitCollection traits;
    const QColor window = QApplication::palette().color(QPalette::Window);
    traits.userInterfaceStyle = window.lightness() < 128 ? TraitCollection::UserInterfaceStyle::dark
                                                         : TraitCollection::UserInterfaceStyle::light;
    return traits;
}

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    content_ = new QWidget(this);
    content_->setObjectName("windowContent");
    content_->installEventFilter(this);
    setCentralWidget(content_);
    allWindows().push_back(this);
}

MainWindow::~MainWindow() {
    auto& windows = allWindows();
    windows.erase(std::remove(windows.begin(), windows.end(), this), windows.end());
    if (root_) {
        // The window goes: what it showed disappears and what the root
        // presents is dismissed; the controllers, which may outlive the
        // window, take their views back before it deletes its widgets.
        root_->setHostVisible(false);
        releaseViews(*root_);
    }
}

void MainWindow::releaseViews(ViewController& root) {
    // What the root presents lives in this window's widgets: it is dismissed
    // (without appearance calls: the window no longer shows anything).
    std::shared_ptr<ViewController> presented = std::move(root.presented_);
    while (presented) {
        if (auto* overlay = static_cast<PresentationOverlay*>(presented->presentationOverlay_.data())) {
            overlay->detach();
            overlay->hide();
            overlay->deleteLater();
        }
        presented->presentationOverlay_ = nullptr;
        presented->presenting_.reset();
        presented = std::move(presented->presented_);
    }
    if (QWidget* view = root.viewIfLoaded(); view != nullptr && content_->isAncestorOf(view)) {
        view->hide();
        view->setParent(nullptr);
    }
}

std::vector<MainWindow*> MainWindow::windows() {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    return allWindows();
}

MainWindow* MainWindow::windowOf(const QWidget* widget) {
    return widget != nullptr ? qobject_cast<MainWindow*>(widget->window()) : nullptr;
}

void MainWindow::setRootViewController(std::shared_ptr<ViewController> controller) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (controller == root_) return;
    if (root_) {
        root_->setHostVisible(false);
        releaseViews(*root_);
    }
    root_ = std::move(controller);
    if (!root_) return;
    root_->traits_ = currentTraitCollection();
    QWidget* view = root_->view();
    view->setParent(content_);
    layoutRoot();
    view->show();
    if (isVisible() && !isMinimized()) root_->setHostVisible(true);
}

Toolbar& MainWindow::toolbar() {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (toolbar_ == nullptr) {
        toolbar_ = new Toolbar(this);
        addToolBar(Qt::TopToolBarArea, toolbar_);
    }
    return *toolbar_;
}

void MainWindow::layoutRoot() {
    if (!root_) return;
    QWidget* view = root_->view();
    // The controller hears of the new size before its view is laid out at it.
    if (view->size() != content_->size()) root_->notifyWillTransition(QSizeF(content_->size()));
    view->setGeometry(content_->rect());
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == content_ && event->type() == QEvent::Resize) layoutRoot();
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (root_) root_->setHostVisible(true);
}

void MainWindow::hideEvent(QHideEvent* event) {
    QMainWindow::hideEvent(event);
    if (root_) root_->setHostVisible(false);
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (!root_) return;
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange ||
        event->type() == QEvent::ThemeChange) {
        root_->notifyTraitCollectionChange(currentTraitCollection());
    }
    if (event->type() == QEvent::WindowStateChange) root_->setHostVisible(isVisible() && !isMinimized());
}

}  // namespace platform
