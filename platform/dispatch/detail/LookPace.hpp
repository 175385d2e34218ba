#pragma once

#include <algorithm>
#include <cstddef>
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

// How long a thread that takes the work others hand over (a pool worker at the job FIFO, a serial
// queue's drain) waits before it looks again. One that keeps close behind a stream of submits takes
// a few jobs per look, and every look pulls the lines the submitter writes next (a lock, the slots
// it fills) away from it, so both sides slow down; where the two cores sit far apart that more
// than doubles the cost of a job, for the submitter too (a log call, say). So a look that finds
// less than kFullLook jobs makes the next one wait longer, up to about six microseconds, and a full
// look halves the wait. Once the stream stops the owner starts over from no wait, so that a lone
// job (a hop from one queue to another) is not kept waiting.
class LookPace {
  public:
    static constexpr size_t kFullLook = 64;

    void slower() { pauses_ = std::min(pauses_ * 2 + 1, kMaxPauses); }
    void faster() { pauses_ /= 2; }
    void reset() { pauses_ = 0; }
    // The wait before the next look; how many pauses it took.
    int wait() const {
        for (int i = 0; i < pauses_; ++i) cpuPause();
        return pauses_;
    }

  private:
    static constexpr int kMaxPauses = 255;
    int pauses_ = 0;
};

}  // namespace platform::detail
