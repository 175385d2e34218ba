#pragma once

// The worker threads behind the queues; internal to the dispatch layer.

#include <functional>

namespace platform::detail {

// Two elastic pools of worker threads: one serves the labelled (serial and concurrent) queues,
// one the global queues. Each keeps about one busy thread per processor; when queued work makes
// no progress for a while (every worker blocked in a wait), a monitor adds a thread, up to a hard
// cap, so blocking blocks cannot starve the pool. Idle workers exit after a few seconds, so idle
// queues cost no thread. Both pools are never destroyed: workers may outlive main().
void submitToLabelledPool(std::function<void()> task);
void submitToGlobalPool(std::function<void()> task);

}  // namespace platform::detail
