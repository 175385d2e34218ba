#pragma once

class QCoreApplication;

namespace platform {

// The platform's notice that the application is about to end.
inline constexpr const char* kApplicationWillTerminateNotification = "UIApplicationWillTerminateNotification";

// Posts kApplicationWillTerminateNotification on the default notification
// centre when Qt is about to quit (QCoreApplication::aboutToQuit), on the main
// thread while the event loop's queues still run, so that whatever saves or
// flushes on it (the log registry's loggers) does so before the program ends.
// Call once, on the main thread, after the application object exists.
void postWillTerminateWhenQuitting(QCoreApplication& application);

}  // namespace platform
