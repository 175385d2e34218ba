#pragma once

#include <functional>

namespace platform::RunLoop {

// Runs main-queue blocks on the calling (main) thread until `condition` holds or `timeoutSeconds` of
// real time have passed; returns whether the condition holds. The condition is checked before the
// first block and after every block. Tests use it in place of the application's event loop.
bool runUntil(std::function<bool()> condition, double timeoutSeconds);

// Runs the main-queue blocks that are queued now (and those they queue), without waiting.
void runUntilIdle();

}  // namespace platform::RunLoop
