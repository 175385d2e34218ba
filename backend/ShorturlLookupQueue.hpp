#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "platform/net/URLRequest.hpp"
#include "platform/net/URLSessionConfiguration.hpp"
#include "platform/net/URLSessionTask.hpp"

namespace platform {
class DispatchQueue;
class URLSession;
}  // namespace platform

namespace tervolo::backend {

// The short-link lookups of incoming links: one session for all of them, at
// most `maximumInFlight` requests running at once, the rest waiting in the
// order they came. A key that is already waiting is not queued again (its
// lookup will serve both links), and at most kMaximumWaiting keys wait; a
// link handed over many times, or many links at once, cost one session's
// thread and a few connections, not a session each. A lookup's place passes
// on when its completion ends, also when the completion throws. Any thread;
// completions run on the session's queue.
class ShorturlLookupQueue {
  public:
    using Completion = platform::URLSessionTask::DownloadCompletion;

    static constexpr size_t kMaximumInFlight = 4;
    static constexpr size_t kMaximumWaiting = 1024;

    // `delegateQueue` null: the session makes its own serial queue.
    explicit ShorturlLookupQueue(platform::URLSessionConfiguration configuration,
                                 size_t maximumInFlight = kMaximumInFlight,
                                 size_t maximumWaiting = kMaximumWaiting,
                                 std::shared_ptr<platform::DispatchQueue> delegateQueue = nullptr);
    // Cancels what runs (each completes with -999); waiting lookups are dropped.
    ~ShorturlLookupQueue();
    ShorturlLookupQueue(const ShorturlLookupQueue&) = delete;
    ShorturlLookupQueue& operator=(const ShorturlLookupQueue&) = delete;

    // The program's queue: the API session with the lookup's 5 s time-out.
    // Never destroyed.
    static ShorturlLookupQueue& shared();

    // What became of a lookup asked for.
    enum class Outcome {
        started,    // its request runs now
        waiting,    // it waits for a free place
        coalesced,  // the same key waits already: that lookup serves it
        dropped,    // too many keys wait: nothing happens (said in the log)
    };
    // Looks `key` up with `request`; `completion` runs once the reply (or the
    // error) is there, unless the key coalesced or was dropped.
    Outcome lookUp(const std::string& key, platform::URLRequest request, Completion completion);

    size_t inFlight() const;
    size_t waiting() const;

  private:
    struct Lookup {
        std::string key;
        platform::URLRequest request;
        Completion completion;
    };
    struct State;

    std::shared_ptr<State> state_;
};

}  // namespace tervolo::backend
