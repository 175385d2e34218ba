#include "platform/dispatch/DispatchSourceTimer.hpp"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/detail/DispatchInternal.hpp"

namespace platform {

namespace {
constexpr double kMinimumInterval = 0.0001;
}

struct DispatchSourceTimer::State : std::enable_shared_from_this<DispatchSourceTimer::State> {
    std::mutex mutex;
    std::shared_ptr<DispatchQueue> queue;
    std::function<void()> handler;
    bool active = false;
    bool cancelled = false;
    int suspendCount = 0;
    bool hasSchedule = false;
    double startDelay = 0;
    std::optional<double> interval;
    unsigned long long generation = 0;  // a new schedule or a cancel drops fires of older ones
    std::shared_ptr<Clock> clock;       // the clock the current schedule runs on
    double nextDue = 0;
    bool missedWhileSuspended = false;
    bool handlerQueued = false;  // a handler is waiting on the queue: further fires merge into it

    // Called with `mutex` held.
    void armLocked() {
        if (!active || cancelled || !hasSchedule) return;
        ++generation;
        clock = Clock::current();
        nextDue = clock->monotonicSeconds() + startDelay;
        scheduleFireLocked();
    }

    void scheduleFireLocked() {
        std::weak_ptr<State> weak = weak_from_this();
        const auto gen = generation;
        detail::scheduleAt(
            clock, nextDue, queue,
            [weak] {
                if (auto self = weak.lock()) self->runHandler();
            },
            [weak, gen] {
                auto self = weak.lock();
                return self && self->onDue(gen);
            });
    }

    // At due time, off the queue: plan the next fire and decide whether the handler is queued.
    bool onDue(unsigned long long gen) {
        std::lock_guard lock(mutex);
        if (cancelled || gen != generation) return false;
        if (interval) {
            nextDue += *interval;
            scheduleFireLocked();
        }
        if (suspendCount > 0) {
            missedWhileSuspended = true;
            return false;
        }
        if (handlerQueued) return false;
        handlerQueued = true;
        return true;
    }

    void runHandler() {
        std::function<void()> toRun;
        {
            std::lock_guard lock(mutex);
            handlerQueued = false;
            if (cancelled) return;
            toRun = handler;
        }
        if (toRun) toRun();
    }
};

std::shared_ptr<DispatchSourceTimer> DispatchSourceTimer::make(std::shared_ptr<DispatchQueue> queue) {
    return std::shared_ptr<DispatchSourceTimer>(new DispatchSourceTimer(std::move(queue)));
}

DispatchSourceTimer::DispatchSourceTimer(std::shared_ptr<DispatchQueue> queue)
    : state_(std::make_shared<State>()) {
    state_->queue = queue ? std::move(queue) : DispatchQueue::global();
}

DispatchSourceTimer::~DispatchSourceTimer() {
    cancel();
}

void DispatchSourceTimer::schedule(double startDelaySeconds, std::optional<double> intervalSeconds,
                                   double leewaySeconds) {
    (void)leewaySeconds;  // deadlines are kept exactly
    std::lock_guard lock(state_->mutex);
    state_->hasSchedule = true;
    state_->startDelay = detail::sanitizeDelay(startDelaySeconds);
    if (intervalSeconds && (std::isnan(*intervalSeconds) || std::isinf(*intervalSeconds)))
        intervalSeconds.reset();
    // A repeating interval of at least 0.1 ms: a zero step would fire endlessly at one instant.
    state_->interval =
        intervalSeconds ? std::optional<double>(std::max(*intervalSeconds, kMinimumInterval)) : std::nullopt;
    state_->missedWhileSuspended = false;
    state_->armLocked();
}

void DispatchSourceTimer::setEventHandler(std::function<void()> handler) {
    std::lock_guard lock(state_->mutex);
    state_->handler = std::move(handler);
}

void DispatchSourceTimer::activate() {
    std::lock_guard lock(state_->mutex);
    if (state_->active || state_->cancelled) return;
    state_->active = true;
    state_->armLocked();
}

void DispatchSourceTimer::suspend() {
    std::lock_guard lock(state_->mutex);
    ++state_->suspendCount;
}

void DispatchSourceTimer::resume() {
    bool deliver = false;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->suspendCount > 0) {
            if (--state_->suspendCount == 0 && state_->missedWhileSuspended && !state_->cancelled) {
                state_->missedWhileSuspended = false;
                if (!state_->handlerQueued) {
                    state_->handlerQueued = true;
                    deliver = true;
                }
            }
        } else if (!state_->active && !state_->cancelled) {
            // Resuming a timer that was never activated activates it, as on the platform.
            state_->active = true;
            state_->armLocked();
        }
        // A resume beyond the suspensions is ignored (the platform would crash).
    }
    if (deliver) {
        std::weak_ptr<State> weak = state_;
        state_->queue->async([weak] {
            if (auto self = weak.lock()) self->runHandler();
        });
    }
}

void DispatchSourceTimer::cancel() {
    std::lock_guard lock(state_->mutex);
    state_->cancelled = true;
    ++state_->generation;
}

bool DispatchSourceTimer::isCancelled() const {
    std::lock_guard lock(state_->mutex);
    return state_->cancelled;
}

}  // namespace platform
