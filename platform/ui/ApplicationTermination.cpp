#include "platform/ui/ApplicationTermination.hpp"

#include <QCoreApplication>

#include "platform/dispatch/NotificationCenter.hpp"

namespace platform {

void postWillTerminateWhenQuitting(QCoreApplication& application) {
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &application,
                     [] { NotificationCenter::defaultCenter().post(kApplicationWillTerminateNotification); });
}

}  // namespace platform
