#include "platform/ui/ApplicationLifecycle.hpp"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QWidget>

#include "platform/dispatch/NotificationCenter.hpp"
#include "platform/ui/ApplicationDelegate.hpp"
#include "platform/ui/ApplicationTermination.hpp"

namespace platform {

const char* ApplicationLifecycle::notificationName(Event event) {
    switch (event) {
        case Event::willResignActive:
            return kApplicationWillResignActiveNotification;
        case Event::didEnterBackground:
            return kApplicationDidEnterBackgroundNotification;
        case Event::willEnterForeground:
            return kApplicationWillEnterForegroundNotification;
        case Event::didBecomeActive:
            return kApplicationDidBecomeActiveNotification;
        case Event::willTerminate:
            return kApplicationWillTerminateNotification;
        case Event::desktopDidResignActive:
            return kDesktopApplicationDidResignActiveNotification;
        case Event::desktopDidBecomeActive:
            return kDesktopApplicationDidBecomeActiveNotification;
    }
    return "";
}

ApplicationLifecycle::ApplicationLifecycle(QCoreApplication& application,
                                           std::weak_ptr<ApplicationDelegate> delegate,
                                           NotificationCenter& center)
    : QObject(&application), delegate_(std::move(delegate)), center_(center) {
    if (auto* gui = qobject_cast<QGuiApplication*>(&application)) {
        connect(gui, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
            applicationFocusChanged(state == Qt::ApplicationActive);
        });
    }
    connect(&application, &QCoreApplication::aboutToQuit, this, [this] { applicationAboutToQuit(); });
}

ApplicationLifecycle::~ApplicationLifecycle() {
    if (!window_.isNull()) window_->removeEventFilter(this);
}

void ApplicationLifecycle::setMainWindow(QWidget* window) {
    if (!window_.isNull()) window_->removeEventFilter(this);
    window_ = window;
    if (window != nullptr) window->installEventFilter(this);
}

bool ApplicationLifecycle::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_.data()) {
        switch (event->type()) {
            case QEvent::Show:
            case QEvent::Hide:
            case QEvent::WindowStateChange:
                mainWindowVisibilityChanged(window_->isVisible() && !window_->isMinimized());
                break;
            default:
                break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void ApplicationLifecycle::applicationFocusChanged(bool focused) {
    if (state_ == State::terminated) return;
    if (focused) {
        // The first activation is the end of the launch: the program is active from here on.
        if (state_ == State::launching) {
            state_ = State::active;
            send(Event::didBecomeActive);
        }
        if (!focused_) {
            focused_ = true;
            send(Event::desktopDidBecomeActive);
        }
    } else if (focused_) {
        focused_ = false;
        send(Event::desktopDidResignActive);
    }
}

void ApplicationLifecycle::mainWindowVisibilityChanged(bool onScreen) {
    // Before the first activation nothing was active that could resign; a
    // window shown then becomes active with the application's focus.
    if (onScreen && state_ == State::background) {
        state_ = State::active;
        send(Event::willEnterForeground);
        send(Event::didBecomeActive);
    } else if (!onScreen && state_ == State::active) {
        state_ = State::background;
        send(Event::willResignActive);
        send(Event::didEnterBackground);
    }
}

void ApplicationLifecycle::applicationAboutToQuit() {
    if (state_ == State::terminated) return;
    // The window torn down after the loop must not send the program to the background again.
    state_ = State::terminated;
    send(Event::willTerminate);
}

void ApplicationLifecycle::send(Event event) {
    if (const auto delegate = delegate_.lock()) {
        switch (event) {
            case Event::willResignActive:
                delegate->applicationWillResignActive();
                break;
            case Event::didEnterBackground:
                delegate->applicationDidEnterBackground();
                break;
            case Event::willEnterForeground:
                delegate->applicationWillEnterForeground();
                break;
            case Event::didBecomeActive:
                delegate->applicationDidBecomeActive();
                break;
            case Event::willTerminate:
                delegate->applicationWillTerminate();
                break;
            // The delegate reaches these through the notices it observes.
            case Event::desktopDidResignActive:
            case Event::desktopDidBecomeActive:
                break;
        }
    }
    center_.post(notificationName(event));
}

}  // namespace platform
