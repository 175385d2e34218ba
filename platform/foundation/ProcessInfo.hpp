#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Facts about the running process and the machine.
class ProcessInfo {
  public:
    static ProcessInfo& processInfo();

    // The executable's short name (program_invocation_short_name, else
    // /proc/self/comm); may be empty.
    std::string processName() const;
    int processIdentifier() const;
    unsigned effectiveUserID() const;
    // A snapshot of the environment at the time of the call.
    std::map<std::string, std::string> environment() const;
    std::optional<std::string> environmentValue(const std::string& name) const;
    std::string hostName() const;  // gethostname, "" when unavailable

    // From /etc/os-release (NAME, VERSION_ID), falling back to uname's sysname
    // and release: e.g. "Debian GNU/Linux" and "12".
    std::string operatingSystemName() const;
    std::string operatingSystemVersionString() const;
    std::string kernelRelease() const;  // uname release, "6.1.0-18-amd64"
    std::string kernelVersion() const;  // uname version
    std::string machine() const;        // uname machine, "x86_64"
    int processorCount() const;         // platform::processorCount(): overridable in tests

    // gettid(): the kernel's id of the calling thread.
    static int64_t currentThreadID();
    // The calling thread's name, read once per thread (pthread_getname_np) and
    // kept in a thread-local cache that setCurrentThreadName() refreshes.
    static const std::string& currentThreadName();
    // Sets the kernel's name (cut to 15 bytes, its limit) and caches the full name.
    static void setCurrentThreadName(const std::string& name);

    // Test hook: where os-release is read from (nothing: /etc/os-release, then
    // /usr/lib/os-release).
    void setOSReleasePathForTesting(std::optional<std::string> path);

  private:
    ProcessInfo() = default;
    std::vector<std::string> osReleaseFiles() const;
    mutable std::mutex mutex_;
    std::optional<std::string> osReleasePath_;
};

}  // namespace platform
