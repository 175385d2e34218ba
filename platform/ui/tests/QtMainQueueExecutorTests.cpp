#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/ui/QtMainQueueExecutor.hpp"
#include "testsupport/ui/TestApplication.hpp"

using platform::DispatchQueue;

// The main queue driven by the Qt event loop alone: blocks from another thread run on the GUI thread
// in order, a sync from that thread returns, and a delayed block runs from a Qt timer.
TEST(QtMainQueueExecutor, DrivesTheMainQueueFromTheEventLoop) {
    int argc = 1;
    char name[] = "tervolo_platform_ui_tests";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    auto executor = platform::QtMainQueueExecutor::install();

    std::vector<int> order;  // GUI thread only
    bool allOnMain = true;
    auto main = DispatchQueue::main();
    main->async([&] { order.push_back(-1); });  // queued before the loop starts
    std::thread producer([&] {
        for (int i = 0; i < 100; ++i) {
            main->async([&, i] {
                allOnMain = allOnMain && platform::isMainThread() &&
                            DispatchQueue::currentLabel() == platform::kMainQueueLabel;
                order.push_back(i);
            });
        }
        main->sync([&] { order.push_back(1000); });
        main->asyncAfter(0.001, [&] {
            order.push_back(2000);
            QCoreApplication::quit();
        });
    });
    // Guards the test against a hang; it is not part of what is checked.
    QTimer::singleShot(std::chrono::seconds(60), &app, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(app.exec(), 0);
    producer.join();

    ASSERT_EQ(order.size(), 103u);
    EXPECT_EQ(order.front(), -1);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(order[static_cast<size_t>(i) + 1], i);
    EXPECT_EQ(order[101], 1000);
    EXPECT_EQ(order[102], 2000);
    EXPECT_TRUE(allOnMain);
    platform::setMainQueueExecutor(nullptr);
}

namespace {

QApplication& sharedApplication() {
    return tervolo::testsupport::sharedTestApplication("tervolo_platform_ui_tests");
}

// Runs the Qt event loop until `done` holds or 10 s pass.
bool spinUntil(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

}  // namespace

// A delay beyond what a Qt timer's int of milliseconds holds (2^32 ms + 50 ms would wrap to 50 ms)
// waits its full length instead of firing early; a 100 ms marker shows time has passed.
TEST(QtMainQueueExecutor, LongDelaysDoNotWrapAround) {
    sharedApplication();
    auto executor = platform::QtMainQueueExecutor::install();
    bool longFired = false;
    bool markerFired = false;
    DispatchQueue::main()->asyncAfter(4294967.296 + 0.05, [&] { longFired = true; });
    DispatchQueue::main()->asyncAfter(0.1, [&] { markerFired = true; });
    ASSERT_TRUE(spinUntil([&] { return markerFired; }));
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_FALSE(longFired);
    platform::setMainQueueExecutor(nullptr);
}

// Delayed main-queue work outlives the executor that was installed when it was scheduled.
TEST(QtMainQueueExecutor, DelayedWorkSurvivesAReplacedExecutor) {
    sharedApplication();
    auto first = platform::QtMainQueueExecutor::install();
    bool fired = false;
    DispatchQueue::main()->asyncAfter(0.02, [&] { fired = true; });
    auto second = platform::QtMainQueueExecutor::install();
    first.reset();
    EXPECT_TRUE(spinUntil([&] { return fired; }));
    platform::setMainQueueExecutor(nullptr);
}

// A flood of main-queue work is run in slices, so the event loop gets its turn in between.
TEST(QtMainQueueExecutor, AFloodIsDrainedInTimeSlices) {
    sharedApplication();
    platform::setMainQueueExecutor(nullptr);
    int ran = 0;
    for (int i = 0; i < 2000; ++i) {
        DispatchQueue::main()->async([&] {
            ++ran;
            std::this_thread::sleep_for(std::chrono::microseconds(20));  // about 40 ms of work in all
        });
    }
    const int first = platform::drainMainQueue();
    EXPECT_GT(first, 0);
    EXPECT_LT(first, 2000);  // about 4 ms of it, not all 40
    platform::RunLoop::runUntilIdle();
    EXPECT_EQ(ran, 2000);
}
