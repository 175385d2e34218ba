#pragma once

#include <chrono>
#include <functional>

namespace tervolo::testsupport {

// Asks `condition` again, a millisecond apart, until it holds or `timeout` of real time has passed;
// true when it held. For work that other threads finish (a worker queue, a file monitor, a
// server's reply), never for timers: those run on the virtual clock (VirtualClockScope), so a test
// advances time instead of waiting for it.
//
//   ASSERT_TRUE(testsupport::eventually([&] { return manager->unsortedLogFileNames().size() == 5; }));
bool eventually(const std::function<bool()>& condition,
                std::chrono::steady_clock::duration timeout = std::chrono::seconds(10));

}  // namespace tervolo::testsupport
