#include "platform/ui/PresentationTransitionQueue.hpp"

#include <deque>
#include <memory>

#include "platform/dispatch/SharedInstance.hpp"
#include "platform/ui/ViewControllerMainThread.hpp"

namespace platform {

namespace {

struct TransitionQueue {
    bool inFlight = false;
    std::deque<PresentationTransition> pending;
};

TransitionQueue& queue() {
    return SharedInstance<TransitionQueue>::get();  // main thread only
}

void startNext();

void start(PresentationTransition transition) {
    queue().inFlight = true;
    // `done` may be called inside the transition (immediate) or later; a
    // second call is ignored so a careless caller cannot start two at once.
    auto called = std::make_shared<bool>(false);
    transition([called] {
        if (*called) return;
        *called = true;
        queue().inFlight = false;
        startNext();
    });
}

void startNext() {
    auto& q = queue();
    if (q.inFlight || q.pending.empty()) return;
    PresentationTransition next = std::move(q.pending.front());
    q.pending.pop_front();
    start(std::move(next));
}

}  // namespace

void runPresentationTransition(PresentationTransition transition) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (queue().inFlight) {
        queue().pending.push_back(std::move(transition));
        return;
    }
    start(std::move(transition));
}

bool presentationTransitionInFlight() {
    return queue().inFlight;
}

}  // namespace platform
