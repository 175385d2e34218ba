#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace platform {

// The handful of kernel facts the program reads by their BSD sysctl names,
// answered from Linux sources:
//   "hw.machine"         uname machine ("x86_64")
//   "hw.model"           /sys/class/dmi/id/product_name or /proc/device-tree/model, "" when unreadable
//   "kern.osrelease"     uname release
//   "kern.osversion"     uname version
//   "hw.cputype"         Mach CPU type of the host (x86-64: 16777223, arm64: 16777228)
//   "hw.cpusubtype"      Mach CPU subtype (x86-64: 3, arm64: 0)
//   "hw.physicalcpu_max" distinct (package, core) pairs in /sys/devices/system/cpu
//   "hw.logicalcpu_max"  sysconf(_SC_NPROCESSORS_CONF)
//   "sysctl.proc_native" 1 (no translation layer on Linux)
// A failed query answers nothing and leaves errno set (ENOENT for an unknown
// name, EINVAL when asking a string name for an integer or the reverse).
class Sysctl {
  public:
    static std::optional<std::string> string(const std::string& name);
    static std::optional<int64_t> integer(const std::string& name);

    // Test fakes: a value, or a failure with an errno, for one name.
    struct Failure {
        int errnoValue;
    };
    using Fake = std::variant<std::string, int64_t, Failure>;
    static void setFakeForTesting(const std::string& name, std::optional<Fake> fake);
    static void removeAllFakesForTesting();
};

}  // namespace platform
