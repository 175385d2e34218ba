#pragma once

#include <QObject>
#include <QPointer>

#include <memory>

class QCoreApplication;
class QWidget;

namespace platform {

class ApplicationDelegate;
class NotificationCenter;

// The notices of the application's activity changes, as the platform names
// them. Tiles, the HUD, analytics and the location services observe these.
inline constexpr const char* kApplicationWillResignActiveNotification =
    "UIApplicationWillResignActiveNotification";
inline constexpr const char* kApplicationDidEnterBackgroundNotification =
    "UIApplicationDidEnterBackgroundNotification";
inline constexpr const char* kApplicationWillEnterForegroundNotification =
    "UIApplicationWillEnterForegroundNotification";
inline constexpr const char* kApplicationDidBecomeActiveNotification =
    "UIApplicationDidBecomeActiveNotification";
// The desktop's focus changes (the window gains or loses the keyboard focus).
inline constexpr const char* kDesktopApplicationDidResignActiveNotification =
    "NSApplicationDidResignActiveNotification";
inline constexpr const char* kDesktopApplicationDidBecomeActiveNotification =
    "NSApplicationDidBecomeActiveNotification";

// The one place where Qt's view of the running program becomes the
// application's activity events: each event calls the delegate's handler
// first, then posts its notice on the notification centre.
//
//   the application first becomes active       → did-become-active
//   the main window minimised or hidden        → will-resign-active, did-enter-background
//   the main window shown again                → will-enter-foreground, did-become-active
//   Qt is about to quit                        → will-terminate
//   the application gains / loses the focus    → the desktop's did-become-active / did-resign-active
//                                                 notice only (no handler: the delegate observes it)
//
// A focus change alone never sends the program to the background: a window
// behind another one is still on screen. Main thread only.
class ApplicationLifecycle : public QObject {
    Q_OBJECT
  public:
    // The events in the order a test lists them.
    enum class Event {
        willResignActive,
        didEnterBackground,
        willEnterForeground,
        didBecomeActive,
        willTerminate,
        desktopDidResignActive,
        desktopDidBecomeActive,
    };
    // The notice posted for `event`.
    static const char* notificationName(Event event);

    // Watches `application` (focus, quit) and, from setMainWindow() on, the main window.
    // `center` must outlive this object.
    ApplicationLifecycle(QCoreApplication& application, std::weak_ptr<ApplicationDelegate> delegate,
                         NotificationCenter& center);
    ~ApplicationLifecycle() override;

    void setMainWindow(QWidget* window);

    // The inputs, public so that tests drive them without a desktop.
    // The application gained (true) or lost the focus.
    void applicationFocusChanged(bool focused);
    // The main window is on screen (shown and not minimised) or not.
    void mainWindowVisibilityChanged(bool onScreen);
    void applicationAboutToQuit();

    bool isActive() const { return state_ == State::active; }
    bool isInBackground() const { return state_ == State::background; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    enum class State { launching, active, background, terminated };
    void send(Event event);

    std::weak_ptr<ApplicationDelegate> delegate_;
    NotificationCenter& center_;
    QPointer<QWidget> window_;
    State state_ = State::launching;
    bool focused_ = false;
};

}  // namespace platform
