#pragma once

// The worker threads behind the queues; internal to the dispatch layer.

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/dispatch/DispatchGroup.hpp"

namespace platform {
class DispatchQueue;
}  // namespace platform

namespace platform::detail {

// One unit of pool work: a worker calls `run(job)`. A plain record rather than a wrapping closure,
// so handing a block to a worker allocates nothing beyond the block itself; it is moved a few
// times on its way, so it stays small.
struct PoolJob {
    void (*run)(PoolJob& job) = nullptr;
    // When set, what follows `run` (leaving the group, counting the block out of its queue): a
    // worker calls it once for a row of jobs it ran one after another that share `finish`, `queue`
    // and `group`, with how many they were. Until then the next of them holds the group and the
    // queue anyway, so nobody can tell the difference, and the shared counts move once per row.
    void (*finish)(PoolJob& job, uint32_t count) = nullptr;
    // Keeps a labelled queue alive until its job has run; for the never-destroyed global queues it
    // only points (no count to touch).
    std::shared_ptr<DispatchQueue> queue;
    std::function<void()> block;
    DispatchGroup::State* group = nullptr;  // left once the block has run, when set

    bool finishesLike(const PoolJob& other) const {
        return finish == other.finish && queue == other.queue && group == other.group;
    }
};

// Two elastic pools of worker threads: one serves the labelled (serial and concurrent) queues,
// one the global queues. Each keeps about one busy thread per processor; when queued work makes
// no progress for a while (every worker blocked in a wait), a monitor adds a thread, up to a hard
// cap, so blocking blocks cannot starve the pool. Idle workers exit after a few seconds, so idle
// queues cost no thread. Both pools are never destroyed: workers may outlive main().
void submitToLabelledPool(PoolJob&& job);
void submitToGlobalPool(PoolJob&& job);

}  // namespace platform::detail
