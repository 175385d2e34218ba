#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/NotificationCenter.hpp"

using platform::NotificationCenter;
using Token = std::unique_ptr<NotificationCenter::Token>;

TEST(NotificationCenter, DeliversInRegistrationOrderWithNameAndObjectFilters) {
    NotificationCenter center;
    auto sender = std::make_shared<int>(1);
    auto otherSender = std::make_shared<int>(2);
    std::vector<std::string> calls;
    auto observe = [&](std::string name, std::shared_ptr<void> object, std::string tag) {
        return center.addObserver(std::move(name), std::move(object), [&calls, tag](const auto& n) {
            const auto it = n.userInfo.find("mapPointChangeReason");
            calls.push_back(
                tag + ":" + n.name + ":" +
                (it != n.userInfo.end() ? std::any_cast<std::string>(it->second) : std::string("-")));
        });
    };
    Token any = observe("changed", nullptr, "any");
    Token fromSender = observe("changed", sender, "sender");
    Token fromOther = observe("changed", otherSender, "other");
    Token allNames = observe("", nullptr, "all");
    Token unrelated = observe("other", nullptr, "unrelated");

    center.post("changed", sender, {{"mapPointChangeReason", std::string("mapPointDeleted")}});
    EXPECT_EQ(calls,
              (std::vector<std::string>{"any:changed:mapPointDeleted", "sender:changed:mapPointDeleted",
                                        "all:changed:mapPointDeleted"}));
    calls.clear();
    center.post("changed");
    EXPECT_EQ(calls, (std::vector<std::string>{"any:changed:-", "all:changed:-"}));
    calls.clear();

    // The center does not keep the filter object alive, and a dead object matches nothing.
    std::weak_ptr<int> weakOther = otherSender;
    otherSender.reset();
    EXPECT_TRUE(weakOther.expired());

    fromSender.reset();
    center.post("changed", sender);
    EXPECT_EQ(calls, (std::vector<std::string>{"any:changed:-", "all:changed:-"}));
}

TEST(NotificationCenter, RemovalAndAdditionDuringDeliveryUseTheSnapshot) {
    NotificationCenter center;
    std::vector<std::string> calls;
    Token second, third, late;
    Token first = center.addObserver("n", nullptr, [&](const auto&) {
        calls.push_back("first");
        second.reset();  // removed before its turn: not called
        if (!late) late = center.addObserver("n", nullptr, [&](const auto&) { calls.push_back("late"); });
    });
    second = center.addObserver("n", nullptr, [&](const auto&) { calls.push_back("second"); });
    third = center.addObserver("n", nullptr, [&](const auto&) {
        calls.push_back("third");
        third.reset();  // removes itself while running
    });
    center.post("n");
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "third"}));  // "late" joined after the snapshot
    calls.clear();
    center.post("n");
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "late"}));
}

TEST(NotificationCenter, NestedPostsAndDefaultCenter) {
    auto& center = NotificationCenter::defaultCenter();
    EXPECT_EQ(&center, &NotificationCenter::defaultCenter());
    std::vector<std::string> calls;
    Token outer = center.addObserver("test.outer", nullptr, [&](const auto&) {
        calls.push_back("outer");
        center.post("test.inner");  // delivered synchronously, before the outer post returns
        calls.push_back("outer done");
    });
    Token inner = center.addObserver("test.inner", nullptr, [&](const auto&) { calls.push_back("inner"); });
    center.post("test.outer");
    EXPECT_EQ(calls, (std::vector<std::string>{"outer", "inner", "outer done"}));
}

TEST(NotificationCenter, TokenDestroyedOnAnotherThreadWaitsForARunningDelivery) {
    NotificationCenter center;
    std::atomic<bool> inside{false}, release{false}, finished{false};
    Token token = center.addObserver("slow", nullptr, [&](const auto&) {
        inside = true;
        while (!release) std::this_thread::yield();
        finished = true;
    });
    std::thread poster([&] { center.post("slow"); });
    while (!inside) std::this_thread::yield();
    std::atomic<bool> removed{false};
    std::thread remover([&] {
        token.reset();
        removed = true;
        EXPECT_TRUE(finished.load());  // never returns while the block still runs
    });
    release = true;
    remover.join();
    poster.join();
    EXPECT_TRUE(removed);
}

TEST(NotificationCenter, ConcurrentPostsAndRegistrations) {
    NotificationCenter center;
    std::atomic<int> delivered{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                Token token =
                    center.addObserver("stress", nullptr, [&](const auto&) { delivered.fetch_add(1); });
                center.post("stress");
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_GE(delivered.load(), 800);  // each post reaches at least its own poster's observer
}

TEST(NotificationCenter, TokenMayOutliveItsCenter) {
    Token token;
    {
        NotificationCenter center;
        token = center.addObserver("n", nullptr, [](const auto&) {});
        center.post("n");
    }
    token.reset();  // no access to the destroyed center
}
