#include "backend/ShorturlLookupQueue.hpp"

#include <optional>
#include <set>

#include "backend/BackendHosts.hpp"
#include "logging/LoggerMetadataValue.hpp"
#include "logging/QLLogging.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "platform/net/URLSession.hpp"

namespace tervolo::backend {

struct ShorturlLookupQueue::State : std::enable_shared_from_this<State> {
    std::shared_ptr<platform::URLSession> session;
    size_t maximumInFlight = kMaximumInFlight;

    mutable std::mutex mutex;
    size_t inFlight = 0;                // guarded by mutex
    std::deque<Lookup> waiting;         // guarded by mutex
    std::set<std::string> waitingKeys;  // guarded by mutex

    // Starts the request of `lookup`; its completion makes room for the next.
    void start(Lookup lookup) {
        auto task = session->downloadTask(
            std::move(lookup.request),
            [weak = weak_from_this(), completion = std::move(lookup.completion)](
                std::optional<std::string> location, std::optional<platform::HTTPURLResponse> response,
                std::optional<platform::Error> error) {
                if (completion) completion(std::move(location), std::move(response), std::move(error));
                if (auto state = weak.lock()) state->finished();
            });
        task->resume();
    }

    void finished() {
        std::optional<Lookup> next;
        {
            std::lock_guard lock(mutex);
            if (waiting.empty()) {
                if (inFlight > 0) --inFlight;
                return;
            }
            // The place passes straight to the next in line.
            next = std::move(waiting.front());
            waiting.pop_front();
            waitingKeys.erase(next->key);
        }
        start(std::move(*next));
    }
};

ShorturlLookupQueue::ShorturlLookupQueue(platform::URLSessionConfiguration configuration,
                                         size_t maximumInFlight)
    : state_(std::make_shared<State>()) {
    state_->session = platform::URLSession::make(std::move(configuration));
    state_->maximumInFlight = maximumInFlight > 0 ? maximumInFlight : 1;
}

ShorturlLookupQueue::~ShorturlLookupQueue() {
    {
        std::lock_guard lock(state_->mutex);
        state_->waiting.clear();
        state_->waitingKeys.clear();
    }
    state_->session->invalidateAndCancel();
}

ShorturlLookupQueue& ShorturlLookupQueue::shared() {
    return platform::SharedInstance<ShorturlLookupQueue>::get(
        [] { return new ShorturlLookupQueue(apiSessionConfiguration(5.0)); });
}

ShorturlLookupQueue::Outcome ShorturlLookupQueue::lookUp(const std::string& key, platform::URLRequest request,
                                                         Completion completion) {
    Lookup lookup{key, std::move(request), std::move(completion)};
    {
        std::lock_guard lock(state_->mutex);
        if (state_->inFlight >= state_->maximumInFlight) {
            if (state_->waitingKeys.count(key) != 0) return Outcome::coalesced;
            if (state_->waiting.size() >= kMaximumWaiting) {
                QLLogInfo("short-link lookup of " + logging::debugQuoted(key) +
                          " dropped: too many lookups wait already");
                return Outcome::dropped;
            }
            state_->waitingKeys.insert(key);
            state_->waiting.push_back(std::move(lookup));
            return Outcome::waiting;
        }
        ++state_->inFlight;
    }
    state_->start(std::move(lookup));
    return Outcome::started;
}

size_t ShorturlLookupQueue::inFlight() const {
    std::lock_guard lock(state_->mutex);
    return state_->inFlight;
}

size_t ShorturlLookupQueue::waiting() const {
    std::lock_guard lock(state_->mutex);
    return state_->waiting.size();
}

}  // namespace tervolo::backend
