#include "crash/QCrashProcessInfo.hpp"

#include <unistd.h>

#include <fstream>
#include <sstream>

#include "platform/text/Unicode.hpp"

namespace tervolo::crash {

namespace {

std::optional<std::string> readFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Boot time in seconds since 1970, the "btime" line of /proc/stat.
std::optional<int64_t> bootTime() {
    std::ifstream in("/proc/stat");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("btime ", 0) == 0) return std::stoll(line.substr(6));
    }
    return std::nullopt;
}

// The longest prefix of `text`, at most `max` bytes, that is valid UTF-8.
std::string validPrefix(const std::string& text, size_t max) {
    std::string prefix = text.substr(0, max);
    while (!prefix.empty() && !platform::text::isValidUTF8(prefix)) prefix.pop_back();
    return prefix;
}

}  // namespace

std::optional<QCrashProcessInfo> QCrashProcessInfo::currentProcessInfo() {
    return create(getpid());
}

std::optional<QCrashProcessInfo> QCrashProcessInfo::create(pid_t processID) {
    const std::string base = "/proc/" + std::to_string(processID);
    const auto stat = readFile(base + "/stat");
    const auto status = readFile(base + "/status");
    if (!stat || !status) return std::nullopt;
    // "pid (comm) state ppid ..." — the command name may hold spaces and
    // parentheses, so it runs to the last ")".
    const auto open = stat->find('(');
    const auto close = stat->rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) return std::nullopt;
    std::istringstream fields(stat->substr(close + 2));
    std::string state;
    int64_t ppid = 0;
    fields >> state >> ppid;
    // Field 22 is the start time in clock ticks after boot; 4 fields are read
    // (pid, comm, state, ppid), so 17 more to skip.
    std::string skip;
    for (int i = 0; i < 17; ++i) fields >> skip;
    uint64_t startTicks = 0;
    fields >> startTicks;
    if (!fields) return std::nullopt;

    QCrashProcessInfo info;
    info.processID_ = processID;
    const std::string name = validPrefix(stat->substr(open + 1, close - open - 1), 16);
    if (!name.empty()) info.processName_ = name;
    info.parentProcessID_ = static_cast<int32_t>(ppid);
    const long ticks = sysconf(_SC_CLK_TCK);
    if (const auto boot = bootTime(); boot && ticks > 0) {
        info.startTime_.seconds = *boot + static_cast<int64_t>(startTicks / static_cast<uint64_t>(ticks));
        info.startTime_.microseconds = static_cast<int64_t>((startTicks % static_cast<uint64_t>(ticks)) *
                                                            1000000 / static_cast<uint64_t>(ticks));
    }
    const auto tracer = status->find("TracerPid:");
    if (tracer != std::string::npos) info.traced_ = std::stol(status->substr(tracer + 10)) != 0;
    return info;
}

}  // namespace tervolo::crash
