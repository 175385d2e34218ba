#include "platform/dispatch/ProcessorCount.hpp"

#include <algorithm>
#include <atomic>
#include <thread>

namespace platform {

namespace {
std::atomic<int> overrideCount{0};  // 0: no override
}

int processorCount() {
    const int forced = overrideCount.load(std::memory_order_relaxed);
    if (forced > 0) return forced;
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

void setProcessorCountForTesting(std::optional<int> count) {
    overrideCount.store(count ? std::max(1, *count) : 0, std::memory_order_relaxed);
}

}  // namespace platform
