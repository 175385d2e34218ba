#pragma once

// A snapshot of a live process's kernel information, taken before any
// crash: identifier, command name, parent, start time and whether a
// debugger traces it. Read from /proc/<pid>/stat and /proc/<pid>/status.
// Any thread.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

namespace tervolo::crash {

class QCrashProcessInfo {
  public:
    struct StartTime {
        int64_t seconds;       // since 1970
        int64_t microseconds;  // within the second
    };

    // The calling process's information; none when /proc cannot be read.
    static std::optional<QCrashProcessInfo> currentProcessInfo();
    // None for a process that does not exist (or cannot be read).
    static std::optional<QCrashProcessInfo> create(pid_t processID);

    int32_t processID() const { return processID_; }
    // The command name (at most 16 bytes of valid UTF-8); none when empty.
    const std::optional<std::string>& processName() const { return processName_; }
    int32_t parentProcessID() const { return parentProcessID_; }
    StartTime startTime() const { return startTime_; }
    bool isTraced() const { return traced_; }

  private:
    QCrashProcessInfo() = default;

    int32_t processID_ = 0;
    std::optional<std::string> processName_;
    int32_t parentProcessID_ = 0;
    StartTime startTime_{0, 0};
    bool traced_ = false;
};

}  // namespace tervolo::crash
