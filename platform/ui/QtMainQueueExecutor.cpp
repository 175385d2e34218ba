#include "platform/ui/QtMainQueueExecutor.hpp"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QThread>

namespace platform {

QtMainQueueExecutor::QtMainQueueExecutor() : context_(new QObject()) {
    // The context belongs to the GUI thread whatever thread builds the executor.
    if (auto* app = QCoreApplication::instance()) context_->moveToThread(app->thread());
}

QtMainQueueExecutor::~QtMainQueueExecutor() {
    // Deleting the context drops its pending posted events and timers; do it on its own thread.
    if (QThread::currentThread() == context_->thread()) {
        delete context_;
    } else {
        context_->deleteLater();
    }
}

std::shared_ptr<QtMainQueueExecutor> QtMainQueueExecutor::install() {
    auto executor = std::shared_ptr<QtMainQueueExecutor>(new QtMainQueueExecutor());
    setMainQueueExecutor(executor);
    executor->wakeUp();
    return executor;
}

void QtMainQueueExecutor::wakeUp() {
    if (posted_.exchange(true)) return;
    std::weak_ptr<QtMainQueueExecutor> weak = weak_from_this();
    QMetaObject::invokeMethod(
        context_,
        [weak] {
            auto self = weak.lock();
            if (!self) return;
            // Cleared before draining, so blocks queued meanwhile post the next drain.
            self->posted_.store(false);
            drainMainQueue();
        },
        Qt::QueuedConnection);
}

}  // namespace platform
