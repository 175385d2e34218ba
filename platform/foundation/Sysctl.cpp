#include "platform/foundation/Sysctl.hpp"
#include "platform/dispatch/SharedInstance.hpp"

#include <dirent.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <utility>

namespace platform {

namespace {

struct Fakes {
    std::mutex mutex;
    std::map<std::string, Sysctl::Fake> values;
};

Fakes& fakes() {
    return platform::SharedInstance<Fakes>::get();
}

std::optional<Sysctl::Fake> fakeFor(const std::string& name) {
    Fakes& all = fakes();
    std::lock_guard lock(all.mutex);
    auto found = all.values.find(name);
    if (found == all.values.end()) return std::nullopt;
    return found->second;
}

// The first line of a small text file, trailing NULs and newlines removed.
std::optional<std::string> firstLine(const std::string& path) {
    std::ifstream file(path);
    if (!file) return std::nullopt;
    std::string line;
    std::getline(file, line);
    while (!line.empty() && (line.back() == '\0' || line.back() == '\n' || line.back() == ' '))
        line.pop_back();
    return line;
}

std::string hardwareModel() {
    for (const char* path : {"/sys/class/dmi/id/product_name", "/proc/device-tree/model"}) {
        if (auto model = firstLine(path); model && !model->empty()) return *model;
    }
    return "";
}

// Mach constants: CPU_TYPE_X86_64 = CPU_TYPE_X86 | CPU_ARCH_ABI64, and so on.
std::optional<std::pair<int64_t, int64_t>> machCPUType(const std::string& machine) {
    if (machine == "x86_64") return std::make_pair(int64_t{16777223}, int64_t{3});
    if (machine == "aarch64" || machine == "arm64") return std::make_pair(int64_t{16777228}, int64_t{0});
    if (machine.size() == 4 && machine[0] == 'i' && machine.substr(2) == "86") {
        return std::make_pair(int64_t{7}, int64_t{3});
    }
    return std::nullopt;
}

int64_t logicalProcessors() {
    const long count = ::sysconf(_SC_NPROCESSORS_CONF);
    return count > 0 ? count : 1;
}

int64_t physicalCores() {
    std::set<std::pair<std::string, std::string>> cores;
    if (DIR* folder = ::opendir("/sys/devices/system/cpu")) {
        while (const dirent* entry = ::readdir(folder)) {
            const std::string name = entry->d_name;
            if (name.size() < 4 || name.compare(0, 3, "cpu") != 0 ||
                name.find_first_not_of("0123456789", 3) != std::string::npos) {
                continue;
            }
            const std::string topology = "/sys/devices/system/cpu/" + name + "/topology/";
            auto package = firstLine(topology + "physical_package_id");
            auto core = firstLine(topology + "core_id");
            if (package && core) cores.emplace(*package, *core);
        }
        ::closedir(folder);
    }
    return cores.empty() ? logicalProcessors() : static_cast<int64_t>(cores.size());
}

bool isStringName(const std::string& name) {
    return name == "hw.machine" || name == "hw.model" || name == "kern.osrelease" || name == "kern.osversion";
}

bool isIntegerName(const std::string& name) {
    return name == "hw.cputype" || name == "hw.cpusubtype" || name == "hw.physicalcpu_max" ||
           name == "hw.logicalcpu_max" || name == "sysctl.proc_native";
}

}  // namespace

std::optional<std::string> Sysctl::string(const std::string& name) {
    if (auto fake = fakeFor(name)) {
        if (auto* text = std::get_if<std::string>(&*fake)) return *text;
        errno = std::holds_alternative<Failure>(*fake) ? std::get<Failure>(*fake).errnoValue : EINVAL;
        return std::nullopt;
    }
    if (!isStringName(name)) {
        errno = isIntegerName(name) ? EINVAL : ENOENT;
        return std::nullopt;
    }
    if (name == "hw.model") return hardwareModel();
    struct utsname names {};
    if (::uname(&names) != 0) return std::nullopt;
    if (name == "hw.machine") return std::string(names.machine);
    if (name == "kern.osrelease") return std::string(names.release);
    return std::string(names.version);
}

std::optional<int64_t> Sysctl::integer(const std::string& name) {
    if (auto fake = fakeFor(name)) {
        if (auto* number = std::get_if<int64_t>(&*fake)) return *number;
        errno = std::holds_alternative<Failure>(*fake) ? std::get<Failure>(*fake).errnoValue : EINVAL;
        return std::nullopt;
    }
    if (!isIntegerName(name)) {
        errno = isStringName(name) ? EINVAL : ENOENT;
        return std::nullopt;
    }
    if (name == "hw.logicalcpu_max") return logicalProcessors();
    if (name == "hw.physicalcpu_max") return physicalCores();
    if (name == "sysctl.proc_native") return 1;
    struct utsname names {};
    if (::uname(&names) != 0) return std::nullopt;
    auto type = machCPUType(names.machine);
    if (!type) {
        errno = ENOENT;
        return std::nullopt;
    }
    return name == "hw.cputype" ? type->first : type->second;
}

void Sysctl::setFakeForTesting(const std::string& name, std::optional<Fake> fake) {
    Fakes& all = fakes();
    std::lock_guard lock(all.mutex);
    if (fake) {
        all.values[name] = std::move(*fake);
    } else {
        all.values.erase(name);
    }
}

void Sysctl::removeAllFakesForTesting() {
    Fakes& all = fakes();
    std::lock_guard lock(all.mutex);
    all.values.clear();
}

}  // namespace platform
