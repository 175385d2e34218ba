#include "ChildProcess.hpp"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>

namespace tervolo::crash::testing {

void report(int fd, const char* text) {
    const ssize_t ignored = write(fd, text, strlen(text));
    (void)ignored;
}

std::string commandOutput(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
    return out;
}

void disableCoreDumps() {
    const struct rlimit none { 0, 0 };
    setrlimit(RLIMIT_CORE, &none);
    // A core_pattern that pipes to a collector ignores the limit; a process
    // that is not dumpable is never dumped.
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

ChildResult runInChild(const std::function<void(int report)>& body, unsigned seconds) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        // A clean slate for SIGALRM, whatever the parent had.
        signal(SIGALRM, SIG_DFL);
        alarm(seconds);
        body(fds[1]);
        _exit(0);
    }
    close(fds[1]);
    ChildResult result;
    char buffer[256];
    ssize_t n;
    std::optional<std::chrono::steady_clock::time_point> firstOutput;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) {
        if (!firstOutput) firstOutput = std::chrono::steady_clock::now();
        result.output.append(buffer, static_cast<size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    if (firstOutput) {
        result.secondsAfterFirstOutput =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - *firstOutput).count();
    }
    if (WIFEXITED(status)) {
        result.exited = true;
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

}  // namespace tervolo::crash::testing
