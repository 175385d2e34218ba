#include "app/startup/FirstMapFrameQuit.hpp"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "platform/dispatch/Clock.hpp"
#include "platform/mapkit/qt/MKMapView.hpp"

namespace tervolo::app {

FirstMapFrameQuit::FirstMapFrameQuit(std::function<void(const std::string&)> write,
                                     std::function<void()> quit, QObject* parent)
    : QObject(parent),
      write_(std::move(write)),
      quit_(std::move(quit)),
      start_(platform::Clock::current()->monotonicSeconds()) {}

FirstMapFrameQuit* FirstMapFrameQuit::installIfRequested() {
    const char* value = std::getenv("TERVOLO_QUIT_AFTER_FIRST_FRAME");
    if (value == nullptr || std::string_view(value).empty() || std::string_view(value) == "0") return nullptr;
    QCoreApplication* application = QCoreApplication::instance();
    if (application == nullptr) return nullptr;
    auto* watcher = new FirstMapFrameQuit(
        [](const std::string& line) {
            std::fprintf(stderr, "%s\n", line.c_str());
            std::fflush(stderr);
        },
        // Queued, so the paint in progress ends before the loop does.
        [] {
            QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                      Qt::QueuedConnection);
        },
        application);
    application->installEventFilter(watcher);
    return watcher;
}

bool FirstMapFrameQuit::eventFilter(QObject* watched, QEvent* event) {
    if (!fired_ && event->type() == QEvent::Paint) {
        if (auto* view = qobject_cast<platform::MKMapView*>(watched)) {
            // The filter runs before the view paints; its frame's figures are
            // known once this event has been handled.
            QTimer::singleShot(
                0, this, [this, guarded = QPointer<platform::MKMapView>(view)] { checkFrame(guarded); });
        }
    }
    return QObject::eventFilter(watched, event);
}

void FirstMapFrameQuit::checkFrame(const QPointer<platform::MKMapView>& view) {
    if (fired_ || view.isNull() || !view->isVisible()) return;
    if (view->lastFrameStats().cellsPending != 0) return;
    fired_ = true;
    const double elapsed = platform::Clock::current()->monotonicSeconds() - start_;
    const long long milliseconds = std::llround(std::max(0.0, elapsed) * 1000.0);
    write_("first map frame after " + std::to_string(milliseconds) + " ms");
    if (auto* application = QCoreApplication::instance()) application->removeEventFilter(this);
    quit_();
}

}  // namespace tervolo::app
