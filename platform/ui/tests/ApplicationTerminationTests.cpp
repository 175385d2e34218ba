#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include "platform/dispatch/MainQueueExecutor.hpp"
#include "platform/dispatch/NotificationCenter.hpp"
#include "platform/ui/ApplicationTermination.hpp"

// Quitting the Qt event loop posts the will-terminate notice once, on the main
// thread, before exec() returns.
TEST(ApplicationTermination, QuittingPostsWillTerminateOnce) {
    int argc = 1;
    char name[] = "tervolo_platform_ui_tests";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    platform::postWillTerminateWhenQuitting(app);

    int posted = 0;
    bool onMain = false;
    auto observation = platform::NotificationCenter::defaultCenter().addObserver(
        "UIApplicationWillTerminateNotification", nullptr, [&](const auto&) {
            ++posted;
            onMain = platform::isMainThread();
        });
    QTimer::singleShot(0, &app, [] { QCoreApplication::quit(); });
    // Guards the test against a hang; it is not part of what is checked.
    QTimer::singleShot(std::chrono::seconds(60), &app, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(posted, 0);
    EXPECT_EQ(app.exec(), 0);
    EXPECT_EQ(posted, 1);
    EXPECT_TRUE(onMain);
}
