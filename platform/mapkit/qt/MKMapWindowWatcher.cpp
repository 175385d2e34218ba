#include "platform/mapkit/qt/MKMapWindowWatcher.hpp"

#include <QEvent>
#include <QWidget>
#include <QWindow>
#include <QWindowStateChangeEvent>

namespace platform {

MKMapWindowWatcher::MKMapWindowWatcher(QWidget* map, std::function<void()> cameBack)
    : QObject(map), map_(map), cameBack_(std::move(cameBack)) {
    map_->installEventFilter(this);
    follow();
}

void MKMapWindowWatcher::follow() {
    QWidget* window = map_->window();
    if (window != window_.data()) {
        if (!window_.isNull()) window_->removeEventFilter(this);
        window_ = window;
        if (window != nullptr && window != map_) window->installEventFilter(this);
    }
    QWindow* handle = window != nullptr ? window->windowHandle() : nullptr;
    if (handle != handle_.data()) {
        if (!handle_.isNull()) handle_->removeEventFilter(this);
        handle_ = handle;
        if (handle != nullptr) handle->installEventFilter(this);
    }
}

bool MKMapWindowWatcher::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == map_ && (type == QEvent::ParentChange || type == QEvent::Show)) follow();
    bool back = false;
    if (watched == window_.data()) {
        switch (type) {
            case QEvent::Show:
                follow();  // the native window exists from here on
                back = away_;
                away_ = false;
                break;
            case QEvent::Hide:
                away_ = true;
                break;
            case QEvent::WindowStateChange:
                if (window_->isMinimized()) {
                    away_ = true;
                } else if (away_ && window_->isVisible()) {
                    back = true;
                    away_ = false;
                }
                break;
            case QEvent::WindowDeactivate:
                inactive_ = true;
                break;
            case QEvent::WindowActivate:
                back = inactive_;
                inactive_ = false;
                break;
            default:
                break;
        }
    } else if (watched == handle_.data() && type == QEvent::Expose) {
        if (!handle_->isExposed()) {
            unexposed_ = true;
        } else if (unexposed_) {
            unexposed_ = false;
            back = true;
        }
    }
    // Queued: whatever else the same change starts (the application's own
    // activity notices) runs first.
    if (back && cameBack_) {
        QMetaObject::invokeMethod(
            this, [this] { cameBack_(); }, Qt::QueuedConnection);
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace platform
