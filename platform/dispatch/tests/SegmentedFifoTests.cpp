#include "platform/dispatch/detail/SegmentedFifo.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Counts live values, so a value destroyed twice or never shows.
struct Tracked {
    static inline int live = 0;
    int value;
    explicit Tracked(int v) : value(v) { ++live; }
    Tracked(Tracked&& other) noexcept : value(other.value) { ++live; }
    Tracked& operator=(Tracked&&) = delete;
    ~Tracked() { --live; }
};

using Fifo = platform::detail::SegmentedFifo<Tracked, 8>;

std::vector<int> popAll(Fifo::Run& run) {
    std::vector<int> values;
    for (; !run.empty(); run.pop_front()) values.push_back(run.front().value);
    return values;
}

std::vector<int> range(int from, int to) {
    std::vector<int> values;
    for (int v = from; v < to; ++v) values.push_back(v);
    return values;
}

}  // namespace

TEST(SegmentedFifo, KeepsOrderAcrossSegmentsAndPutsWhatIsLeftBeforeNewerItems) {
    {
        Fifo fifo;
        for (int v = 0; v < 30; ++v) fifo.push_back(Tracked(v));
        Fifo::Run run = fifo.takeAll();
        EXPECT_TRUE(fifo.empty());
        for (int v = 0; v < 11; ++v) {  // stops inside the second segment
            ASSERT_EQ(run.front().value, v);
            run.pop_front();
        }
        for (int v = 30; v < 45; ++v) fifo.push_back(Tracked(v));
        fifo.putBack(run);
        EXPECT_TRUE(run.empty());
        fifo.recycle(run);
        for (int v = 45; v < 50; ++v) fifo.push_back(Tracked(v));

        Fifo::Run rest = fifo.takeAll();
        EXPECT_EQ(popAll(rest), range(11, 50));
        fifo.recycle(rest);

        // Segments taken back are used again and start empty.
        for (int v = 0; v < 20; ++v) fifo.push_back(Tracked(v));
        Fifo::Run again = fifo.takeAll();
        EXPECT_EQ(popAll(again), range(0, 20));
        fifo.recycle(again);
    }
    EXPECT_EQ(Tracked::live, 0);
}

TEST(SegmentedFifo, PutBackIntoAnEmptyFifoLetsNewItemsFollow) {
    {
        Fifo fifo;
        for (int v = 0; v < 12; ++v) fifo.push_back(Tracked(v));
        Fifo::Run run = fifo.takeAll();
        run.pop_front();
        fifo.putBack(run);  // nothing was queued meanwhile: the run's last segment is the tail again
        for (int v = 12; v < 20; ++v) fifo.push_back(Tracked(v));
        Fifo::Run rest = fifo.takeAll();
        EXPECT_EQ(popAll(rest), range(1, 20));
    }
    EXPECT_EQ(Tracked::live, 0);
}

TEST(SegmentedFifo, ItemsNeverTakenOffAreDestroyedWithTheirOwner) {
    {
        Fifo fifo;
        for (int v = 0; v < 20; ++v) fifo.push_back(Tracked(v));
        Fifo::Run run = fifo.takeAll();
        for (int i = 0; i < 9; ++i) run.pop_front();  // works through the first segment
        for (int v = 0; v < 9; ++v) fifo.push_back(Tracked(v));
        EXPECT_EQ(Tracked::live, 20);
        // The run goes with 11 items left and a worked-through segment never given back; the
        // FIFO goes with 9 items and no spare segments.
    }
    EXPECT_EQ(Tracked::live, 0);
}
