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
    size_t maximumWaiting = kMaximumWaiting;

    mutable std::mutex mutex;
    size_t inFlight = 0;                // guarded by mutex
    std::deque<Lookup> waiting;         // guarded by mutex
    std::set<std::string> waitingKeys;  // guarded by mutex

    // Gives a lookup's place back when the completion's frame ends, however
    // it ends: a completion that throws must not keep its place for good.
    class PlaceRelease {
      public:
        explicit PlaceRelease(std::weak_ptr<State> state) : state_(std::move(state)) {}
        ~PlaceRelease() {
            if (auto state = state_.lock()) state->finished();
        }
        PlaceRelease(const PlaceRelease&) = delete;
        PlaceRelease& operator=(const PlaceRelease&) = delete;

      private:
        std::weak_ptr<State> state_;
    };

    // Starts the request of `lookup`; its completion makes room for the next.
    void start(Lookup lookup) {
        auto task = session->downloadTask(
            std::move(lookup.request),
            [weak = weak_from_this(), completion = std::move(lookup.completion)](
                std::optional<std::string> location, std::optional<platform::HTTPURLResponse> response,
                std::optional<platform::Error> error) {
                const PlaceRelease release(weak);
                if (completion) completion(std::move(location), std::move(response), std::move(error));
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
                                         size_t maximumInFlight, size_t maximumWaiting,
                                         std::shared_ptr<platform::DispatchQueue> delegateQueue)
    : state_(std::make_shared<State>()) {
    state_->session = platform::URLSession::make(std::move(configuration), std::move(delegateQueue));
    state_->maximumInFlight = maximumInFlight > 0 ? maximumInFlight : 1;
    state_->maximumWaiting = maximumWaiting;
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
            if (state_->waiting.size() >= state_->maximumWaiting) {
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
