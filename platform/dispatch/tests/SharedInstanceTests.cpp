#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/dispatch/SharedInstance.hpp"

using platform::SharedInstance;

namespace {

struct Counted {
    static inline std::atomic<int> constructed{0};
    Counted() { ++constructed; }
    int value = 0;
};

struct RaceTag {};
struct FirstTag {};
struct SecondTag {};
struct ReplaceTag {};
struct LateTag {};

using Raced = SharedInstance<Counted, RaceTag>;
using First = SharedInstance<Counted, FirstTag>;
using Second = SharedInstance<Counted, SecondTag>;
using Replaced = SharedInstance<Counted, ReplaceTag>;
using Late = SharedInstance<Counted, LateTag>;

class PrivateOnly {
  public:
    static PrivateOnly& shared() { return SharedInstance<PrivateOnly>::get(); }
    int value() const { return 7; }

  private:
    friend class SharedInstance<PrivateOnly>;
    PrivateOnly() = default;
};

TEST(SharedInstanceTests, ThreadsRacingToTheFirstUseShareOneInstance) {
    const int before = Counted::constructed.load();
    std::atomic<bool> go{false};
    std::vector<Counted*> seen(16);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&, i] {
            while (!go.load()) std::this_thread::yield();
            seen[i] = &Raced::get();
        });
    }
    go = true;
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(Counted::constructed.load() - before, 1);
    for (Counted* instance : seen) EXPECT_EQ(instance, seen.front());
}

TEST(SharedInstanceTests, TagsKeepInstancesOfOneTypeApartAndFactoriesRunOnce) {
    int made = 0;
    auto make = [&] {
        ++made;
        auto* instance = new Counted();
        instance->value = 42;
        return instance;
    };
    Counted& first = First::get(make);
    EXPECT_EQ(&First::get(make), &first);
    EXPECT_EQ(first.value, 42);
    EXPECT_EQ(made, 1);
    EXPECT_NE(&Second::get(), &first);
    EXPECT_EQ(PrivateOnly::shared().value(), 7);
}

TEST(SharedInstanceTests, ReplacementServesForItsScopeThenTheSharedInstanceReturns) {
    Counted& shared = Replaced::get();
    Counted stand_in;
    {
        auto replaced = Replaced::replaceForTesting(stand_in);
        EXPECT_EQ(&Replaced::get(), &stand_in);
        Counted inner;
        {
            auto nested = Replaced::replaceForTesting(inner);
            EXPECT_EQ(&Replaced::get(), &inner);
        }
        EXPECT_EQ(&Replaced::get(), &stand_in);
    }
    EXPECT_EQ(&Replaced::get(), &shared);
}

TEST(SharedInstanceTests, ReplacedBeforeFirstUseCreatesTheSharedInstanceOnlyAfterwards) {
    const int before = Counted::constructed.load();
    Counted stand_in;
    {
        auto replaced = Late::replaceForTesting(stand_in);
        EXPECT_EQ(&Late::get(), &stand_in);
        EXPECT_EQ(Counted::constructed.load() - before, 1);  // only the stand-in
    }
    Counted& shared = Late::get();
    EXPECT_NE(&shared, &stand_in);
    EXPECT_EQ(Counted::constructed.load() - before, 2);
}

}  // namespace
