#pragma once

#include <optional>

namespace platform {

// Processors available to the process, at least 1.
int processorCount();
// Replaces the answer of processorCount() (tests of serial versus parallel paths); nullopt restores it.
void setProcessorCountForTesting(std::optional<int> count);

}  // namespace platform
