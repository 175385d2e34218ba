#pragma once

// The worker threads behind the queues; internal to the dispatch layer.

#include <functional>
#include <memory>

#include "platform/dispatch/DispatchGroup.hpp"

namespace platform {
class DispatchQueue;
}  // namespace platform

namespace platform::detail {

// One unit of pool work: a worker calls `run(job)`. A plain record rather than a wrapping closure,
// so handing a block to a worker allocates nothing beyond the block itself; it is moved three
// times on its way, so it stays small.
struct PoolJob {
    void (*run)(PoolJob& job) = nullptr;
    // Keeps a labelled queue alive until its job has run; for the never-destroyed global queues it
    // only points (no count to touch).
    std::shared_ptr<DispatchQueue> queue;
    std::function<void()> block;
    DispatchGroup::State* group = nullptr;  // left once the block has run, when set
};

// Two elastic pools of worker threads: one serves the labelled (serial and concurrent) queues,
// one the global queues. Each keeps about one busy thread per processor; when queued work makes
// no progress for a while (every worker blocked in a wait), a monitor adds a thread, up to a hard
// cap, so blocking blocks cannot starve the pool. Idle workers exit after a few seconds, so idle
// queues cost no thread. Both pools are never destroyed: workers may outlive main().
void submitToLabelledPool(PoolJob&& job);
void submitToGlobalPool(PoolJob&& job);

}  // namespace platform::detail
