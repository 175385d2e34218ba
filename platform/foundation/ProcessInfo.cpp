#include "platform/foundation/ProcessInfo.hpp"

#include "platform/dispatch/ThreadName.hpp"

#include <pthread.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "platform/dispatch/ProcessorCount.hpp"
#include "platform/dispatch/SharedInstance.hpp"

extern char** environ;

namespace platform {

namespace {

struct utsname unameOf() {
    struct utsname names {};
    ::uname(&names);
    return names;
}

// One value of an os-release file: KEY=value, KEY="value" or KEY='value'.
std::optional<std::string> osReleaseValue(const std::string& path, const std::string& key) {
    std::ifstream file(path);
    if (!file) return std::nullopt;
    std::string line;
    while (std::getline(file, line)) {
        if (line.rfind(key + "=", 0) != 0) continue;
        std::string value = line.substr(key.size() + 1);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        std::string unescaped;
        for (size_t i = 0; i < value.size(); ++i) {
            if (value[i] == '\\' && i + 1 < value.size()) ++i;
            unescaped.push_back(value[i]);
        }
        return unescaped;
    }
    return std::nullopt;
}

// Dispatch workers are renamed when they move to another queue; the rename
// count tells when the cached name went stale.
struct ThreadNameCache {
    bool loaded = false;
    uint64_t renameCount = 0;
    std::string name;
};

ThreadNameCache& threadNameCache() {
    thread_local ThreadNameCache cache;
    return cache;
}

}  // namespace

ProcessInfo& ProcessInfo::processInfo() {
    return SharedInstance<ProcessInfo>::get([] { return new ProcessInfo; });
}

std::string ProcessInfo::processName() const {
    if (program_invocation_short_name != nullptr && program_invocation_short_name[0] != '\0') {
        return program_invocation_short_name;
    }
    std::ifstream comm("/proc/self/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

int ProcessInfo::processIdentifier() const {
    return static_cast<int>(::getpid());
}

unsigned ProcessInfo::effectiveUserID() const {
    return static_cast<unsigned>(::geteuid());
}

std::map<std::string, std::string> ProcessInfo::environment() const {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string text(*entry);
        const auto equals = text.find('=');
        if (equals == std::string::npos) continue;
        variables.emplace(text.substr(0, equals), text.substr(equals + 1));
    }
    return variables;
}

std::optional<std::string> ProcessInfo::environmentValue(const std::string& name) const {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

std::string ProcessInfo::hostName() const {
    char buffer[256] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0) return {};
    return buffer;
}

std::vector<std::string> ProcessInfo::osReleaseFiles() const {
    std::lock_guard lock(mutex_);
    if (osReleasePath_) return {*osReleasePath_};
    return {"/etc/os-release", "/usr/lib/os-release"};
}

std::string ProcessInfo::operatingSystemName() const {
    for (const std::string& file : osReleaseFiles()) {
        if (auto name = osReleaseValue(file, "NAME")) return *name;
    }
    return unameOf().sysname;
}

std::string ProcessInfo::operatingSystemVersionString() const {
    for (const std::string& file : osReleaseFiles()) {
        if (auto version = osReleaseValue(file, "VERSION_ID")) return *version;
    }
    return unameOf().release;
}

std::string ProcessInfo::kernelRelease() const {
    return unameOf().release;
}

std::string ProcessInfo::kernelVersion() const {
    return unameOf().version;
}

std::string ProcessInfo::machine() const {
    return unameOf().machine;
}

int ProcessInfo::processorCount() const {
    return platform::processorCount();
}

int64_t ProcessInfo::currentThreadID() {
    return static_cast<int64_t>(::syscall(SYS_gettid));
}

const std::string& ProcessInfo::currentThreadName() {
    ThreadNameCache& cache = threadNameCache();
    const uint64_t renames = threadRenameCount();
    if (!cache.loaded || cache.renameCount != renames) {
        char buffer[64] = {};
        cache.name = ::pthread_getname_np(::pthread_self(), buffer, sizeof buffer) == 0 ? buffer : "";
        cache.loaded = true;
        cache.renameCount = renames;
    }
    return cache.name;
}

void ProcessInfo::setCurrentThreadName(const std::string& name) {
    // The kernel keeps at most 15 bytes; the cache keeps the full name.
    ::pthread_setname_np(::pthread_self(), name.substr(0, 15).c_str());
    ThreadNameCache& cache = threadNameCache();
    cache.name = name;
    cache.loaded = true;
    cache.renameCount = threadRenameCount();
}

void ProcessInfo::setOSReleasePathForTesting(std::optional<std::string> path) {
    std::lock_guard lock(mutex_);
    osReleasePath_ = std::move(path);
}

}  // namespace platform
