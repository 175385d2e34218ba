#pragma once

// Runs a piece of a test in a forked child, so that crashes and signal
// handler changes never touch the test binary itself.

#include <functional>
#include <string>

namespace tervolo::crash::testing {

struct ChildResult {
    bool exited = false;  // ended through _exit
    int exitCode = -1;
    int signal = 0;      // the signal that ended it, 0 when it exited
    std::string output;  // what the child wrote to the pipe `report`
    // Seconds from the child's first output to its end as the parent saw it
    // (-1 when it wrote nothing).
    double secondsAfterFirstOutput = -1;
};

// Forks; the child runs `body` with the write end of a pipe (for markers the
// parent checks) and then _exits with 0. A child that has not ended after
// `seconds` is ended by SIGALRM, which the parent sees as the signal, so a
// hang fails the test instead of blocking it.
ChildResult runInChild(const std::function<void(int report)>& body, unsigned seconds = 10);

// Writes a marker from inside a signal handler (write(2) only).
void report(int fd, const char* text);

// Keeps the calling process from writing a core file when it crashes: a
// core of a crashing child can take long to write on a busy machine, which
// would blur how long the crash itself takes.
void disableCoreDumps();

// What a shell command writes to its standard output (empty when it cannot run).
std::string commandOutput(const std::string& command);

}  // namespace tervolo::crash::testing
