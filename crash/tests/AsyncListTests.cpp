#include "crash/AsyncList.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace tervolo::crash {
namespace {

std::vector<int> walk(async_list<int>& list) {
    std::vector<int> values;
    list.set_reading(true);
    for (auto* n = list.next(nullptr); n != nullptr; n = list.next(n)) values.push_back(n->value);
    list.set_reading(false);
    return values;
}

TEST(AsyncList, AppendPrependAndRemoveKeepTheOrder) {
    async_list<int> list;
    EXPECT_TRUE(walk(list).empty());
    list.append(2);
    list.append(3);
    list.prepend(1);
    list.append(4);
    EXPECT_EQ(walk(list), (std::vector<int>{1, 2, 3, 4}));

    EXPECT_TRUE(list.remove(1));   // head
    EXPECT_TRUE(list.remove(4));   // tail
    EXPECT_FALSE(list.remove(9));  // absent
    EXPECT_EQ(walk(list), (std::vector<int>{2, 3}));
    list.append(5);  // after a removed tail, the new tail links correctly
    list.prepend(0);
    EXPECT_EQ(walk(list), (std::vector<int>{0, 2, 3, 5}));

    list.append(3);
    EXPECT_TRUE(list.remove(3));  // the first of equal values
    EXPECT_EQ(walk(list), (std::vector<int>{0, 2, 5, 3}));
    list.clear();
    EXPECT_TRUE(walk(list).empty());
    list.append(7);
    EXPECT_EQ(walk(list), (std::vector<int>{7}));
}

TEST(AsyncList, AReaderStandingOnARemovedNodeWalksOnSafely) {
    async_list<int> list;
    for (int i = 1; i <= 4; ++i) list.append(i);
    list.set_reading(true);
    auto* second = list.next(list.next(nullptr));
    ASSERT_EQ(second->value, 2);
    // Removed while the reader stands on it: the node stays valid (ASan
    // would report a use after free) and still leads on into the list.
    EXPECT_TRUE(list.remove(2));
    EXPECT_TRUE(list.remove(1));
    list.append(5);  // a new node while the reader is counted
    EXPECT_EQ(second->value, 2);
    std::vector<int> rest;
    for (auto* n = list.next(second); n != nullptr; n = list.next(n)) rest.push_back(n->value);
    list.set_reading(false);
    EXPECT_EQ(rest, (std::vector<int>{3, 4, 5}));
    EXPECT_EQ(walk(list), (std::vector<int>{3, 4, 5}));
    // With no reader counted, removed nodes are released.
    EXPECT_TRUE(list.remove(3));
    EXPECT_EQ(walk(list), (std::vector<int>{4, 5}));
}

}  // namespace
}  // namespace tervolo::crash
