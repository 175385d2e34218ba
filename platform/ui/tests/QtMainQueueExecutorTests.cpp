#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>

#include <thread>
#include <vector>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/ui/QtMainQueueExecutor.hpp"

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
