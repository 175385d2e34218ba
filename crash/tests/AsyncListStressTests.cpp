#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "crash/AsyncList.hpp"

namespace tervolo::crash {
namespace {

struct Entry {
    uint64_t key;
    uint64_t check;  // key * 3: a torn or reused value would break it
    bool operator==(const Entry& other) const { return key == other.key; }
};

// Writers append and remove while readers walk without locks. Under
// ThreadSanitizer a reader touching a freed or rewritten node is a report;
// in any build a value that changed under a reader fails the check.
TEST(AsyncListStress, ReadersWalkWhileWritersChangeTheList) {
    async_list<Entry> list;
    for (uint64_t k = 0; k < 16; ++k) list.append({k, k * 3});
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> walks{0};
    std::atomic<bool> corrupt{false};
    // On a busy machine a thread may first run long after it was made: the
    // writers wait for every reader, so that the walks meet their changes.
    constexpr int kReaders = 3;
    std::atomic<int> readersStarted{0};

    std::vector<std::thread> readers;
    for (int r = 0; r < kReaders; ++r) {
        readers.emplace_back([&] {
            readersStarted.fetch_add(1);
            while (!stop.load()) {
                list.set_reading(true);
                size_t steps = 0;
                for (auto* n = list.next(nullptr); n != nullptr && steps < 100000;
                     n = list.next(n), ++steps) {
                    if (n->value.check != n->value.key * 3) corrupt = true;
                }
                list.set_reading(false);
                walks.fetch_add(1);
            }
        });
    }
    std::vector<std::thread> writers;
    for (int w = 0; w < 2; ++w) {
        writers.emplace_back([&, w] {
            while (readersStarted.load() < kReaders) std::this_thread::yield();
            for (uint64_t i = 0; i < 4000; ++i) {
                const uint64_t key = 1000 + static_cast<uint64_t>(w) * 100000 + i;
                if (i % 2 == 0) {
                    list.append({key, key * 3});
                } else {
                    list.prepend({key, key * 3});
                }
                if (i >= 8) list.remove({key - 8, 0});
            }
        });
    }
    for (auto& t : writers) t.join();
    while (walks.load() == 0) std::this_thread::yield();
    stop = true;
    for (auto& t : readers) t.join();
    EXPECT_FALSE(corrupt.load());
    EXPECT_GT(walks.load(), 0u);

    // Each writer left its last 8 keys; the 16 first entries are untouched.
    size_t count = 0;
    list.set_reading(true);
    for (auto* n = list.next(nullptr); n != nullptr; n = list.next(n)) ++count;
    list.set_reading(false);
    EXPECT_EQ(count, 16u + 2 * 8);
}

}  // namespace
}  // namespace tervolo::crash
