#pragma once

#include <functional>

namespace platform {

// Presentations, dismissals, pushes and pops run one at a time. A transition
// is a function that gets a `done` to call once it has fully ended (its "did"
// calls and completion run); a transition asked for while another is running
// waits in a first-in, first-out queue and starts right after it. Nothing is
// dropped. Main thread only.
using PresentationTransition = std::function<void(std::function<void()> done)>;
void runPresentationTransition(PresentationTransition transition);
// Whether a transition is running now.
bool presentationTransitionInFlight();

}  // namespace platform
