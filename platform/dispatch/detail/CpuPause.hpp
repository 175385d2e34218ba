#pragma once

#include <thread>

namespace platform::detail {

// One short pause (tens of nanoseconds) in a loop that waits for another thread without a system
// call; it leaves the core's other work and the memory bus a moment.
inline void cpuPause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
}

}  // namespace platform::detail
