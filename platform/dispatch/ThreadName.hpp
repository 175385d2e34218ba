#pragma once

#include <cstdint>

namespace platform {

// How often the dispatch layer has renamed the calling thread. Workers take the
// label of the queue they serve, so a cached thread name is stale once this
// number changes.
uint64_t threadRenameCount() noexcept;

}  // namespace platform
